// What a copy carries besides the data: owner and group, set-ID and sticky
// bits, ACLs and extended attributes; the temporary never more open than
// its source; several names of one file staying one file; and metadata
// corrected in place (FixMeta, SyncMeta, SyncFolderTimes).
#include "SyncFixture.h"

#include "env/FileMeta.h"
#include "sync/FsOps.h"
#include "sync/SyncPlan.h"

#include <QDir>
#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmor::test {
namespace {

using namespace fsops;

QByteArray enc(const QString& p) { return QFile::encodeName(p); }

struct stat lstatOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(enc(path).constData(), &st), 0) << path.toStdString();
    return st;
}

FileXattrs attrsOf(const QString& path)
{
    PathAt e(path);
    FileXattrs out;
    EXPECT_TRUE(ReadXattrs(e.at.dir, e.at.name, kMetaAcls | kMetaXattrs, out)) << path.toStdString();
    return out;
}

void setAttr(const QString& path, const char* name, const QByteArray& value)
{
    ASSERT_EQ(::lsetxattr(enc(path).constData(), name, value.constData(), size_t(value.size()), 0), 0)
        << name << ": " << std::strerror(errno);
}

// A POSIX ACL as the kernel stores it: a version, then (tag, permissions,
// id) entries in tag order. Its owner, group and other entries are taken
// from mode; one named user (uid) gets read and search, and so the mask.
QByteArray aclBlob(mode_t mode, uid_t uid)
{
    QByteArray b;
    const auto u16 = [&](unsigned v) { b.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&](uint32_t v) { u16(v & 0xffff), u16(v >> 16); };
    const auto entry = [&](unsigned tag, unsigned perm, uint32_t id) { u16(tag), u16(perm), u32(id); };
    u32(2);
    entry(0x01, (mode >> 6) & 7, ~0u);  // the owner
    entry(0x02, 5, uid);               // a named user
    entry(0x04, (mode >> 3) & 7, ~0u);  // the owning group
    entry(0x10, ((mode >> 3) & 7) | 5, ~0u);  // the mask
    entry(0x20, mode & 7, ~0u);         // others
    return b;
}

// A file capability (CAP_NET_BIND_SERVICE permitted), as the kernel stores
// it: any user may read it, only a privileged one set it, and a change of
// owner or data clears it.
QByteArray capBlob()
{
    QByteArray b(20, 0);
    b[3] = 0x02;  // revision 2, little-endian
    b[5] = 0x04;  // permitted: bit 10
    return b;
}

class MetaCopyTest : public SyncFixture {
protected:
    void SetUp() override
    {
        SyncFixture::SetUp();
        root2 = UniqueFd(::open(enc(f2).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(root2.valid());
    }
    void TearDown() override
    {
        setFsHook({});
        SyncFixture::TearDown();
    }
    // An entry below folder 2 that names its place there, as the run's are.
    struct Below2 {
        UniqueFd dir;
        fsops::At at;
        operator const fsops::At&() const { return at; }
    };
    Below2 below2(const QString& rel) const
    {
        const qsizetype slash = rel.lastIndexOf(QLatin1Char('/'));
        Below2 b{openBeneath(root2.get(), nameBytes(slash < 0 ? QString() : rel.left(slash))), {}};
        b.at = fsops::At(b.dir.get(), nameBytes(rel.mid(slash + 1)), p2(rel), root2.get(), nameBytes(rel));
        return b;
    }
    static CopyOptions all()
    {
        CopyOptions opt;
        opt.owners = ::geteuid() == 0;
        opt.meta = kMetaAcls | kMetaXattrs;
        return opt;
    }
    UniqueFd root2;
};

// Each kind of item keeps what it is. Owner changes clear set-ID bits and
// file capabilities, the umask strips bits: the copy has them all the same.
TEST_F(MetaCopyTest, ACopyCarriesOwnerModeAclsAndAttributes)
{
    const bool root = ::geteuid() == 0;
    enum What { File, Link, Folder };
    const struct Case {
        const char* rel;
        What what;
        mode_t mode;
        bool acl;               // an ACL with a named user (and a default one on a folder)
        const char* attr;       // an extended attribute, or none
        bool rootOnly;
    } cases[] = {
        {"plain.txt", File, 0644, false, nullptr, false},
        {"all.txt", File, 0666, false, "user.note", false},
        {"suid", File, 04755, false, "trusted.t", true},
        {"cap", File, 0755, false, "security.capability", true},
        {"sgid", File, 02750, true, nullptr, false},
        {"link", Link, 0777, false, "trusted.l", true},
        {"shared", Folder, 03775, true, "user.d", false},
        {"private", Folder, 0500, false, nullptr, false},
    };
    const ScopedUmask mask(077);
    for (const Case& c : cases) {
        if (c.rootOnly && !root)
            continue;
        const QString p = p1(QLatin1String(c.rel));
        if (c.what == File)
            src(QLatin1String(c.rel), "data");
        else if (c.what == Link)
            ASSERT_EQ(::symlink("plain.txt", enc(p).constData()), 0);
        else
            makeDir(p);
        if (root) {
            ASSERT_EQ(::lchown(enc(p).constData(), 1234, 5678), 0);
        }
        if (c.what != Link) {
            ASSERT_EQ(::chmod(enc(p).constData(), c.mode), 0);
        }
        if (c.acl) {
            setAttr(p, "system.posix_acl_access", aclBlob(c.mode, 4321));
            if (c.what == Folder)
                setAttr(p, "system.posix_acl_default", aclBlob(0750, 4322));
        }
        if (c.attr)
            setAttr(p, c.attr, std::strcmp(c.rel, "cap") == 0 ? capBlob() : QByteArray("v-") + c.rel);
    }
    src(QStringLiteral("shared/in.txt"), "in");
    freezeSource();

    const CopyOptions opt = all();
    for (const Case& c : cases) {
        if (c.rootOnly && !root)
            continue;
        const QString rel = QLatin1String(c.rel);
        const FsResult r = c.what == Folder ? CopyTree(PathAt(p1(rel)), below2(rel), opt)
                                            : CopyItem(PathAt(p1(rel)), below2(rel), opt);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        const struct stat s = lstatOf(p1(rel)), d = lstatOf(p2(rel));
        EXPECT_EQ(d.st_mode, s.st_mode) << c.rel;
        EXPECT_EQ(d.st_uid, root ? uid_t(1234) : ::geteuid()) << c.rel;
        EXPECT_EQ(d.st_gid, root ? gid_t(5678) : ::getegid()) << c.rel;
        EXPECT_EQ(attrsOf(p2(rel)), attrsOf(p1(rel))) << c.rel;
    }
    // What goes into the folder takes its inherited ACL no more than the
    // source file had one: the copy's ACL is the source's.
    EXPECT_EQ(attrsOf(p2(QStringLiteral("shared/in.txt"))), attrsOf(p1(QStringLiteral("shared/in.txt"))));
}

// An attribute the process may not set fails the copy and names it; the
// target stays as it was.
TEST_F(MetaCopyTest, AnAttributeThatCannotBeSetFailsTheCopyNamingIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the source a capability";
    src(QStringLiteral("t.txt"), "new");
    setAttr(p1(QStringLiteral("t.txt")), "security.capability", capBlob());
    dst(QStringLiteral("t.txt"), "old");
    freezeSource();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An ordinary user reads the capability but may not set it.
        ::chmod(enc(tmp.path()).constData(), 0711);
        ::chmod(enc(f2).constData(), 0777);
        ::chmod(enc(p2(QStringLiteral("t.txt"))).constData(), 0666);
        CopyOptions opt;
        opt.meta = kMetaXattrs;
        PathAt s(p1(QStringLiteral("t.txt"))), d(p2(QStringLiteral("t.txt")));
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        const FsResult r = CopyItem(s, d, opt);
        ::_exit(!r.ok() && r.error.contains(QLatin1String("security.capability")) ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(p2(QStringLiteral("t.txt"))), QByteArray("old"));
}

// As an ordinary user the copy of one's own files works: owners are not
// carried and that is no failure; user.* attributes are.
TEST_F(MetaCopyTest, AnOrdinaryUserCopiesOwnFilesWithoutCarryingOwners)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    ASSERT_EQ(::chmod(enc(tmp.path()).constData(), 0711), 0);
    ASSERT_EQ(::chown(enc(f1).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chown(enc(f2).constData(), 65534, 65534), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        const QByteArray a = enc(p1(QStringLiteral("mine.sh")));
        const int fd = ::open(a.constData(), O_WRONLY | O_CREAT, 0700);
        if (fd < 0 || ::write(fd, "x", 1) != 1 || ::close(fd) != 0 || ::fchmodat(AT_FDCWD, a.constData(), 02750, 0) != 0
            || ::setxattr(a.constData(), "user.k", "v", 1, 0) != 0)
            ::_exit(11);
        CopyOptions opt;
        opt.meta = kMetaXattrs;
        const FsResult r = CopyItem(PathAt(p1(QStringLiteral("mine.sh"))), PathAt(p2(QStringLiteral("mine.sh"))), opt);
        char v[4] = {};
        const QByteArray b = enc(p2(QStringLiteral("mine.sh")));
        struct stat st {};
        ::_exit(r.ok() && ::getxattr(b.constData(), "user.k", v, sizeof v) == 1 && v[0] == 'v'
                        && ::stat(b.constData(), &st) == 0 && (st.st_mode & 07777) == 02750
                    ? 0
                    : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    sourceChangedByTest();
}

// While the data goes in, the temporary is open to its owner only, also
// for a source open to all and a set-user-ID program.
TEST_F(MetaCopyTest, TheTemporaryIsNeverMoreOpenThanItsOwnerAllows)
{
    const ScopedUmask mask(0);
    const struct {
        const char* name;
        mode_t mode;
    } cases[] = {{"open.txt", 0666}, {"prog", 04755}, {"none", 0}};
    if (::geteuid() != 0)
        GTEST_SKIP() << "a file of mode 0 cannot be read as an ordinary user";
    for (const auto& c : cases) {
        src(QLatin1String(c.name), "data");
        ASSERT_EQ(::chmod(enc(p1(QLatin1String(c.name))).constData(), c.mode), 0);
    }
    freezeSource();
    for (const auto& c : cases) {
        std::vector<mode_t> seen;
        setFsHook([&](const char* point) {
            if (std::strcmp(point, "copy:data-written") != 0)
                return;
            for (const QString& n : QDir(f2).entryList(QDir::Files | QDir::Hidden))
                if (n.contains(QLatin1String(".velmor~")))
                    seen.push_back(lstatOf(p2(n)).st_mode & 07777);
        });
        ASSERT_TRUE(CopyItem(PathAt(p1(QLatin1String(c.name))), PathAt(p2(QLatin1String(c.name))), all()).ok());
        setFsHook({});
        EXPECT_EQ(seen, std::vector<mode_t>{0600}) << c.name;
        EXPECT_EQ(lstatOf(p2(QLatin1String(c.name))).st_mode & 07777, c.mode) << c.name;
    }
}

// Names of one file, in one folder or in two, stay one file; a later name
// replaces what was there, keeps the old one as a backup, and is copied
// whole once the first copy is gone.
TEST_F(MetaCopyTest, NamesOfOneFileStayOneFile)
{
    src(QStringLiteral("t/a/x"), "shared");
    makeDir(p1(QStringLiteral("t/b")));
    ASSERT_EQ(::link(enc(p1(QStringLiteral("t/a/x"))).constData(), enc(p1(QStringLiteral("t/a/y"))).constData()), 0);
    ASSERT_EQ(::link(enc(p1(QStringLiteral("t/a/x"))).constData(), enc(p1(QStringLiteral("t/b/z"))).constData()), 0);
    src(QStringLiteral("u"), "alone");
    dst(QStringLiteral("w"), "old w");
    dst(QStringLiteral("v"), "old v");
    freezeSource();
    HardLinks links;
    CopyOptions opt;
    opt.links = &links;
    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), below2(QStringLiteral("t")), opt).ok());
    const ino_t ino = lstatOf(p2(QStringLiteral("t/a/x"))).st_ino;
    for (const char* rel : {"t/a/y", "t/b/z"})
        EXPECT_EQ(lstatOf(p2(QLatin1String(rel))).st_ino, ino) << rel;
    EXPECT_EQ(lstatOf(p2(QStringLiteral("t/a/x"))).st_nlink, nlink_t(3));
    EXPECT_NE(ino, lstatOf(p1(QStringLiteral("t/a/x"))).st_ino);

    // A replaced target, and one replaced keeping the old file.
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("t/a/y"))), below2(QStringLiteral("w")), opt).ok());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("w"))).st_ino, ino);
    ASSERT_TRUE(ReplaceKeepingOld(PathAt(p1(QStringLiteral("t/b/z"))), below2(QStringLiteral("v")),
                                  PathAt(bk + QStringLiteral("/v")), nullptr, opt)
                    .ok());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("v"))).st_ino, ino);
    EXPECT_EQ(readFile(bk + QStringLiteral("/v")), QByteArray("old v"));
    // A single-named file is copied, never linked to anything.
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("u"))), below2(QStringLiteral("u")), opt).ok());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("u"))).st_nlink, nlink_t(1));

    // Every name of the first copy gone: the data is copied once more.
    for (const char* rel : {"t/a/x", "t/a/y", "t/b/z", "w", "v"})
        ASSERT_EQ(::unlink(enc(p2(QLatin1String(rel))).constData()), 0);
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("t/b/z"))), below2(QStringLiteral("t/b/z")), opt).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("t/b/z"))), QByteArray("shared"));
    EXPECT_EQ(QDir(p2(QStringLiteral("t/b"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("z")});
}

// FixMeta changes what an item is, never its data, also on an item that
// denies everyone access and on a link; a folder for a file is refused.
TEST_F(MetaCopyTest, FixMetaCorrectsAnItemInPlace)
{
    const bool root = ::geteuid() == 0;
    src(QStringLiteral("f"), "same");
    dst(QStringLiteral("f"), "same", At(5));
    ASSERT_EQ(::chmod(enc(p1(QStringLiteral("f"))).constData(), 04750), 0);
    setAttr(p1(QStringLiteral("f")), "user.a", "1");
    setAttr(p2(QStringLiteral("f")), "user.gone", "x");
    ASSERT_EQ(::chmod(enc(p2(QStringLiteral("f"))).constData(), 0), 0);
    ASSERT_EQ(::symlink("f", enc(p1(QStringLiteral("l"))).constData()), 0);
    ASSERT_EQ(::symlink("f", enc(p2(QStringLiteral("l"))).constData()), 0);
    const struct timespec lt[2] = {{1500000000, 5}, {1500000000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, enc(p1(QStringLiteral("l"))).constData(), lt, AT_SYMLINK_NOFOLLOW), 0);
    makeDir(p1(QStringLiteral("d")));
    makeDir(p2(QStringLiteral("d")));
    setAttr(p1(QStringLiteral("d")), "system.posix_acl_default", aclBlob(0750, 4322));
    if (root) {
        setAttr(p1(QStringLiteral("l")), "trusted.l", "link's own");
        ASSERT_EQ(::lchown(enc(p1(QStringLiteral("f"))).constData(), 1234, 5678), 0);
        ASSERT_EQ(::chmod(enc(p1(QStringLiteral("f"))).constData(), 04750), 0);
        ASSERT_EQ(::lchown(enc(p1(QStringLiteral("l"))).constData(), 1234, 5678), 0);
    }
    freezeSource();

    const ino_t before = lstatOf(p2(QStringLiteral("f"))).st_ino;
    const CopyOptions opt = all();
    for (const char* rel : {"f", "l", "d"}) {
        const QString r = QLatin1String(rel);
        QString what;
        const FsResult res = FixMeta(PathAt(p1(r)), PathAt(p2(r)), opt, true, &what);
        ASSERT_TRUE(res.ok()) << res.error.toStdString();
        const struct stat s = lstatOf(p1(r)), d = lstatOf(p2(r));
        EXPECT_EQ(d.st_mode, s.st_mode) << rel;
        EXPECT_EQ(d.st_uid, s.st_uid) << rel;
        EXPECT_EQ(d.st_gid, s.st_gid) << rel;
        EXPECT_EQ(d.st_mtim.tv_sec, s.st_mtim.tv_sec) << rel;
        EXPECT_EQ(d.st_mtim.tv_nsec, s.st_mtim.tv_nsec) << rel;
        EXPECT_EQ(attrsOf(p2(r)), attrsOf(p1(r))) << rel;
        EXPECT_TRUE(!what.isEmpty() || r == QLatin1String("l")) << rel;
    }
    EXPECT_EQ(lstatOf(p2(QStringLiteral("f"))).st_ino, before);
    EXPECT_EQ(readFile(p2(QStringLiteral("f"))), QByteArray("same"));
    // Nothing left to do: nothing is named.
    QString what;
    ASSERT_TRUE(FixMeta(PathAt(p1(QStringLiteral("f"))), PathAt(p2(QStringLiteral("f"))), opt, true, &what).ok());
    EXPECT_EQ(what, QString());

    // A volume that keeps no modes is never asked for one.
    ASSERT_EQ(::chmod(enc(p2(QStringLiteral("f"))).constData(), 0644), 0);
    VolumeCaps fat;
    fat.keepsModes = false;
    CopyOptions onFat = opt;
    onFat.volume = &fat;
    ASSERT_TRUE(FixMeta(PathAt(p1(QStringLiteral("f"))), PathAt(p2(QStringLiteral("f"))), onFat, false).ok());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("f"))).st_mode & 07777, mode_t(0644));

    const FsResult mismatch = FixMeta(PathAt(p1(QStringLiteral("f"))), PathAt(p2(QStringLiteral("d"))), opt, true);
    EXPECT_FALSE(mismatch.ok());
    EXPECT_TRUE(lstatOf(p2(QStringLiteral("d"))).st_mode & S_IFDIR);
}

// The rows: a file's metadata corrected and logged, no backup made; a
// folder's times from its twin, a missing twin being no failure.
TEST_F(MetaCopyTest, MetaRowsAndFolderTimes)
{
    src(QStringLiteral("d/f.txt"), "same", At(1));
    dst(QStringLiteral("d/f.txt"), "same", At(2));
    ASSERT_EQ(::chmod(enc(p1(QStringLiteral("d/f.txt"))).constData(), 0600), 0);
    const struct timespec t[2] = {{1400000000, 0}, {1400000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, enc(p1(QStringLiteral("d"))).constData(), t, 0), 0);
    SyncCtx c = ctx(true, true, false);
    c.meta = kMetaXattrs;

    QString why;
    EXPECT_EQ(SyncMeta(c, QStringLiteral("d/f.txt"), St::Over, false, &why), St::Over) << why.toStdString();
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d/f.txt"))).st_mode & 07777, mode_t(0600));
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d/f.txt"))).st_mtim.tv_sec, lstatOf(p1(QStringLiteral("d/f.txt"))).st_mtim.tv_sec);
    EXPECT_EQ(logged(), QStringList{logtx::metaFixed(p2(QStringLiteral("d/f.txt")), QStringLiteral("属性"))});
    EXPECT_FALSE(Exists(bk + QStringLiteral("/BackUp")));
    EXPECT_EQ(SyncMeta(c, QStringLiteral("d/none"), St::Over, false, &why), St::Over + kErrSuffix);

    EXPECT_EQ(SyncFolderTimes(c, QStringLiteral("d")), QString());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d"))).st_mtim.tv_sec, 1400000000);
    for (const char* gone : {"only1", "e/deeper"}) {
        makeDir(p2(QLatin1String(gone)));
        EXPECT_EQ(SyncFolderTimes(c, QLatin1String(gone)), QString()) << gone;
    }
}

} // namespace
} // namespace velmor::test
