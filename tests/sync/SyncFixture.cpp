#include "SyncFixture.h"

#include "sync/FsOps.h"
#include "sync/SyncPlan.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::test {

namespace {

void fingerprint(const QByteArray& root, const QByteArray& rel, QCryptographicHash& h)
{
    const QByteArray path = rel.isEmpty() ? root : root + '/' + rel;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        h.addData("missing:" + rel);
        return;
    }
    h.addData(rel + '\0');
    h.addData(QByteArray::number(uint(st.st_mode)) + ' ' + QByteArray::number(qlonglong(st.st_size)) + ' '
              + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.'
              + QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + '\n');
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
        h.addData(QByteArray(buf, n > 0 ? int(n) : 0));
    } else if (S_ISREG(st.st_mode)) {
        QFile f(QFile::decodeName(path));
        if (f.open(QIODevice::ReadOnly))
            h.addData(&f);
    } else if (S_ISDIR(st.st_mode)) {
        std::vector<QByteArray> names;
        if (DIR* d = ::opendir(path.constData())) {
            while (dirent* e = ::readdir(d)) {
                const QByteArray n(e->d_name);
                if (n != "." && n != "..")
                    names.push_back(n);
            }
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const QByteArray& n : names)
            fingerprint(root, rel.isEmpty() ? n : rel + '/' + n, h);
    }
}

} // namespace

QByteArray TreeFingerprint(const QString& root)
{
    QCryptographicHash h(QCryptographicHash::Sha256);
    fingerprint(QFile::encodeName(root), QByteArray(), h);
    return h.result();
}

QStringList LogLines(const QString& logFile)
{
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\xFF\xFE")) << "log without byte-order mark";
    QStringDecoder dec(QStringConverter::Utf16LE);
    QString text = dec.decode(bytes.mid(2));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& l : lines) {
        EXPECT_EQ(l.mid(17, 3), QStringLiteral(" : ")) << l.toStdString();
        l = l.mid(20);
    }
    return lines;
}

QDateTime At(int day, int hour, int minute)
{
    return QDateTime(QDate(2021, 3, day), QTime(hour, minute, 0));
}

bool OwnerWritable(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & S_IWUSR);
}

PathAt::PathAt(const QString& path)
{
    QByteArray last;
    dir = openParentOf(nameBytes(path), last);
    at = {dir.get(), last, path};
}

bool Exists(const QString& path)
{
    struct stat st {};
    return ::lstat(nameBytes(path).constData(), &st) == 0;
}

void SyncFixture::SetUp()
{
    ASSERT_TRUE(tmp.isValid());
    f1 = tmp.path() + QStringLiteral("/site");
    f2 = tmp.path() + QStringLiteral("/mirror");
    bk = tmp.path() + QStringLiteral("/hist");
    makeDir(f1);
    makeDir(f2);
    makeDir(bk);
    const QString xdg = tmp.path() + QStringLiteral("/xdg");
    makeDir(xdg);
    qputenv("XDG_DATA_HOME", QFile::encodeName(xdg));
    trashDir = xdg + QStringLiteral("/Trash");
    session.progress = &progress;
    // As a comparison would: the run acts only on these two folders.
    ASSERT_TRUE(SetRoots(session, f1, f2));
}

void SyncFixture::TearDown()
{
    if (m_frozen) {
        EXPECT_EQ(TreeFingerprint(f1), m_sourcePrint) << "folder 1 was changed";
    }
    m_log.reset();
    // Byte names and read-only folders left by a test must not stop the clean-up.
    const fsops::FsResult cleaned = fsops::RemoveItem(PathAt(tmp.path()));
    EXPECT_TRUE(cleaned.ok()) << cleaned.error.toStdString();
}

void SyncFixture::src(const QString& rel, const QByteArray& content, const QDateTime& t)
{
    writeFile(p1(rel), content);
    setMTime(p1(rel), t);
}

void SyncFixture::dst(const QString& rel, const QByteArray& content, const QDateTime& t)
{
    writeFile(p2(rel), content);
    setMTime(p2(rel), t);
}

void SyncFixture::freezeSource()
{
    if (m_frozen)
        return;
    m_sourcePrint = TreeFingerprint(f1);
    m_frozen = true;
}

SyncCtx SyncFixture::ctx(bool withLog, bool backup, bool trash)
{
    freezeSource();
    SyncCtx c;
    c.sFld1 = f1;
    c.sFld2 = f2;
    c.yRt[kSwLog] = withLog ? 1 : 0;
    c.yRt[kSwBackup] = backup ? 1 : 0;
    c.yRt[kSwTrash] = trash ? 1 : 0;
    if (backup)
        c.sBkFld = PickBackupFolder(bk);
    m_log.reset();
    if (withLog) {
        m_log = std::make_unique<zLog>();
        m_log->lgOn(bk);
        c.log = m_log.get();
    }
    log = m_log.get();
    return c;
}

QStringList SyncFixture::logged() const
{
    return m_log ? LogLines(m_log->fileName()) : QStringList();
}

void SyncFixture::folderRow(const QString& path, const QString& status, const QString& flag)
{
    ResultRow r;
    r.no = session.vSpr.rowCount() + 1;
    r.path = path;
    r.flag = flag;
    r.status = status;
    session.vSpr.rows().push_back(r);
}

void SyncFixture::fileRow(const QString& path, const QString& name, const QString& ext, const QString& status,
                          const QString& flag)
{
    ResultRow r;
    r.no = session.vSpr.rowCount() + 1;
    r.path = path;
    r.name = name;
    r.ext = ext;
    r.flag = flag;
    r.status = status;
    // The size the comparison would show: what lets a run write the copy ahead.
    struct stat st {};
    const QString rel = path.isEmpty() ? r.fileName() : path + QLatin1Char('/') + r.fileName();
    if (::lstat(QFile::encodeName(p1(rel)).constData(), &st) == 0 && S_ISREG(st.st_mode))
        r.s1 = st.st_size;
    session.vSpr.rows().push_back(r);
}

void SyncFixture::options(bool withLog, bool backup, bool trash)
{
    session.panel.chRet[kSwLog] = withLog;
    session.panel.chRet[kSwBackup] = backup;
    session.panel.chRet[kSwTrash] = trash;
    session.panel.txFold = bk;
}

SyncReport SyncFixture::run()
{
    freezeSource();
    return SyncRun(session);
}

} // namespace velmor::test
