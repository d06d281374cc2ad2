// The file-system primitives: fail-safe copy, links never followed, byte
// names, removal of read-only content, merging moves, exact modes, and the
// clean-up of temporary files that no live run holds.
#include "SyncFixture.h"

#include "sync/CopyAhead.h"
#include "sync/FsOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <cstring>
#include <map>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::test {
namespace {

using namespace fsops;

QStringList leftovers(const QString& dir)
{
    QStringList out;
    for (const QString& n : QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        if (n.contains(QLatin1String(".velmor~")))
            out << n;
    return out;
}

struct timespec mtimeOf(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim;
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

void chmodOf(const QString& path, mode_t mode) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0); }

class FsOpsTest : public SyncFixture {
protected:
    void TearDown() override
    {
        setFsHook({});
        SyncFixture::TearDown();
    }
};

TEST_F(FsOpsTest, CopyItemKeepsTimesAndModeAndReplacesAtomically)
{
    src(QStringLiteral("a.txt"), "new content");
    // Sub-second precision survives too.
    const QByteArray a = QFile::encodeName(p1(QStringLiteral("a.txt")));
    struct timespec ts[2] = {{1600000000, 123456789}, {1600000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, a.constData(), ts, 0), 0);
    ASSERT_EQ(::chmod(a.constData(), 0640), 0);
    dst(QStringLiteral("a.txt"), "old");
    src(QStringLiteral("empty"), "");
    freezeSource();

    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("a.txt"))), PathAt(p2(QStringLiteral("a.txt")))).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("a.txt"))), QByteArray("new content"));
    const struct timespec m = mtimeOf(p2(QStringLiteral("a.txt")));
    EXPECT_EQ(m.tv_sec, 1600000000);
    EXPECT_EQ(m.tv_nsec, 987654321);
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("a.txt"))).permissions() & 0x7777,
              QFileInfo(p1(QStringLiteral("a.txt"))).permissions() & 0x7777);
    EXPECT_TRUE(leftovers(f2).isEmpty());

    // An empty file, and a missing source (nothing created, nothing left).
    EXPECT_TRUE(CopyItem(PathAt(p1(QStringLiteral("empty"))), PathAt(p2(QStringLiteral("empty")))).ok());
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("empty"))).isFile());
    EXPECT_FALSE(CopyItem(PathAt(p1(QStringLiteral("gone"))), PathAt(p2(QStringLiteral("gone")))).ok());
    EXPECT_FALSE(Exists((p2(QStringLiteral("gone")))));
    // A folder is never replaced by a file.
    makeDir(p2(QStringLiteral("dir")));
    EXPECT_FALSE(CopyItem(PathAt(p1(QStringLiteral("a.txt"))), PathAt(p2(QStringLiteral("dir")))).ok());
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("dir"))).isDir());
    EXPECT_TRUE(leftovers(f2).isEmpty());
}

TEST_F(FsOpsTest, CopyItemRefusesReadOnlyTargetEvenForRoot)
{
    src(QStringLiteral("r.txt"), "new");
    dst(QStringLiteral("r.txt"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(p2(QStringLiteral("r.txt"))).constData(), 0444), 0);
    freezeSource();
    const FsResult r = CopyItem(PathAt(p1(QStringLiteral("r.txt"))), PathAt(p2(QStringLiteral("r.txt"))));
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error.contains(QLatin1String("read-only")));
    EXPECT_EQ(readFile(p2(QStringLiteral("r.txt"))), QByteArray("old"));
    CopyOptions own;
    own.refuseReadOnlyTarget = false;
    EXPECT_TRUE(CopyItem(PathAt(p1(QStringLiteral("r.txt"))), PathAt(p2(QStringLiteral("r.txt"))), own).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("r.txt"))), QByteArray("new"));
}

TEST_F(FsOpsTest, FailedCopyLeavesOldFileAndNoTemporary)
{
    // A write limit makes the copy fail half-way (works for root as well).
    src(QStringLiteral("big.bin"), QByteArray(1 << 20, 'x'));
    dst(QStringLiteral("big.bin"), "old version");
    freezeSource();
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const FsResult r = CopyItem(PathAt(p1(QStringLiteral("big.bin"))), PathAt(p2(QStringLiteral("big.bin"))));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(r.ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("big.bin"))), QByteArray("old version"));
    EXPECT_TRUE(leftovers(f2).isEmpty()) << leftovers(f2).join(u' ').toStdString();
}

TEST_F(FsOpsTest, LinksAreCopiedAndRemovedAsLinks)
{
    const QString outside = tmp.path() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep.txt"), "outside");
    src(QStringLiteral("tree/f.txt"), "f");
    ASSERT_TRUE(QFile::link(outside, p1(QStringLiteral("tree/dirlink"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("f.txt"), p1(QStringLiteral("tree/filelink"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), p1(QStringLiteral("tree/dangling"))));
    src(QStringLiteral("over.txt"), "mine");
    freezeSource();

    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("tree"))), PathAt(p2(QStringLiteral("tree")))).ok());
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("tree/dirlink"))).symLinkTarget(), outside);
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("tree/filelink"))).isSymLink());
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("tree/dangling"))).isSymLink());
    EXPECT_EQ(mtimeOf(p2(QStringLiteral("tree/dirlink"))).tv_sec, mtimeOf(p1(QStringLiteral("tree/dirlink"))).tv_sec);
    // The linked folder's content was not copied into folder 2.
    EXPECT_TRUE(QFileInfo(p2(QStringLiteral("tree/dirlink"))).isSymLink());

    // A link at the destination is replaced, not written through.
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/keep.txt"), p2(QStringLiteral("over.txt"))));
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("over.txt"))), PathAt(p2(QStringLiteral("over.txt")))).ok());
    EXPECT_FALSE(QFileInfo(p2(QStringLiteral("over.txt"))).isSymLink());
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep.txt")), QByteArray("outside"));

    // Removing the tree removes the links, never what they point at.
    ASSERT_TRUE(RemoveItem(PathAt(p2(QStringLiteral("tree")))).ok());
    EXPECT_FALSE(Exists((p2(QStringLiteral("tree")))));
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep.txt")), QByteArray("outside"));
}

TEST_F(FsOpsTest, TreesKeepTimesModesAndByteNames)
{
    const QByteArray odd("\xff\xfe-latin1-\xe9.txt");  // not valid UTF-8
    src(QStringLiteral("t/sub/a.txt"), "a", At(2));
    ASSERT_TRUE(QFile(p1(QStringLiteral("t/sub/a.txt"))).setPermissions(QFile::ReadOwner | QFile::ReadGroup));
    const QByteArray oddSrc = nameBytes(p1(QStringLiteral("t/sub"))) + '/' + odd;
    {
        FILE* f = ::fopen(oddSrc.constData(), "w");
        ASSERT_NE(f, nullptr);
        ::fputs("odd", f);
        ::fclose(f);
    }
    ASSERT_EQ(::chmod(nameBytes(p1(QStringLiteral("t/sub"))).constData(), 0555), 0);
    setMTime(p1(QStringLiteral("t/sub")), At(3));
    setMTime(p1(QStringLiteral("t")), At(4));
    freezeSource();

    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), PathAt(p2(QStringLiteral("t")))).ok());
    const QString oddDst = p2(QStringLiteral("t/sub/")) + nameText(odd);
    EXPECT_EQ(kindOf(PathAt(oddDst)), Kind::File);
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("t/sub"))).lastModified(), At(3));
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("t"))).lastModified(), At(4));
    EXPECT_EQ(QFileInfo(p2(QStringLiteral("t/sub/a.txt"))).lastModified(), At(2));
    EXPECT_FALSE(OwnerWritable(p2(QStringLiteral("t/sub"))));
    EXPECT_FALSE(OwnerWritable(p2(QStringLiteral("t/sub/a.txt"))));

    // Removal goes through read-only folders and files, and byte names.
    ASSERT_TRUE(RemoveItem(PathAt(p2(QStringLiteral("t")))).ok());
    EXPECT_FALSE(Exists((p2(QStringLiteral("t")))));
}

TEST_F(FsOpsTest, MoveMergesIntoExistingFolderAndLosesNothing)
{
    dst(QStringLiteral("from/a.txt"), "new a");
    dst(QStringLiteral("from/sub/b.txt"), "new b");
    dst(QStringLiteral("from/sub/c"), "c is a file here");
    dst(QStringLiteral("to/a.txt"), "old a");
    dst(QStringLiteral("to/sub/keep.txt"), "kept");
    dst(QStringLiteral("to/sub/c/inner.txt"), "c was a folder");

    ASSERT_TRUE(MoveItem(PathAt(p2(QStringLiteral("from"))), PathAt(p2(QStringLiteral("to")))).ok());
    EXPECT_FALSE(Exists((p2(QStringLiteral("from")))));
    EXPECT_EQ(readFile(p2(QStringLiteral("to/a.txt"))), QByteArray("new a"));
    EXPECT_EQ(readFile(p2(QStringLiteral("to/sub/b.txt"))), QByteArray("new b"));
    EXPECT_EQ(readFile(p2(QStringLiteral("to/sub/keep.txt"))), QByteArray("kept"));
    EXPECT_EQ(readFile(p2(QStringLiteral("to/sub/c"))), QByteArray("c is a file here"));

    // Plain moves: onto nothing, and a missing source fails.
    EXPECT_TRUE(MoveItem(PathAt(p2(QStringLiteral("to"))), PathAt(p2(QStringLiteral("moved")))).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("moved/a.txt"))), QByteArray("new a"));
    EXPECT_FALSE(MoveItem(PathAt(p2(QStringLiteral("to"))), PathAt(p2(QStringLiteral("x")))).ok());
    // A file never lands on a folder.
    dst(QStringLiteral("f.txt"), "f");
    EXPECT_FALSE(MoveItem(PathAt(p2(QStringLiteral("f.txt"))), PathAt(p2(QStringLiteral("moved")))).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("f.txt"))), QByteArray("f"));
}

TEST_F(FsOpsTest, ModesAreExactFromTheMomentAnItemIsMadeWhateverTheUmask)
{
    const ScopedUmask mask(022);
    // Modes the umask strips, and a folder that denies its owner writing.
    // Set-user-ID and set-group-ID programs keep their bits.
    const std::map<QString, mode_t> modes = {{QStringLiteral("t/all.txt"), 0666}, {QStringLiteral("t/group.sh"), 0775},
                                             {QStringLiteral("t/g"), 0775},       {QStringLiteral("t/ro"), 0555},
                                             {QStringLiteral("t"), 0775},         {QStringLiteral("t/su"), 04755},
                                             {QStringLiteral("t/sg"), 02711}};
    src(QStringLiteral("t/all.txt"), "all");
    src(QStringLiteral("t/group.sh"), "sh");
    src(QStringLiteral("t/su"), "su");
    src(QStringLiteral("t/sg"), "sg");
    src(QStringLiteral("t/g/a.txt"), "a");
    src(QStringLiteral("t/ro/b.txt"), "b");
    for (const auto& [rel, mode] : modes)
        chmodOf(p1(rel), mode);
    freezeSource();

    // What a run killed during the first copy into each folder leaves: the
    // folder's own mode; the read-only one open to its owner only meanwhile.
    // A copy still being written is never a privileged program.
    std::map<QString, mode_t> whileFilled;
    mode_t privileged = 0;
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "copy:data-written") != 0)
            return;
        for (const char* d : {"t", "t/g", "t/ro"})
            if (Exists(p2(QLatin1String(d))))
                whileFilled.try_emplace(QLatin1String(d), modeOf(p2(QLatin1String(d))));
        for (const QString& t : leftovers(p2(QStringLiteral("t"))))
            privileged |= modeOf(p2(QStringLiteral("t/") + t)) & 07000;
    });
    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), PathAt(p2(QStringLiteral("t")))).ok());
    setFsHook({});
    EXPECT_EQ(whileFilled, (std::map<QString, mode_t>{{QStringLiteral("t"), 0775}, {QStringLiteral("t/g"), 0775},
                                                      {QStringLiteral("t/ro"), 0755}}));
    EXPECT_EQ(privileged, mode_t(0));
    for (const auto& [rel, mode] : modes)
        EXPECT_EQ(modeOf(p2(rel)), mode) << rel.toStdString();

    // A single copy and a single new folder alike.
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("t/all.txt"))), PathAt(p2(QStringLiteral("one.txt")))).ok());
    EXPECT_EQ(modeOf(p2(QStringLiteral("one.txt"))), mode_t(0666));
    struct stat like {};
    ASSERT_EQ(::lstat(QFile::encodeName(p1(QStringLiteral("t/g"))).constData(), &like), 0);
    ASSERT_TRUE(MakeDir(PathAt(p2(QStringLiteral("made"))), &like).ok());
    EXPECT_EQ(modeOf(p2(QStringLiteral("made"))), mode_t(0775));

    // A folder that was there keeps its own permissions, also when it is
    // copied into; what the copy makes inside it takes the source's.
    makeDir(p2(QStringLiteral("there")));
    chmodOf(p2(QStringLiteral("there")), 0750);
    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), PathAt(p2(QStringLiteral("there")))).ok());
    EXPECT_EQ(modeOf(p2(QStringLiteral("there"))), mode_t(0750));
    EXPECT_EQ(modeOf(p2(QStringLiteral("there/g"))), mode_t(0775));
    EXPECT_EQ(readFile(p2(QStringLiteral("there/ro/b.txt"))), QByteArray("b"));
}

// A copy whose destination lies inside the folder copied (as folder 2
// bound inside folder 1 shows it) stops where it meets its own destination,
// one level down or deeper, instead of copying it into itself for ever.
TEST_F(FsOpsTest, ACopyNeverGoesIntoItsOwnDestination)
{
    dst(QStringLiteral("a/f.txt"), "f");
    dst(QStringLiteral("a/in/g.txt"), "g");
    dst(QStringLiteral("a/in/deep/h.txt"), "h");
    for (const char* rel : {"a/in/a", "a/in/deep/a"}) {
        const QString copy = p2(QLatin1String(rel));
        const FsResult r = CopyTree(PathAt(p2(QStringLiteral("a"))), PathAt(copy));
        EXPECT_FALSE(r.ok()) << rel;
        EXPECT_TRUE(r.error.contains(QStringLiteral("own destination"))) << r.error.toStdString();
        EXPECT_FALSE(Exists(copy + QStringLiteral("/in/a"))) << rel;
        EXPECT_FALSE(Exists(copy + QStringLiteral("/in/deep/a"))) << rel;
        ASSERT_TRUE(RemoveItem(PathAt(copy)).ok());
    }
}

TEST_F(FsOpsTest, TemporariesGoUnlessALiveRunHoldsThem)
{
    enum What { File, Link, Folder, Pipe, Held, Unmarked };
    const struct {
        const char* name;
        What what;
        bool goes;
    } cases[] = {
        {".a.txt.velmor~abc123", File, true},
        {".b.txt.velmor~Zz9Zz9", Link, true},
        {".c.velmor~abc123", Folder, false},  // only files and links are ours
        {".d.velmor~abc123", Pipe, false},
        {".e.txt.velmor~abc123", Held, false},  // a live run writes it
        {".f.txt.velmor~abc12", File, false},   // names that merely look alike
        {"g.txt.velmor~abc123", File, false},
        {".h.txt.velmor~abc123.txt", File, false},
        {".i.txt.velmor~ABCDEF", Unmarked, false},  // a user's file of such a name
    };
    UniqueFd holder;
    for (const auto& c : cases) {
        const QString path = p2(QLatin1String(c.name));
        const QByteArray raw = QFile::encodeName(path);
        switch (c.what) {
        case Link: ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), path)); break;
        case Folder: makeDir(path); break;
        case Pipe: ASSERT_EQ(::mkfifo(raw.constData(), 0600), 0); break;
        case Held:
            writeFile(path, "held");
            holder = UniqueFd(::open(raw.constData(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
            break;
        case File:
        case Unmarked: writeFile(path, "left"); break;
        }
        if (c.what == File || c.what == Link || c.what == Held)
            markAsTemp(path);
    }
    const UniqueFd dir(::open(QFile::encodeName(f2).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(RemoveTempsIn(dir.get()), 0);
    for (const auto& c : cases)
        EXPECT_EQ(Exists(p2(QLatin1String(c.name))), !c.goes) << c.name;
    holder.reset();  // its run ended
    EXPECT_EQ(RemoveTempsIn(dir.get()), 0);
    EXPECT_FALSE(Exists(p2(QLatin1String(".e.txt.velmor~abc123"))));

    // A copy holds its own temporary: a clean-up during the copy leaves it.
    src(QStringLiteral("x.txt"), "copied whole");
    freezeSource();
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "copy:data-written") == 0) {
            EXPECT_EQ(RemoveTempsIn(dir.get()), 0);
        }
    });
    EXPECT_TRUE(CopyItem(PathAt(p1(QStringLiteral("x.txt"))), PathAt(p2(QStringLiteral("x.txt")))).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("x.txt"))), QByteArray("copied whole"));
}

// Only a marked entry of a temporary name is the program's: a user's file of
// such a name is listed and copied with its folder like any other, while a
// temporary left by a run is neither.
TEST_F(FsOpsTest, AUsersFileNamedLikeATemporaryIsData)
{
    const struct {
        const char* name;
        bool marked;
    } cases[] = {{".x.velmor~ABCDEF", false}, {".y.velmor~abc123", true}};
    for (const auto& c : cases) {
        src(QStringLiteral("t/") + QLatin1String(c.name), "data");
        if (c.marked)
            markAsTemp(p1(QStringLiteral("t/") + QLatin1String(c.name)));
    }
    FsLeftOut left;
    QStringList listed;
    for (const FsEntry& e : FsList(p1(QStringLiteral("t")), FsKind::Files, &left))
        listed << e.name;
    EXPECT_TRUE(left.temps);
    EXPECT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), PathAt(p2(QStringLiteral("t")))).ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listed.contains(QLatin1String(c.name)), !c.marked);
        const QString copy = p2(QStringLiteral("t/") + QLatin1String(c.name));
        EXPECT_EQ(Exists(copy) ? readFile(copy) : QByteArray("(none)"), c.marked ? "(none)" : "data");
    }
}

// A copy written ahead is put in place only while its source is still the
// file it was read from; otherwise it goes and the copy ends as one made
// without it would.
TEST_F(FsOpsTest, ACopyWrittenAheadOfASourceChangedSinceIsNotUsed)
{
    enum Change { Deleted, Folder, Rewritten };
    const struct {
        const char* name;
        Change change;
    } cases[] = {{"deleted", Deleted}, {"folder", Folder}, {"rewritten", Rewritten}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString from = p1(QLatin1String(c.name)), to = p2(QLatin1String(c.name));
        src(QLatin1String(c.name), "ahead");
        StagedCopy staged;
        PathAt dst(to);
        ASSERT_TRUE(StageCopy(PathAt(from), dst.at, 1000, std::move(dst.dir), staged));
        ASSERT_TRUE(QFile::remove(from));
        if (c.change == Folder)
            makeDir(from);
        else if (c.change == Rewritten)
            writeFile(from, "later");  // the same size
        const FsResult withStaged = CopyItem(PathAt(from), PathAt(to), {}, &staged);
        const FsResult plain = CopyItem(PathAt(from), PathAt(to + QStringLiteral(".plain")));
        EXPECT_EQ(withStaged.ok(), plain.ok()) << withStaged.error.toStdString();
        EXPECT_EQ(Exists(to) ? readFile(to) : QByteArray("(none)"),
                  Exists(to + QStringLiteral(".plain")) ? readFile(to + QStringLiteral(".plain")) : QByteArray("(none)"));
        EXPECT_TRUE(leftovers(f2).isEmpty());
    }
}

// Copies written ahead: held against a clean-up, put in place by CopyItem
// with the source's bytes, and removed when passed over, when too large,
// and when the helper goes with copies not taken.
TEST_F(FsOpsTest, CopiesWrittenAheadAreHeldPutInPlaceOrRemoved)
{
    for (int i = 0; i < 4; ++i)
        src(QStringLiteral("f%1").arg(i), QByteArray(i == 3 ? 2000 : 10, char('a' + i)));
    freezeSource();
    // One helper, and several taking the jobs at once.
    for (const int workers : {1, 3}) {
        SCOPED_TRACE(workers);
        QDir(f2).removeRecursively();
        makeDir(f2);
        StagedCopy placed;
        {
            CopyAhead ahead(workers);
            std::vector<long long> keys;
            for (int i = 0; i < 4; ++i) {
                keys.push_back(ahead.queue([this, i](StagedCopy& out) {
                    PathAt to(p2(QStringLiteral("f%1").arg(i)));  // its folder held by the copy
                    return StageCopy(PathAt(p1(QStringLiteral("f%1").arg(i))), to.at, 1000, std::move(to.dir), out);
                }));
            }
            placed = ahead.take(keys[2]);  // f0 and f1 are passed over
            ASSERT_TRUE(placed.valid());
            EXPECT_FALSE(ahead.take(keys[3]).valid());  // 2000 bytes: over the limit, nothing written
            EXPECT_EQ(leftovers(f2).size(), 1);
            const UniqueFd now(::open(QFile::encodeName(f2).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            EXPECT_EQ(RemoveTempsIn(now.get()), 0);
            EXPECT_EQ(leftovers(f2).size(), 1);  // held, not removed
            ahead.queue([this](StagedCopy& out) {
                PathAt to(p2(QStringLiteral("f0")));
                return StageCopy(PathAt(p1(QStringLiteral("f0"))), to.at, 1000, std::move(to.dir), out);
            });
        }  // the helpers go with f0's copy not taken
        EXPECT_EQ(leftovers(f2).size(), 1);
        EXPECT_TRUE(CopyItem(PathAt(p1(QStringLiteral("f2"))), PathAt(p2(QStringLiteral("f2"))), {}, &placed).ok());
        EXPECT_EQ(readFile(p2(QStringLiteral("f2"))), QByteArray(10, 'c'));
        EXPECT_TRUE(leftovers(f2).isEmpty());
        EXPECT_EQ(QDir(f2).entryList(QDir::Files), QStringList{QStringLiteral("f2")});
    }
}

// A copy is written ahead only when it is whole and of the source as it
// still is: a source rewritten meanwhile, or a pipe, is not staged, and the
// copy at its turn takes the source as it is then, or fails.
TEST_F(FsOpsTest, OnlyACopyOfAnUnchangedRegularFileIsWrittenAhead)
{
    src(QStringLiteral("changed.txt"), "first version");
    ASSERT_EQ(::mkfifo(QFile::encodeName(p1(QStringLiteral("pipe"))).constData(), 0644), 0);
    const struct {
        const char* name;
        bool copies;  // at its turn
        QByteArray content;
    } cases[] = {{"changed.txt", true, "second, longer version"}, {"pipe", false, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString from = p1(QLatin1String(c.name)), to = p2(QLatin1String(c.name));
        bool rewritten = false;
        setFsHook([&](const char* point) {
            if (std::strcmp(point, "copy:data-written") == 0 && c.copies && !std::exchange(rewritten, true))
                writeFile(from, c.content);  // in place, while the copy ahead is being written
        });
        StagedCopy staged;
        PathAt dst(to);
        EXPECT_FALSE(StageCopy(PathAt(from), dst.at, 1000, std::move(dst.dir), staged));
        setFsHook({});
        EXPECT_FALSE(staged.valid());
        EXPECT_TRUE(leftovers(f2).isEmpty());
        EXPECT_EQ(CopyItem(PathAt(from), PathAt(to), {}, &staged).ok(), c.copies);
        EXPECT_EQ(Exists(to) ? readFile(to) : QByteArray("(none)"), c.copies ? c.content : "(none)");
    }
    EXPECT_TRUE(leftovers(f2).isEmpty());
}

// Another run's clean-up may remove a new temporary between its creation
// and its lock: the copy takes another name and succeeds. A watcher that
// must permit every opening in folder 2 (fanotify) removes it at that moment.
TEST_F(FsOpsTest, ATemporaryRemovedBeforeItIsLockedIsNotWrittenInVain)
{
    src(QStringLiteral("x.txt"), "copied whole");
    freezeSource();
    UniqueFd group(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY));
    if (!group.valid())
        GTEST_SKIP() << "no fanotify permission events here (" << std::strerror(errno) << ")";
    ASSERT_EQ(::fanotify_mark(group.get(), FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                              QFile::encodeName(f2).constData()),
              0);
    std::atomic<bool> stop{false};
    int removed = 0;
    std::thread watcher([&] {
        alignas(fanotify_event_metadata) char buf[4096];
        while (!stop) {
            pollfd p{group.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = ::read(group.get(), buf, sizeof buf);
            for (auto* m = reinterpret_cast<fanotify_event_metadata*>(buf); n > 0 && FAN_EVENT_OK(m, n);
                 m = FAN_EVENT_NEXT(m, n)) {
                char path[PATH_MAX] = {};
                ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(m->fd)).constData(), path, sizeof path - 1);
                if (removed == 0 && std::strstr(path, kTmpTag) && ::unlink(path) == 0)
                    ++removed;
                const fanotify_response allow{m->fd, FAN_ALLOW};
                EXPECT_EQ(::write(group.get(), &allow, sizeof allow), ssize_t(sizeof allow));
                ::close(m->fd);
            }
        }
    });
    const FsResult r = CopyItem(PathAt(p1(QStringLiteral("x.txt"))), PathAt(p2(QStringLiteral("x.txt"))));
    stop = true;
    watcher.join();
    group.reset();  // openings in folder 2 need no permission from here on
    EXPECT_EQ(removed, 1);
    EXPECT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(readFile(p2(QStringLiteral("x.txt"))), QByteArray("copied whole"));
    EXPECT_TRUE(leftovers(f2).isEmpty());
}

TEST_F(FsOpsTest, CopiesTakeExactModeAndOwnerWhateverTheTemporaryWasMadeWith)
{
    // The copy's mode is set from what its temporary was made with, not
    // looked at again: a umask that took bits the source has (0277 makes
    // it 0400), a source with the temporary's own mode, set-ID bits, a new
    // owner (as root) that must not cost them.
    const bool root = ::geteuid() == 0;
    const struct {
        mode_t umask, mode;
        bool otherOwner;
        const char* data;
    } cases[] = {
        {022, 0644, false, "a"}, {022, 0600, false, "b"}, {0277, 0600, false, "c"}, {0277, 0400, false, ""},
        {077, 04755, true, "d"}, {077, 02750, true, ""},  {0, 0444, false, "e"},     {022, 0666, true, "f"},
    };
    CopyOptions opt;
    opt.owners = true;
    int i = 0;
    for (const auto& c : cases) {
        const QString rel = QStringLiteral("f%1").arg(i++);
        SCOPED_TRACE(rel.toStdString());
        src(rel, c.data);
        chmodOf(p1(rel), c.mode);
        if (c.otherOwner && root) {
            ASSERT_EQ(::lchown(QFile::encodeName(p1(rel)).constData(), 1234, 5678), 0);
        }
        const ScopedUmask mask(c.umask);
        const FsResult r = CopyItem(PathAt(p1(rel)), PathAt(p2(rel)), opt);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        struct stat s {}, d {};
        ASSERT_EQ(::lstat(QFile::encodeName(p1(rel)).constData(), &s), 0);
        ASSERT_EQ(::lstat(QFile::encodeName(p2(rel)).constData(), &d), 0);
        EXPECT_EQ(d.st_mode, s.st_mode);
        if (root) {
            EXPECT_EQ(d.st_uid, s.st_uid);
            EXPECT_EQ(d.st_gid, s.st_gid);
        }
    }
    EXPECT_TRUE(leftovers(f2).isEmpty());
}

TEST_F(FsOpsTest, AWrittenCopyWaitingForItsPlaceIsMarkedAsATemporary)
{
    // Between its data and its rename a copy must carry the mark, so that a
    // run killed there leaves a temporary the next run recognises: with
    // data (marked after it), empty (no data to write before the mark), large
    // enough to go through the kernel's copy.
    const struct {
        const char* rel;
        QByteArray data;
    } cases[] = {{"data.txt", "some data"}, {"empty", ""}, {"big.bin", QByteArray(200 * 1024, 'b')}};
    for (const auto& c : cases) {
        const QString rel = QLatin1String(c.rel);
        SCOPED_TRACE(c.rel);
        src(rel, c.data);
        dst(rel, "old");
        std::vector<time_t> seen;
        setFsHook([&](const char* point) {
            if (std::strcmp(point, "replace:new-written") == 0)
                for (const QString& t : leftovers(f2))
                    seen.push_back(mtimeOf(p2(t)).tv_sec);
        });
        const FsResult r = ReplaceKeepingOld(PathAt(p1(rel)), PathAt(p2(rel)), PathAt(p2(rel + QStringLiteral(".old"))));
        setFsHook({});
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(seen, std::vector<time_t>{kTmpMark});
        EXPECT_EQ(readFile(p2(rel)), c.data);
        EXPECT_EQ(mtimeOf(p2(rel)).tv_sec, mtimeOf(p1(rel)).tv_sec);
    }
    EXPECT_TRUE(leftovers(f2).isEmpty());
}

} // namespace
} // namespace velmor::test
