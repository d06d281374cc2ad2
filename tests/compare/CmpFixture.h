#pragma once
// A comparison set-up on real temporary folders: src and dst trees, a user
// data folder holding the work database, both tree models and a session.
#include "common/TestSupport.h"
#include "compare/Compare.h"
#include "compare/Session.h"
#include "env/FsDir.h"
#include "env/Progress.h"
#include "env/Usr.h"
#include "tree/FolderTree.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <ostream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Texts in failure messages as text, not as code units.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace velmor::test {

// Items made by their bytes below an open folder, for names that are not
// valid UTF-8 and paths longer than the kernel takes in one call (QFile
// can do neither). Each throws when the item cannot be made.
inline UniqueFd rawMkdirAt(int dirFd, const QByteArray& name)
{
    if (::mkdirat(dirFd, name.constData(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create folder " + name.toStdString());
    UniqueFd fd(::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        throw std::runtime_error("cannot open folder " + name.toStdString());
    return fd;
}
inline void rawFileAt(int dirFd, const QByteArray& name, const QByteArray& bytes,
                      const QDateTime& t = QDateTime(QDate(2009, 12, 21), QTime(17, 5, 30)))
{
    UniqueFd fd(::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid() || ::write(fd.get(), bytes.constData(), bytes.size()) != bytes.size())
        throw std::runtime_error("cannot write " + name.toStdString());
    struct timespec ts[2];
    ts[0].tv_sec = ts[1].tv_sec = t.toSecsSinceEpoch();
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    if (::futimens(fd.get(), ts) != 0)
        throw std::runtime_error("cannot set time of " + name.toStdString());
}
inline UniqueFd rawOpen(const QString& folder)
{
    UniqueFd fd = openDirPath(nameBytes(folder), true);
    if (!fd.valid())
        throw std::runtime_error("cannot open " + folder.toStdString());
    return fd;
}

// A progress that asks a predicate at every yield whether the stop button
// is pressed now (tests stop a run inside a chosen phase with it).
class StopWhen : public Progress {
public:
    void cMsg(const QString& sMsg, bool) override
    {
        msg = sMsg;
        run = true;
    }
    void cEnd() override { run = false; }
    bool yield() override
    {
        ++yields;
        if (run && stop && stop())
            run = false;
        return run;
    }
    bool bRun() const override { return run; }

    std::function<bool()> stop;
    QString msg;
    bool run = false;
    long long yields = 0;
};

class CmpFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + QStringLiteral("/src");
        dst = tmp.path() + QStringLiteral("/dst");
        data = tmp.path() + QStringLiteral("/data");
        makeDir(src);
        makeDir(dst);
        makeDir(data);
        Usr::sUsrDt = data + QLatin1Char('/');
        s.progress = &pg;
        s.tree1 = &t1;
        s.tree2 = &t2;
    }

    // QTemporaryDir cannot remove names that are not valid UTF-8 nor paths
    // longer than the kernel takes in one call: the trees go first.
    void TearDown() override
    {
        for (const QString& root : {src, dst})
            rawClear(root);
    }

    // A file with content and a time (default: a fixed time).
    void file(const QString& path, const QByteArray& bytes = "x",
              const QDateTime& t = QDateTime(QDate(2009, 12, 21), QTime(17, 5, 30)))
    {
        writeFile(path, bytes);
        setMTime(path, t);
    }

    // Loads both trees; tickAll ticks the root and every folder.
    void load(bool tickAll = true)
    {
        t1.setChkBx(true);
        t1.setRoot(src);
        t1.ExpndALL(2, true);
        if (tickAll)
            tick(QString(), true);
        t2.setRoot(dst);
    }

    // Ticks or unticks a folder of src (relative, "" = root) and all below it.
    void tick(const QString& rel, bool on)
    {
        const QString full = rel.isEmpty() ? src : src + QLatin1Char('/') + rel;
        t1.setPath(full);
        ASSERT_EQ(t1.Path(), full);
        t1.SetChkBx(on);
    }

    CmpOutcome run() { return CmpRun(s); }

    // tbFold: sPh -> sED; tbFile: "sPh|sFL" -> sED.
    std::map<QString, QString> folds()
    {
        std::map<QString, QString> m;
        s.oDb.forEachRow(QStringLiteral("Select sPh, sED From tbFold"), {}, [&](const SqlStmt& q) {
            m[q.text(0)] = q.text(1);
            return true;
        });
        return m;
    }
    std::map<QString, QString> files()
    {
        std::map<QString, QString> m;
        s.oDb.forEachRow(QStringLiteral("Select sPh, sFL, sED From tbFile"), {}, [&](const SqlStmt& q) {
            m[q.text(0) + QLatin1Char('|') + q.text(1)] = q.text(2);
            return true;
        });
        return m;
    }
    long long count(const QString& table)
    {
        QVariantList v(1);
        s.oDb.R_PAry(QStringLiteral("Select Count(*) From ") + table, v);
        return v[0].toLongLong();
    }

    // The grid row for a folder (name empty) or a file, or null.
    const ResultRow* row(const QString& path, const QString& name = QString(), const QString& ext = QString())
    {
        for (const ResultRow& r : s.vSpr.rows())
            if (r.path == path && r.name == name && r.ext == ext)
                return &r;
        return nullptr;
    }
    QString gridStatus(const QString& path, const QString& name = QString(), const QString& ext = QString())
    {
        const ResultRow* r = row(path, name, ext);
        return r ? r->status.toString() : QStringLiteral("<absent>");
    }

    QTemporaryDir tmp;
    QString src, dst, data;
    ScopedPrompt prompt;
    FolderTree t1, t2;
    HeadlessProgress pg;
    Session s;
};

} // namespace velmor::test
