#include "compare/FsList.h"

#include "tree/DirList.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace velmor {

namespace {

[[noreturn]] void raise(const QString& path, int err)
{
    throw FsError(path.toStdString() + ": " + std::strerror(err));
}

bool wanted(FsKind kind, mode_t m)
{
    if (kind == FsKind::Folders)
        return S_ISDIR(m);
    return S_ISREG(m) || S_ISLNK(m);
}

// Skips the lstat of entries whose type the listing already rules out.
bool mayWant(FsKind kind, unsigned char type)
{
    switch (type) {
    case DT_UNKNOWN: return true;
    case DT_DIR: return kind == FsKind::Folders;
    case DT_REG:
    case DT_LNK: return kind == FsKind::Files;
    default: return false;
    }
}

bool isAscii(const char* n)
{
    for (; *n; ++n)
        if (static_cast<unsigned char>(*n) >= 0x80)
            return false;
    return true;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

} // namespace

bool FsEntry::isDir() const { return S_ISDIR(mode); }

std::vector<FsEntry> FsList(const QString& folder, FsKind kind, int* undecodable)
{
    const QByteArray path = QFile::encodeName(folder);
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.constData()));
    if (!dir)
        raise(folder, errno);
    const int fd = dirfd(dir.get());
    std::vector<FsEntry> out;
    if (undecodable)
        *undecodable = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir.get());
        if (!e) {
            if (errno != 0)
                raise(folder, errno);
            break;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (!mayWant(kind, e->d_type))
            continue;
        struct stat st;
        if (fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;  // vanished since the listing: it is not there
            raise(folder + QLatin1Char('/') + QFile::decodeName(n), errno);
        }
        if (!wanted(kind, st.st_mode))
            continue;
        QString name = QFile::decodeName(n);
        if (!isAscii(n) && QFile::encodeName(name) != QByteArrayView(n)) {
            if (undecodable)
                ++*undecodable;
            continue;
        }
        out.push_back({std::move(name), static_cast<long long>(st.st_size),
                       static_cast<long long>(st.st_mtim.tv_sec), st.st_mode});
    }
    std::sort(out.begin(), out.end(),
              [](const FsEntry& a, const FsEntry& b) { return dirlist::nameLess(a.name, b.name); });
    return out;
}

FsEntry FsStat(const QString& path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        raise(path, errno);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return {path.mid(slash + 1), static_cast<long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec), st.st_mode};
}

bool FsIsDir(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && lstat(QFile::encodeName(path).constData(), &st) == 0
           && S_ISDIR(st.st_mode);
}

QString DateText(long long secs)
{
    // Files written together share their minute: the last text is reused
    // (and shared, since QString is implicitly shared).
    thread_local long long lastMinute = LLONG_MIN;
    thread_local QString lastText;
    const long long minute = secs >= 0 ? secs / 60 : -((-secs + 59) / 60);
    if (minute == lastMinute)
        return lastText;
    const time_t t = static_cast<time_t>(secs);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return QString();
    const int parts[5] = {(tm.tm_year + 1900) % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
    const char seps[5] = {'/', '/', ' ', ':', 0};
    QChar buf[14];
    for (int i = 0; i < 5; ++i) {
        buf[i * 3] = QLatin1Char(char('0' + parts[i] / 10));
        buf[i * 3 + 1] = QLatin1Char(char('0' + parts[i] % 10));
        if (i < 4)
            buf[i * 3 + 2] = QLatin1Char(seps[i]);
    }
    lastMinute = minute;
    lastText = QString(buf, 14);
    return lastText;
}

QString AttrText(const QString& name, mode_t mode)
{
    static const QString texts[4] = {QStringLiteral("***"), QStringLiteral("R**"),
                                     QStringLiteral("*H*"), QStringLiteral("RH*")};
    const int r = (mode & S_IWUSR) ? 0 : 1;
    const int h = name.startsWith(QLatin1Char('.')) ? 2 : 0;
    return texts[r | h];
}

} // namespace velmor
