// What a run must never do, whatever happens to the folders meanwhile:
// follow a link out of a root, act on another name than the row's, write
// logs and backups into a root, delete its own trash or history, lose the
// file it overwrites, copy a mixture of two versions, leave its temporary
// files behind, or call a partial run clean.
#include "EndToEndFixture.h"

#include "env/FsDir.h"
#include "sync/FsOps.h"
#include "sync/SyncPlan.h"

#include <atomic>
#include <QDir>
#include <functional>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor::test {
namespace {

const QString& kAdd = St::Add;
const QString& kOver = St::Over;
const QString& kDel = St::Del;
const QString& kEmpty = St::Kara;
const QString& kErr = kErrSuffix;

// The files below dir, "rel=content" each, sorted (links shown as "->target").
QStringList contents(const QString& dir)
{
    QStringList out;
    QDir d(dir);
    for (const QFileInfo& fi : d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                               QDir::Name)) {
        if (fi.isSymLink())
            out << fi.fileName() + QStringLiteral("->") + fi.symLinkTarget();
        else if (fi.isDir())
            for (const QString& s : contents(fi.filePath()))
                out << fi.fileName() + QLatin1Char('/') + s;
        else
            out << fi.fileName() + QLatin1Char('=') + QString::fromUtf8(readFile(fi.filePath()));
    }
    return out;
}

// Allocated bytes of a file.
long long allocated(const QString& path)
{
    struct stat st {};
    ::stat(nameBytes(path).constData(), &st);
    return static_cast<long long>(st.st_blocks) * 512;
}

class SafetyTest : public EndToEndTest {
protected:
    void TearDown() override
    {
        setFsHook({});
        EndToEndTest::TearDown();
    }
    // A folder outside both roots with one file, to swap in behind a link.
    QString outside(const QString& name, const QByteArray& content)
    {
        const QString dir = tmp.path() + QStringLiteral("/outside-") + name;
        writeFile(dir + QStringLiteral("/a.txt"), content);
        writeFile(dir + QStringLiteral("/gone.txt"), content);
        return dir;
    }
    // Replaces the folder at path by a link to target; the folder is kept
    // aside and put back by restore().
    void swapForLink(const QString& path, const QString& target)
    {
        const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
        struct stat st {};
        ::stat(nameBytes(parent).constData(), &st);
        m_parentTimes.push_back({parent, st.st_mtim});
        ASSERT_EQ(::rename(nameBytes(path).constData(), nameBytes(path + QStringLiteral(".real")).constData()), 0);
        ASSERT_TRUE(QFile::link(target, path));
        m_swapped << path;
    }
    void restore()
    {
        for (const QString& p : std::as_const(m_swapped)) {
            QFile::remove(p);
            ::rename(nameBytes(p + QStringLiteral(".real")).constData(), nameBytes(p).constData());
        }
        m_swapped.clear();
        // The folders hold what they held; their times say so again.
        for (const auto& [dir, t] : m_parentTimes) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, t};
            ::utimensat(AT_FDCWD, nameBytes(dir).constData(), times, 0);
        }
        m_parentTimes.clear();
    }

    QStringList m_swapped;
    std::vector<std::pair<QString, struct timespec>> m_parentTimes;
};

TEST_F(SafetyTest, AFolderSwappedForALinkAfterTheComparisonIsNeverFollowed)
{
    src(QStringLiteral("d/a.txt"), "new", At(9));
    dst(QStringLiteral("d/a.txt"), "old", At(1));
    dst(QStringLiteral("d/gone.txt"), "old");
    src(QStringLiteral("s/a.txt"), "new", At(9));
    dst(QStringLiteral("s/a.txt"), "old", At(1));
    session.panel.chRet[1] = true;
    tick({QString()});
    compare();
    ASSERT_EQ(session.vSpr.rowCount(), 3);

    // Folder 2's d and folder 1's s now lead outside the roots.
    const QString out2 = outside(QStringLiteral("2"), "outside 2");
    const QString out1 = outside(QStringLiteral("1"), "outside 1");
    swapForLink(p2(QStringLiteral("d")), out2);
    swapForLink(p1(QStringLiteral("s")), out1);
    const SyncReport rep = SyncRun(session);
    restore();

    EXPECT_EQ(rep.failed, 3);
    for (const ResultRow& r : session.vSpr.rows())
        EXPECT_TRUE(r.result.toString().endsWith(kErr)) << r.path.toStdString() << " " << r.result;
    EXPECT_EQ(contents(out2), (QStringList{QStringLiteral("a.txt=outside 2"), QStringLiteral("gone.txt=outside 2")}));
    EXPECT_EQ(readFile(p2(QStringLiteral("d/a.txt"))), QByteArray("old"));
    EXPECT_EQ(readFile(p2(QStringLiteral("s/a.txt"))), QByteArray("old"));  // nothing of outside 1 came in
}

TEST_F(SafetyTest, ASwapBetweenTheChecksAndTheActStaysInsideTheRoots)
{
    // Inside one row: the hook runs once the row's folders are resolved.
    src(QStringLiteral("new/inner/x.txt"), "x");
    dst(QStringLiteral("old/inner/y.txt"), "y");
    const QString out1 = outside(QStringLiteral("1"), "secret");
    const QString out2 = outside(QStringLiteral("2"), "keep me");
    const SyncCtx x = ctx(false, false, false);

    setFsHook([&](const char* point) {
        if (std::strcmp(point, "folder:resolved") == 0 && m_swapped.isEmpty()) {
            swapForLink(p1(QStringLiteral("new/inner")), out1);
            swapForLink(p2(QStringLiteral("old/inner")), out2);
        }
    });
    EXPECT_EQ(SyncFld(x, QStringLiteral("new"), kAdd), kAdd);
    // The link is copied as a link: nothing behind it was read.
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("new/inner"))).isSymLink());
    EXPECT_FALSE(Exists(p2(QStringLiteral("new/inner.real/a.txt"))));
    EXPECT_EQ(SyncFld(x, QStringLiteral("old"), kDel), kDel);
    setFsHook({});
    EXPECT_EQ(contents(out2), (QStringList{QStringLiteral("a.txt=keep me"), QStringLiteral("gone.txt=keep me")}));
    EXPECT_FALSE(Exists(p2(QStringLiteral("old"))));
    restore();  // folder 1 as it was, for the fixture's check
}

TEST_F(SafetyTest, EveryRowResolvesItsFolderAnew)
{
    // A folder swapped between two rows of the same folder: the later row
    // must not go on in the folder that was moved away (it may be anywhere now).
    for (const char* f : {"d/a.txt", "d/b.txt"}) {
        src(QLatin1String(f), "new", At(9));
        dst(QLatin1String(f), "old", At(1));
    }
    const QString out2 = outside(QStringLiteral("2"), "keep me");
    const SyncCtx x = ctx(false, false, false);
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "file:resolved") == 0 && m_swapped.isEmpty())
            swapForLink(p2(QStringLiteral("d")), out2);
    });
    EXPECT_EQ(SyncFile(x, QStringLiteral("d/a.txt"), kOver), kOver);  // resolved before the swap
    EXPECT_EQ(SyncFile(x, QStringLiteral("d/b.txt"), kOver), kOver + kErr);
    setFsHook({});
    EXPECT_EQ(readFile(p2(QStringLiteral("d.real/b.txt"))), QByteArray("old"));
    EXPECT_EQ(contents(out2), (QStringList{QStringLiteral("a.txt=keep me"), QStringLiteral("gone.txt=keep me")}));
}

TEST_F(SafetyTest, ANameEndingInADotIsActedOnByItsExactName)
{
    src(QStringLiteral("w/data."), "new data-dot", At(9));
    dst(QStringLiteral("w/data."), "old data-dot", At(1));
    src(QStringLiteral("w/data"), "plain", At(3));
    dst(QStringLiteral("w/data"), "plain", At(3));
    src(QStringLiteral("w/new."), "new");
    dst(QStringLiteral("w/old."), "old");
    session.panel.chRet[1] = true;
    tick({QString()});
    const QStringList rows = compare();
    EXPECT_TRUE(rows.contains(QStringLiteral("w|data|上書|1"))) << rows.join(u'\n').toStdString();
    EXPECT_TRUE(rows.contains(QStringLiteral("w|data|同一|0")));

    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(contents(p2(QStringLiteral("w"))), (QStringList{QStringLiteral("data=plain"), QStringLiteral("data.=new data-dot"),
                                                             QStringLiteral("new.=new")}));
    compare();
    for (const ResultRow& r : session.vSpr.rows())
        EXPECT_EQ(r.status, QStringLiteral("同一")) << r.fileName().toStdString();
}

TEST_F(SafetyTest, HistoryFolderInFolder1IsRefusedAndInFolder2LeftAlone)
{
    src(QStringLiteral("a/f.txt"), "f", At(9));
    dst(QStringLiteral("a/f.txt"), "old", At(1));
    makeDir(p1(QStringLiteral("hist")));
    tick({QString()});
    options(true, true, false);
    session.panel.txFold = p1(QStringLiteral("hist"));
    compare();
    const SyncReport refused = SyncRun(session);
    EXPECT_EQ(refused.outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages.last(), SyncMsg::HistoryInRoot);
    EXPECT_EQ(readFile(p2(QStringLiteral("a/f.txt"))), QByteArray("old"));
    EXPECT_TRUE(contents(p1(QStringLiteral("hist"))).isEmpty());

    // Inside folder 2, below a folder that folder 1 lacks, with delete on:
    // the history takes no part, and its folder is not deleted with it.
    writeFile(p2(QStringLiteral("keep/hist/Log/2001-01-01.log")), "old log");
    writeFile(p2(QStringLiteral("keep/other/x.txt")), "x");
    session.panel.txFold = p2(QStringLiteral("keep/hist"));
    session.panel.chRet[1] = true;
    const QStringList rows = compare();
    for (const QString& r : rows)
        EXPECT_FALSE(r.startsWith(QStringLiteral("keep/hist"))) << r.toStdString();
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(readFile(p2(QStringLiteral("keep/hist/Log/2001-01-01.log"))), QByteArray("old log"));
    EXPECT_TRUE(rep.logFile.startsWith(p2(QStringLiteral("keep/hist/Log/"))));
    EXPECT_FALSE(Exists(p2(QStringLiteral("keep/other"))));  // saved to the backup, as asked
    EXPECT_EQ(readFile(rep.sBkFld + QStringLiteral("mirror/keep/other/x.txt")), QByteArray("x"));
    EXPECT_EQ(readFile(p2(QStringLiteral("a/f.txt"))), QByteArray("f"));
}

TEST_F(SafetyTest, TheTrashAtAMountRootDestinationIsNeverDeleted)
{
    if (::mount("velmor-test", nameBytes(f2).constData(), "tmpfs", 0, "size=16m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "); the volume trash is not tested";
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(nameBytes(path).constData(), MNT_DETACH); }
    } unmount{f2};

    dst(QStringLiteral("a/old.txt"), "old");
    dst(QStringLiteral("gone/x.txt"), "x");
    src(QStringLiteral("a/new.txt"), "new");
    session.panel.chRet[1] = true;
    options(false, false, true);
    tick({QString()});
    compare();
    const SyncReport first = SyncRun(session);
    EXPECT_EQ(first.failed, 0);
    const QString trash = f2 + QStringLiteral("/.Trash-") + QString::number(::getuid());
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/old.txt")), QByteArray("old"));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/gone/x.txt")), QByteArray("x"));

    // The next run with delete on leaves the trash alone.
    const QStringList rows = compare();
    for (const QString& r : rows)
        EXPECT_FALSE(r.startsWith(QStringLiteral(".Trash"))) << r.toStdString();
    SyncRun(session);
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/old.txt")), QByteArray("old"));
}

TEST_F(SafetyTest, NestedFoldersSentToTheTrashAllSucceed)
{
    dst(QStringLiteral("n/a/b/c.txt"), "c");
    const SyncCtx x = ctx(true, false, true);
    // The grid lists a folder before its subfolders: they go with it.
    for (const char* rel : {"n", "n/a", "n/a/b"})
        EXPECT_EQ(SyncFld(x, QLatin1String(rel), kDel), kDel) << rel;
    EXPECT_EQ(readFile(trashed(QStringLiteral("n/a/b/c.txt"))), QByteArray("c"));
    EXPECT_EQ(logged().size(), 3);
}

TEST_F(SafetyTest, EmptyingAContainerDeletesAsAFileDeletionWould)
{
    for (const char* f : {"box/a.txt", "box/.hidden", "box/run.cgi", "box/ro.txt", "box/sub/b.txt"})
        dst(QLatin1String(f), "content");
    ASSERT_TRUE(QFile(p2(QStringLiteral("box/ro.txt"))).setPermissions(QFile::ReadOwner));
    for (int backup = 0; backup < 2; ++backup) {
        SCOPED_TRACE(backup ? "backup" : "trash");
        SyncCtx x = ctx(true, backup == 1, backup == 0);
        x.yRt[5] = 1;  // read-only items are protected
        x.ptn.vHogo = QStringList{QStringLiteral("*.cgi")};
        EXPECT_EQ(SyncFld(x, QStringLiteral("box"), kEmpty), kEmpty);
        EXPECT_EQ(contents(p2(QStringLiteral("box"))), (QStringList{QStringLiteral("ro.txt=content"),
                                                                   QStringLiteral("run.cgi=content"),
                                                                   QStringLiteral("sub/b.txt=content")}));
        EXPECT_EQ(logged(), QStringList{logtx::filesDeleted(p2(QStringLiteral("box")))});
        if (backup) {
            EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("box/a.txt"))), QByteArray("content"));
            EXPECT_EQ(readFile(x.backupTarget(QStringLiteral("box/.hidden"))), QByteArray("content"));
        } else {
            EXPECT_EQ(readFile(trashed(QStringLiteral("a.txt"))), QByteArray("content"));
            EXPECT_EQ(readFile(trashed(QStringLiteral(".hidden"))), QByteArray("content"));
            dst(QStringLiteral("box/a.txt"), "content");
            dst(QStringLiteral("box/.hidden"), "content");
        }
    }
}

TEST_F(SafetyTest, AnOverwriteWithBackupKilledAtAnyStepLeavesTheOldOrTheNewFile)
{
    for (const char* point : {"replace:new-written", "replace:old-kept", "replace:done"}) {
        SCOPED_TRACE(point);
        src(QStringLiteral("d/a.txt"), "the new version", At(9));
        dst(QStringLiteral("d/a.txt"), "the old version", At(1));
        const SyncCtx x = ctx(false, true, false);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setFsHook([point](const char* at) {
                if (std::strcmp(at, point) == 0)
                    ::_exit(9);  // killed between two steps
            });
            SyncFile(x, QStringLiteral("d/a.txt"), kOver);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
        const QByteArray now = readFile(p2(QStringLiteral("d/a.txt")));
        EXPECT_TRUE(now == "the old version" || now == "the new version") << now.toStdString();

        // The next run that writes there clears what the killed one left.
        SyncCtx next = ctx(false, false, false);
        next.tmpLeft.insert(QStringLiteral("d"));
        EXPECT_EQ(SyncFile(next, QStringLiteral("d/a.txt"), kOver), kOver);
        EXPECT_EQ(contents(p2(QStringLiteral("d"))), QStringList{QStringLiteral("a.txt=the new version")});
    }
}

TEST_F(SafetyTest, SparseFilesStaySparse)
{
    constexpr off_t kSize = off_t(1) << 30;
    const QByteArray path = nameBytes(p1(QStringLiteral("s/big.img")));
    makeDir(p1(QStringLiteral("s")));
    makeDir(p2(QStringLiteral("s")));
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray mb(1 << 20, 'd');
        ASSERT_EQ(::pwrite(fd, mb.constData(), size_t(mb.size()), kSize / 2), mb.size());
        ASSERT_EQ(::ftruncate(fd, kSize), 0);
        ::close(fd);
    }
    if (allocated(p1(QStringLiteral("s/big.img"))) > (16 << 20))
        GTEST_SKIP() << "this file system does not keep holes";
    // A context of its own: the fixture's fingerprint of folder 1 would read the whole gigabyte.
    SyncCtx x;
    x.sFld1 = f1;
    x.sFld2 = f2;
    EXPECT_EQ(SyncFile(x, QStringLiteral("s/big.img"), kAdd), kAdd);
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("s/big.img"))).size(), kSize);
    EXPECT_LT(allocated(p2(QStringLiteral("s/big.img"))), 16 << 20);
    const int fd = ::open(nameBytes(p2(QStringLiteral("s/big.img"))).constData(), O_RDONLY);
    char c = 0;
    EXPECT_EQ(::pread(fd, &c, 1, kSize / 2 + 100), 1);
    EXPECT_EQ(c, 'd');
    ::close(fd);
}

TEST_F(SafetyTest, WhatARunLeavesOutIsNamedAndTheRunIsNotClean)
{
    src(QStringLiteral("p/a.txt"), "a");
    makeDir(p2(QStringLiteral("p")));
    ASSERT_EQ(::mkfifo(nameBytes(p1(QStringLiteral("p/pipe"))).constData(), 0644), 0);
    src(QStringLiteral("n/sub/pipe-folder/b.txt"), "b");
    ASSERT_EQ(::mkfifo(nameBytes(p1(QStringLiteral("n/sub/pipe-folder/pipe"))).constData(), 0600), 0);
    ASSERT_EQ(::chmod(nameBytes(p1(QStringLiteral("n/sub/pipe-folder"))).constData(), 0750), 0);
    tick({QString()});
    compare();
    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    // The rest is done: the file beside each pipe, the folder with its mode.
    EXPECT_EQ(readFile(p2(QStringLiteral("p/a.txt"))), QByteArray("a"));
    EXPECT_EQ(readFile(p2(QStringLiteral("n/sub/pipe-folder/b.txt"))), QByteArray("b"));
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("n/sub/pipe-folder"))).permissions(),
              QFileInfo(p1(QStringLiteral("n/sub/pipe-folder"))).permissions());
    EXPECT_FALSE(Exists(p2(QStringLiteral("p/pipe"))));
    ASSERT_EQ(rep.leftOut.size(), 2) << rep.leftOut.join(u'\n').toStdString();
    EXPECT_TRUE(rep.leftOut[0].contains(p1(QStringLiteral("p/pipe"))));
    EXPECT_TRUE(rep.leftOut[1].contains(p1(QStringLiteral("n/sub/pipe-folder/pipe"))));
    EXPECT_TRUE(prompt->messages.last().startsWith(SyncMsg::LeftOut));
}

TEST_F(SafetyTest, AFolderSwappedForALinkInsideTheSameRootIsNotWrittenThrough)
{
    // The beneath rule alone would let a link to a sibling folder pass.
    src(QStringLiteral("d/a.txt"), "new", At(9));
    dst(QStringLiteral("d/a.txt"), "old", At(1));
    dst(QStringLiteral("d/gone.txt"), "old");
    dst(QStringLiteral("e/keep.txt"), "sibling");
    src(QStringLiteral("e/keep.txt"), "sibling");
    session.panel.chRet[1] = true;
    tick({QString()});
    compare();
    swapForLink(p2(QStringLiteral("d")), p2(QStringLiteral("e")));
    const SyncReport rep = SyncRun(session);
    restore();
    EXPECT_EQ(rep.failed, 2);
    EXPECT_EQ(contents(p2(QStringLiteral("e"))), QStringList{QStringLiteral("keep.txt=sibling")});
    EXPECT_EQ(readFile(p2(QStringLiteral("d/a.txt"))), QByteArray("old"));
}

// A mount made for one test, undone when it ends; skipped where mounting
// is not allowed.
struct ScopedMount {
    explicit ScopedMount(const QString& target) : path(nameBytes(target)) {}
    bool tmpfs() { return ok = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=4m") == 0; }
    bool bind(const QString& from)
    {
        return ok = ::mount(nameBytes(from).constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0;
    }
    void undo()
    {
        if (ok)
            ::umount2(path.constData(), MNT_DETACH);
        ok = false;
    }
    ~ScopedMount() { undo(); }
    QByteArray path;
    bool ok = false;
};

TEST_F(SafetyTest, ARootThatIsAnotherFolderByTheSynchronisationIsRefused)
{
    src(QStringLiteral("keep/a.txt"), "new", At(9));
    dst(QStringLiteral("keep/a.txt"), "old", At(1));
    dst(QStringLiteral("gone/b.txt"), "old");
    session.panel.chRet[1] = true;
    tick({QString()});
    compare();
    const QString elsewhere = outside(QStringLiteral("2"), "outside");
    writeFile(elsewhere + QStringLiteral("/gone/b.txt"), "outside");
    const QStringList before = contents(elsewhere);

    const QString aside = f2 + QStringLiteral(".copy");
    struct Case {
        const char* what;
        std::function<void()> swap;
        const QString& message;
    };
    const std::vector<Case> cases = {
        {"folder 2 swapped for a link", [&] { swapForLink(f2, elsewhere); }, SyncMsg::Root2Changed},
        {"folder 1 swapped for a link", [&] { swapForLink(f1, elsewhere); }, SyncMsg::Root1Changed},
        {"folder 2 replaced by a copy of itself",
         [&] {
             ASSERT_EQ(::rename(nameBytes(f2).constData(), nameBytes(aside).constData()), 0);
             ASSERT_EQ(::system(("cp -a '" + aside + "' '" + f2 + "'").toUtf8().constData()), 0);
         },
         SyncMsg::Root2Changed},
    };
    for (const Case& c : cases) {
        prompt->messages.clear();
        c.swap();
        const QByteArray print2 = TreeFingerprint(f2);
        const SyncReport rep = SyncRun(session);
        EXPECT_EQ(rep.outcome, SyncReport::Outcome::Refused) << c.what;
        EXPECT_EQ(prompt->messages, QStringList{c.message}) << c.what;
        EXPECT_EQ(contents(elsewhere), before) << c.what;
        EXPECT_EQ(TreeFingerprint(f2), print2) << c.what;
        EXPECT_EQ(session.vSpr.row(0).flag, QStringLiteral("1")) << c.what;
        restore();
        if (Exists(aside)) {
            fsops::RemoveItem(PathAt(f2));
            ::rename(nameBytes(aside).constData(), nameBytes(f2).constData());
        }
    }
    // The very folders the comparison saw: the run goes ahead.
    EXPECT_EQ(SyncRun(session).outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(readFile(p2(QStringLiteral("keep/a.txt"))), QByteArray("new"));
    EXPECT_FALSE(Exists(p2(QStringLiteral("gone"))));
}

TEST_F(SafetyTest, MountsAreSeenForWhatTheyAre)
{
    // An unmounted destination: its mount point is another folder.
    ScopedMount vol(f2);
    if (!vol.tmpfs())
        GTEST_SKIP() << "mounting is not allowed here: " << std::strerror(errno);
    src(QStringLiteral("keep/a.txt"), "new", At(9));
    dst(QStringLiteral("gone/b.txt"), "old");
    session.panel.chRet[1] = true;
    tick({QString()});
    compare();
    ASSERT_EQ(statuses(), (QStringList{St::Add, St::Del}));
    vol.undo();
    EXPECT_EQ(SyncRun(session).outcome, SyncReport::Outcome::Refused);
    EXPECT_EQ(prompt->messages.last(), SyncMsg::Root2Changed);
    EXPECT_TRUE(contents(f2).isEmpty()) << "written onto the disk below the mount point";

    // Folder 1 bound as folder 2, or as a folder inside it: the same folder.
    const QString bound = tmp.path() + QStringLiteral("/bound");
    makeDir(bound);
    ScopedMount bind(bound);
    ASSERT_TRUE(bind.bind(f1));
    for (const QString& root2 : {bound, bound + QStringLiteral("/keep")}) {
        prompt->messages.clear();
        tree2.setRoot(root2);
        EXPECT_EQ(CmpRun(session), CmpOutcome::Refused) << root2.toStdString();
        EXPECT_EQ(prompt->messages, QStringList{CmpMsg::Nested}) << root2.toStdString();
    }
    bind.undo();

    // Folder 1 bound inside folder 2: found by the scan of folder 2.
    makeDir(p2(QStringLiteral("inner")));
    ScopedMount inner(p2(QStringLiteral("inner")));
    ASSERT_TRUE(inner.bind(f1));
    tree2.setRoot(f2);
    prompt->messages.clear();
    EXPECT_EQ(CmpRun(session), CmpOutcome::Failed);
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].startsWith(CmpMsg::Failed)) << prompt->messages[0].toStdString();
    EXPECT_EQ(session.vSpr.rowCount(), 0);
}

// Folder 2 is a folder of folder 1 seen through a mount: ".." of a bind
// mount leads to its mount point's parent, so only the mount table tells.
// Refused before anything is written, wherever folder 2 lies in the view.
TEST_F(SafetyTest, AFolderOfFolder1MountedAsFolder2IsRefusedWithNothingWritten)
{
    src(QStringLiteral("a/inner/f.txt"), "x", At(3));
    src(QStringLiteral("a/inner/deep/g.txt"), "y", At(3));
    src(QStringLiteral("b/h.txt"), "z", At(3));
    // A space in the mount point: the mount table escapes it.
    const QString view = tmp.path() + QStringLiteral("/the view");
    makeDir(view);
    const bool haveBindfs = ::system("command -v bindfs >/dev/null 2>&1") == 0;
    struct Case {
        const char* what;
        QString mounted;  // the folder shown at view
        QString root1;    // folder 1
        QString root2;    // folder 2
        bool fuse;
    };
    const std::vector<Case> cases = {
        {"a bound as folder 2", p1(QStringLiteral("a")), f1, view, false},
        {"a folder below a bind of a", p1(QStringLiteral("a")), f1, view + QStringLiteral("/inner"), false},
        {"a deeper folder bound, not ticked itself", p1(QStringLiteral("a/inner/deep")), f1, view, false},
        {"folder 1 itself bound, folder 2 inside", f1, f1, view + QStringLiteral("/b"), false},
        {"a mirrored by bindfs", p1(QStringLiteral("a")), f1, view, true},
        {"folder 1 a mirror, folder 2 inside what it shows", f1, view, p1(QStringLiteral("b")), true},
    };
    for (const Case& c : cases) {
        ScopedMount m(view);
        if (c.fuse) {
            if (!haveBindfs) {
                std::printf("bindfs is not installed: the FUSE mirror case is not tested\n");
                continue;
            }
            m.ok = ::system(("bindfs '" + c.mounted + "' '" + view + "' 2>/dev/null").toUtf8().constData()) == 0;
            if (!m.ok) {
                std::printf("bindfs cannot mount here: the FUSE mirror case is not tested\n");
                continue;
            }
        } else if (!m.bind(c.mounted)) {
            GTEST_SKIP() << "mounting is not allowed here: " << std::strerror(errno);
        }
        const QByteArray before = TreeFingerprint(f1);
        prompt->messages.clear();
        tick({QStringLiteral("a"), QStringLiteral("a/inner")});
        if (c.root1 != f1)
            tree1.setRoot(c.root1);
        tree2.setRoot(c.root2);
        EXPECT_EQ(CmpRun(session), CmpOutcome::Refused) << c.what;
        EXPECT_EQ(prompt->messages, QStringList{CmpMsg::Nested}) << c.what;
        EXPECT_EQ(TreeFingerprint(f1), before) << c.what;
        EXPECT_EQ(session.vSpr.rowCount(), 0) << c.what;
    }
}

// On a nearly full destination, space goes to the rows in their order:
// copies written ahead for later rows never leave an earlier row without
// room while they themselves go through.
TEST_F(SafetyTest, ANearlyFullVolumeServesTheRowsInTheirOrder)
{
    ScopedMount vol(f2);
    if (!vol.tmpfs())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    ASSERT_TRUE(SetRoots(session, f1, f2));  // folder 2 is the mounted volume now
    constexpr long long kKiB = 1024;
    const auto freeBytes = [&] {
        struct statvfs sv {};
        ::statvfs(vol.path.constData(), &sv);
        return static_cast<long long>(sv.f_bavail) * static_cast<long long>(sv.f_frsize);
    };
    // 1,536 KiB free: room for the large file alone (too large to be written
    // ahead), or for two of the smaller ones, which are written ahead.
    writeFile(p2(QStringLiteral("filler")), QByteArray(int(freeBytes() - 1536 * kKiB), 'f'));
    ASSERT_EQ(freeBytes(), 1536 * kKiB);
    src(QStringLiteral("a.txt"), "first");
    src(QStringLiteral("b.bin"), QByteArray(int(1200 * kKiB), 'b'));
    for (const char* n : {"c", "d", "e", "f"})
        src(QLatin1String(n) + QStringLiteral(".bin"), QByteArray(int(700 * kKiB), n[0]));
    fileRow(QString(), QStringLiteral("a"), QStringLiteral("txt"), kAdd);
    for (const char* n : {"b", "c", "d", "e", "f"})
        fileRow(QString(), QLatin1String(n), QStringLiteral("bin"), kAdd);
    options(false, false, false);
    SyncHooks hooks;
    hooks.showRow = [&](int r) {
        // The copies of the small files have had their time to be written.
        for (int i = 0; r == 0 && i < 500 && freeBytes() > 1024 * kKiB; ++i)
            ::usleep(10'000);
    };
    freezeSource();
    const SyncReport rep = SyncRun(session, hooks);
    ASSERT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(session.vSpr.row(1).result, kAdd) << session.vSpr.row(1).why().toStdString();
    EXPECT_EQ(readFile(p2(QStringLiteral("b.bin"))).size(), 1200 * kKiB);
    // Whatever failed, failed after every row that went through.
    int lastDone = -1, firstFailed = session.vSpr.rowCount();
    for (int r = 0; r < session.vSpr.rowCount(); ++r) {
        if (session.vSpr.row(r).red)
            firstFailed = std::min(firstFailed, r);
        else
            lastDone = r;
    }
    EXPECT_LT(lastDone, firstFailed);
    EXPECT_EQ(rep.failed, 4);
    EXPECT_TRUE(session.vSpr.row(2).why().contains(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    for (const QString& name : QDir(f2).entryList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(name.contains(QLatin1String(kTmpTag))) << name.toStdString();
}

TEST_F(SafetyTest, ALogThatCannotBeWrittenStopsTheRunAfterItsRow)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        dst(QString::fromLatin1(name), "x");
        fileRow(QString(), QString::fromLatin1(name).chopped(4), QStringLiteral("txt"), kDel);
    }
    options(true, false, false);
    // The log's volume is full from the second line on.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    SyncHooks hooks;
    hooks.showRow = [&](int r) {
        if (r != 0)
            return;
        const QFileInfoList logs = QDir(bk + QStringLiteral("/Log")).entryInfoList(QDir::Files);
        ASSERT_EQ(logs.size(), 1);
        struct rlimit full = old;
        full.rlim_cur = rlim_t(logs[0].size());
        ::setrlimit(RLIMIT_FSIZE, &full);
    };
    freezeSource();
    const SyncReport rep = SyncRun(session, hooks);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldSignal);

    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Stopped);
    EXPECT_FALSE(rep.logError.isEmpty());
    // The second row was done and says so; the third was not begun.
    EXPECT_EQ(session.vSpr.row(1).result, kDel);
    EXPECT_FALSE(Exists(p2(QStringLiteral("b.txt"))));
    EXPECT_TRUE(session.vSpr.row(2).result.isEmpty());
    EXPECT_TRUE(Exists(p2(QStringLiteral("c.txt"))));
    EXPECT_EQ(LogLines(rep.logFile).size(), 1);
    ASSERT_FALSE(prompt->messages.isEmpty());
    EXPECT_TRUE(prompt->messages.last().startsWith(SyncMsg::LogWriteFailed));
}

// The deletion a folder row carries out first is a row of its own: when its
// log line cannot be written, the folder row is not begun.
TEST_F(SafetyTest, ALogLineOfADeletionCarriedOutFirstStopsTheRunBeforeTheFolder)
{
    src(QStringLiteral("x/y.txt"), "new");
    dst(QStringLiteral("x"), "old file");
    folderRow(QStringLiteral("x"), kAdd);
    fileRow(QString(), QStringLiteral("x"), QString(), kDel);
    options(true, false, false);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "file:resolved") != 0)
            return;
        const QFileInfoList logs = QDir(bk + QStringLiteral("/Log")).entryInfoList(QDir::Files);
        struct rlimit full = old;
        full.rlim_cur = logs.isEmpty() ? 0 : rlim_t(logs[0].size());
        ::setrlimit(RLIMIT_FSIZE, &full);
    });
    const SyncReport rep = run();
    setFsHook({});
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Stopped);
    EXPECT_EQ(session.vSpr.row(1).result, kDel);
    EXPECT_TRUE(session.vSpr.row(0).result.isEmpty());
    EXPECT_FALSE(Exists(p2(QStringLiteral("x"))));
}

TEST_F(SafetyTest, ASourceRewrittenWhileItIsCopiedIsNeverCopiedAsAMixture)
{
    // Each rewrite is longer than the last: two writes within one clock tick
    // share their times, and only the size would tell them apart.
    const struct {
        const char* name;
        int rewrites;
        bool old;
        bool backup;
    } cases[] = {
        {"once, new file", 1, false, false},
        {"once, over an old copy kept in the backup", 1, true, true},
        {"on every attempt, new file", 9, false, false},
        {"on every attempt, over an old copy", 9, true, false},
        {"on every attempt, over an old copy kept in the backup", 9, true, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString rel = QStringLiteral("d/%1.txt").arg(++n);
        src(rel, "first version", At(9));
        makeDir(p2(QStringLiteral("d")));
        if (c.old)
            dst(rel, "old", At(1));
        int done = 0;
        QByteArray last;
        setFsHook([&](const char* point) {
            if (std::strcmp(point, "copy:data-written") == 0 && done < c.rewrites) {
                last = "rewritten " + QByteArray(++done * 8, 'x');
                writeFile(p1(rel), last);  // in place: the copy reads this very file
            }
        });
        SyncCtx x;  // folder 1 changes here by design: no fingerprint
        x.sFld1 = f1;
        x.sFld2 = f2;
        if (c.backup) {
            x.yRt[kSwBackup] = 1;
            x.sBkFld = PickBackupFolder(bk);
        }
        const QString status = c.old ? kOver : kAdd;
        QString why;
        const QString result = SyncFile(x, rel, status, &why);
        setFsHook({});
        if (c.rewrites == 1) {
            EXPECT_EQ(result, status) << why.toStdString();
            EXPECT_EQ(readFile(p2(rel)), last);
            EXPECT_EQ(QFileInfo(p2(rel)).lastModified(), QFileInfo(p1(rel)).lastModified());
        } else {
            EXPECT_EQ(done, 2);  // retried once, not more
            EXPECT_EQ(result, status + kErr);
            EXPECT_TRUE(why.contains(QLatin1String("the source changed while it was copied"))) << why.toStdString();
            EXPECT_EQ(Exists(p2(rel)) ? readFile(p2(rel)) : QByteArray("(none)"), c.old ? "old" : "(none)");
            EXPECT_FALSE(c.backup && Exists(x.backupTarget(rel)));
        }
        for (const QString& e : contents(p2(QStringLiteral("d"))))
            EXPECT_FALSE(e.contains(QLatin1String(kTmpTag))) << e.toStdString();
    }
    // A folder copy takes its files the same way.
    src(QStringLiteral("n/f.txt"), "first version");
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "copy:data-written") == 0)
            writeFile(p1(QStringLiteral("n/f.txt")), readFile(p1(QStringLiteral("n/f.txt"))) + "more");
    });
    SyncCtx x;
    x.sFld1 = f1;
    x.sFld2 = f2;
    EXPECT_EQ(SyncFld(x, QStringLiteral("n"), kAdd), kAdd + kErr);
    EXPECT_TRUE(contents(p2(QStringLiteral("n"))).isEmpty());
}

TEST_F(SafetyTest, TemporariesOfADeadRunGoWithTheNextRunEvenWhereNothingIsWritten)
{
    src(QStringLiteral("k/a.txt"), "a", At(3));
    dst(QStringLiteral("k/a.txt"), "a", At(3));
    src(QStringLiteral("h/b.txt"), "b", At(3));
    dst(QStringLiteral("h/b.txt"), "b", At(3));
    // A dead run's half copy, and one that a live run still writes.
    const QString dead = p2(QStringLiteral("k/.a.txt.velmor~Ab3dE6"));
    const QString live = p2(QStringLiteral("h/.b.txt.velmor~Xy7pQ2"));
    writeFile(dead, QByteArray(1 << 16, 'd'));
    writeFile(live, "in progress");
    markAsTemp(dead);
    markAsTemp(live);
    const UniqueFd holder(::open(nameBytes(live).constData(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    tick({QString()});
    for (const QString& r : compare())
        EXPECT_TRUE(r.endsWith(QLatin1String("|0"))) << r.toStdString();  // nothing to write anywhere

    const SyncReport rep = SyncRun(session);
    EXPECT_EQ(rep.failed, 0);
    EXPECT_TRUE(rep.leftOut.isEmpty()) << rep.leftOut.join(u'\n').toStdString();
    EXPECT_FALSE(Exists(dead));
    EXPECT_EQ(readFile(live), QByteArray("in progress"));
}

TEST_F(SafetyTest, AFolderThatIsThereGetsItsSourcesPermissionsOnlyThroughItsOwnRow)
{
    // The row of the folder ("比較", only its metadata differ) corrects its
    // mode; cleared, the folder keeps its own, also when a file goes in.
    for (const bool flagged : {true, false}) {
        SCOPED_TRACE(flagged ? "flagged" : "cleared");
        src(QStringLiteral("e/new.txt"), "new");
        makeDir(p2(QStringLiteral("e")));
        ASSERT_EQ(::chmod(nameBytes(p1(QStringLiteral("e"))).constData(), 0755), 0);
        ASSERT_EQ(::chmod(nameBytes(p2(QStringLiteral("e"))).constData(), 0750), 0);
        tick({QString()});
        compare();
        for (ResultRow& row : session.vSpr.rows())
            if (row.isFolderRow() && row.path == QStringLiteral("e") && !flagged)
                row.flag = kFlagOff;
        EXPECT_EQ(SyncRun(session).failed, 0);
        EXPECT_EQ(readFile(p2(QStringLiteral("e/new.txt"))), QByteArray("new"));
        struct stat st {};
        ASSERT_EQ(::stat(nameBytes(p2(QStringLiteral("e"))).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, flagged ? 0755u : 0750u);
        ::unlink(nameBytes(p2(QStringLiteral("e/new.txt"))).constData());
    }
}

TEST_F(SafetyTest, ALinkAtAnyLevelOfAPathLongerThanPathMaxIsNeverFollowed)
{
    // Levels of long names, made one at a time: no single call takes the path.
    QStringList levels;
    for (int i = 0; levels.join(u'/').size() <= PATH_MAX + 100; ++i)
        levels << QString(200, QLatin1Char('a' + i % 26));
    const auto chain = [](const QString& root, const QStringList& names) {
        UniqueFd cur(::open(nameBytes(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (const QString& name : names) {
            const QByteArray n = nameBytes(name);
            ::mkdirat(cur.get(), n.constData(), 0755);  // EEXIST: there already
            cur = UniqueFd(::openat(cur.get(), n.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            EXPECT_TRUE(cur.valid());
        }
        return cur;
    };
    const auto put = [](int dir, const char* name, const QByteArray& content) {
        const UniqueFd f(::openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ASSERT_TRUE(f.valid());
        ASSERT_EQ(::write(f.get(), content.constData(), size_t(content.size())), content.size());
    };
    const auto read = [](int dir, const char* name) {
        const UniqueFd f(::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        char buf[64];
        const ssize_t n = f.valid() ? ::read(f.get(), buf, sizeof buf) : -1;
        return n < 0 ? QByteArray("(unreadable)") : QByteArray(buf, n);
    };
    const QString deep = levels.join(u'/');
    const QString file = deep + QStringLiteral("/f.txt");
    {
        const UniqueFd d1 = chain(f1, levels);
        put(d1.get(), "f.txt", "new");
        ::mkdirat(d1.get(), "sub", 0755);
    }
    const SyncCtx x = ctx(false, false, false);
    const QString victim = tmp.path() + QStringLiteral("/victim");

    // The link takes the place of level k of folder 2: the first, a middle
    // and the last folder, and (k past the folders) the file itself.
    const int last = int(levels.size()) - 1;
    for (const int k : {0, last / 2, last, last + 1}) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(fsops::RemoveItem(PathAt(p2(levels[0]))).ok());
        ASSERT_TRUE(fsops::RemoveItem(PathAt(victim)).ok());
        makeDir(victim);
        // Behind the link lies what the rest of the path names.
        const UniqueFd v = chain(victim, levels.mid(k + 1));
        put(v.get(), "f.txt", "victim");
        const QString target = k <= last ? victim : victim + QStringLiteral("/f.txt");
        const QByteArray name = k <= last ? nameBytes(levels[k]) : QByteArray("f.txt");
        ASSERT_EQ(::symlinkat(nameBytes(target).constData(), chain(f2, levels.mid(0, k)).get(), name.constData()), 0);

        if (k <= last) {
            // A folder on the way is a link: every row fails.
            EXPECT_EQ(SyncFile(x, file, kOver), kOver + kErr);
            EXPECT_EQ(SyncFile(x, file, kDel), kDel + kErr);
            EXPECT_EQ(SyncFld(x, deep + QStringLiteral("/sub"), kAdd), kAdd + kErr);
            // ... except a folder row whose own folder is the link: the link goes.
            EXPECT_EQ(SyncFld(x, deep, kDel), k < last ? kDel + kErr : kDel);
        } else {
            // The file is a link: replaced, and deleted, as a link.
            EXPECT_EQ(SyncFile(x, file, kOver), kOver);
            const UniqueFd d2 = chain(f2, levels);
            EXPECT_EQ(read(d2.get(), "f.txt"), QByteArray("new"));
            ASSERT_EQ(::unlinkat(d2.get(), "f.txt", 0), 0);
            ASSERT_EQ(::symlinkat(nameBytes(target).constData(), d2.get(), "f.txt"), 0);
            EXPECT_EQ(SyncFile(x, file, kDel), kDel);
            struct stat st {};
            EXPECT_NE(::fstatat(d2.get(), "f.txt", &st, AT_SYMLINK_NOFOLLOW), 0);
        }
        // Behind the link nothing changed, and it is still where it was.
        const UniqueFd vroot(::open(nameBytes(victim).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const UniqueFd again = openBeneath(vroot.get(), nameBytes(levels.mid(k + 1).join(u'/')));
        ASSERT_TRUE(again.valid());
        EXPECT_EQ(read(again.get(), "f.txt"), QByteArray("victim"));
        struct stat st {};
        EXPECT_NE(::fstatat(again.get(), "sub", &st, AT_SYMLINK_NOFOLLOW), 0);
    }
}

TEST_F(SafetyTest, FoldersMadeOnTheWayTakeTheirSourceModes)
{
    // A private source folder must not turn up open to everyone, and the
    // umask must not strip what the source grants (nor the set-group-ID
    // bit). A folder made on the way to a row's folder also lets its owner
    // write and enter it; the row's own folder gets the source's exact mode.
    const struct {
        const char* rel;
        mode_t source, made;
    } levels[] = {
        {"priv", 0700, 0700},   {"priv/team", 0770, 0770},        {"open", 0775, 0775},
        {"open/ro", 0555, 0755}, {"open/ro/sg", 02755, 02755}, {"open/ro/sg/row", 02750, 02750},
    };
    src(QStringLiteral("priv/team/a.txt"), "a");
    src(QStringLiteral("open/ro/sg/row/b.txt"), "b");
    for (auto it = std::rbegin(levels); it != std::rend(levels); ++it)
        ASSERT_EQ(::chmod(nameBytes(p1(QLatin1String(it->rel))).constData(), it->source), 0);
    const SyncCtx x = ctx(false, false, false);
    for (const mode_t mask : {mode_t(022), mode_t(077)}) {
        SCOPED_TRACE(mask);
        ASSERT_TRUE(fsops::RemoveItem(PathAt(p2(QStringLiteral("priv")))).ok());
        ASSERT_TRUE(fsops::RemoveItem(PathAt(p2(QStringLiteral("open")))).ok());
        const mode_t oldMask = ::umask(mask);
        EXPECT_EQ(SyncFld(x, QStringLiteral("priv/team"), kAdd), kAdd);  // "priv" is made on the way
        EXPECT_EQ(SyncFld(x, QStringLiteral("open/ro/sg/row"), kAdd), kAdd);
        ::umask(oldMask);
        for (const auto& l : levels) {
            struct stat st {};
            ASSERT_EQ(::stat(nameBytes(p2(QLatin1String(l.rel))).constData(), &st), 0) << l.rel;
            EXPECT_EQ(st.st_mode & 07777, l.made) << l.rel;
        }
        EXPECT_EQ(readFile(p2(QStringLiteral("open/ro/sg/row/b.txt"))), QByteArray("b"));
    }
}

TEST_F(SafetyTest, RowsOfMetadataAloneWriteNoCopy)
{
    // Enough rows for copies to be written ahead of their turn, and a
    // second folder: none of them copies a byte or keeps a backup, also
    // with many rows in flight at once (as onto a slow destination).
    for (const int jobs : {1, 8}) {
        SCOPED_TRACE(jobs);
        session.panel.nJobs = jobs;
        for (int i = 0; i < 6; ++i) {
            const QString rel = QStringLiteral("m%1/f%2.txt").arg(i % 2).arg(i);
            src(rel, "the same bytes");
            dst(rel, "the same bytes");
            ASSERT_EQ(::chmod(nameBytes(p1(rel)).constData(), 0750), 0);
            ASSERT_EQ(::chmod(nameBytes(p2(rel)).constData(), 0640), 0);
        }
        tick({QString()});
        compare();
        std::atomic<int> written{0};  // copies written ahead call it on their threads
        setFsHook([&written](const char* point) { written += std::strcmp(point, "copy:data-written") == 0; });
        const SyncReport rep = SyncRun(session);
        setFsHook({});
        EXPECT_EQ(rep.failed, 0);
        EXPECT_EQ(written, 0);
        for (const ResultRow& r : session.vSpr.rows())
            if (!r.isFolderRow())
                EXPECT_EQ(r.result, kMetaOnly) << r.name.toStdString();
        for (int i = 0; i < 6; ++i) {
            struct stat st {};
            ASSERT_EQ(::stat(nameBytes(p2(QStringLiteral("m%1/f%2.txt").arg(i % 2).arg(i))).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0750u);
        }
    }
}

} // namespace
} // namespace velmor::test
