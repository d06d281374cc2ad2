// What a run must never do, whatever happens to the folders meanwhile:
// follow a link out of a root, act on another name than the row's, write
// logs and backups into a root, delete its own trash or history, lose the
// file it overwrites, or call a partial run clean.
#include "EndToEndFixture.h"

#include "env/FsDir.h"
#include "sync/FsOps.h"
#include "sync/SyncPlan.h"

#include <QDir>
#include <functional>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
        EXPECT_TRUE(r.result.endsWith(kErr)) << r.path.toStdString() << " " << r.result.toStdString();
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

} // namespace
} // namespace velmor::test
