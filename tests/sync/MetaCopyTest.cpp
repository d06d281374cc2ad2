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
#include <set>
#include <tuple>

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

// Each kind of item keeps what it is, whatever the umask strips; a change
// of owner clears set-ID bits and file capabilities, yet the copy has them.
// While its data goes in, a temporary is open to its owner only.
TEST_F(MetaCopyTest, ACopyCarriesOwnerModeAclsAndAttributes)
{
    const bool root = ::geteuid() == 0;
    enum What { File, Link, Folder };
    const struct Case {
        const char* rel;
        What what;
        mode_t mode;
        bool acl;          // an ACL with a named user (and a default one on a folder)
        const char* attr;  // an extended attribute, or none
    } cases[] = {
        {"all.txt", File, 0666, false, "user.note"}, {"none", File, 0, false, nullptr},
        {"sgid", File, 02750, true, nullptr},        {"suid", File, 04755, false, root ? "trusted.t" : nullptr},
        {"cap", File, 0755, false, root ? "security.capability" : nullptr},
        {"link", Link, 0777, false, root ? "trusted.l" : nullptr},
        {"shared", Folder, 03775, true, "user.d"},   {"private", Folder, 0500, false, nullptr},
    };
    const ScopedUmask mask(077);
    for (const Case& c : cases) {
        const QString p = p1(QLatin1String(c.rel));
        c.what == File ? src(QLatin1String(c.rel), "data") : makeDir(p);
        if (c.what == Link) {
            ASSERT_EQ(::rmdir(enc(p).constData()), 0);
            ASSERT_EQ(::symlink("all.txt", enc(p).constData()), 0);
        }
        if (root) {
            ASSERT_EQ(::lchown(enc(p).constData(), 1234, 5678), 0);
        }
        if (c.what != Link) {
            ASSERT_EQ(::chmod(enc(p).constData(), c.mode), 0);
        }
        if (c.acl)
            setAttr(p, "system.posix_acl_access", aclBlob(c.mode, 4321));
        if (c.acl && c.what == Folder)
            setAttr(p, "system.posix_acl_default", aclBlob(0750, 4322));
        if (c.attr)
            setAttr(p, c.attr, std::strcmp(c.rel, "cap") == 0 ? capBlob() : QByteArray("v-") + c.rel);
    }
    src(QStringLiteral("shared/in.txt"), "in");
    freezeSource();

    std::set<mode_t> whileWritten;
    setFsHook([&](const char* point) {
        if (std::strcmp(point, "copy:data-written") == 0)
            for (const QString& n : QDir(f2).entryList({QStringLiteral("*.velmor~*")}, QDir::Files | QDir::Hidden))
                whileWritten.insert(lstatOf(p2(n)).st_mode & 07777);
    });
    for (const Case& c : cases) {
        const QString rel = QLatin1String(c.rel);
        const FsResult r = c.what == Folder ? CopyTree(PathAt(p1(rel)), below2(rel), all())
                                            : CopyItem(PathAt(p1(rel)), below2(rel), all());
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        const struct stat s = lstatOf(p1(rel)), d = lstatOf(p2(rel));
        EXPECT_EQ(d.st_mode, s.st_mode) << c.rel;
        EXPECT_EQ(d.st_uid, s.st_uid) << c.rel;
        EXPECT_EQ(d.st_gid, s.st_gid) << c.rel;
        EXPECT_EQ(attrsOf(p2(rel)), attrsOf(p1(rel))) << c.rel;
    }
    // The folder's inherited ACL does not stick to what goes in.
    EXPECT_EQ(attrsOf(p2(QStringLiteral("shared/in.txt"))), attrsOf(p1(QStringLiteral("shared/in.txt"))));
    EXPECT_EQ(whileWritten, std::set<mode_t>{0600});
}

// An ordinary user copies own files: owners are not carried and that is
// no failure, user.* attributes and set-ID bits are; a capability, which
// such a user may not set, fails the copy naming it, the target unchanged.
TEST_F(MetaCopyTest, AnOrdinaryUserCopiesOwnFilesAndIsRefusedACapability)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    src(QStringLiteral("cap"), "new");
    setAttr(p1(QStringLiteral("cap")), "security.capability", capBlob());
    dst(QStringLiteral("cap"), "old");
    for (const QString& p : {tmp.path(), f1, f2, p2(QStringLiteral("cap"))})
        ASSERT_EQ(::chmod(enc(p).constData(), p == tmp.path() ? 0711 : 0777), 0);
    freezeSource();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        const QByteArray a = enc(p1(QStringLiteral("mine.sh"))), b = enc(p2(QStringLiteral("mine.sh")));
        const int fd = ::open(a.constData(), O_WRONLY | O_CREAT, 0700);
        if (fd < 0 || ::close(fd) != 0 || ::chmod(a.constData(), 02750) != 0
            || ::setxattr(a.constData(), "user.k", "v", 1, 0) != 0)
            ::_exit(11);
        CopyOptions opt;
        opt.meta = kMetaXattrs;
        struct stat st {};
        if (!CopyItem(PathAt(p1(QStringLiteral("mine.sh"))), PathAt(p2(QStringLiteral("mine.sh"))), opt).ok()
            || ::getxattr(b.constData(), "user.k", nullptr, 0) != 1 || ::stat(b.constData(), &st) != 0
            || (st.st_mode & 07777) != 02750)
            ::_exit(12);
        const FsResult r = CopyItem(PathAt(p1(QStringLiteral("cap"))), PathAt(p2(QStringLiteral("cap"))), opt);
        ::_exit(!r.ok() && r.error.contains(QLatin1String("security.capability")) ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(p2(QStringLiteral("cap"))), QByteArray("old"));
    sourceChangedByTest();
}

// Names of one file, in one folder or in two, stay one file, also over a
// target that was there and one kept as a backup; once every name of the
// first copy is gone, the data is copied again.
TEST_F(MetaCopyTest, NamesOfOneFileStayOneFile)
{
    src(QStringLiteral("t/a/x"), "shared");
    makeDir(p1(QStringLiteral("t/b")));
    for (const char* rel : {"t/a/y", "t/b/z"})
        ASSERT_EQ(::link(enc(p1(QStringLiteral("t/a/x"))).constData(), enc(p1(QLatin1String(rel))).constData()), 0);
    src(QStringLiteral("u"), "alone");
    dst(QStringLiteral("w"), "old w");
    dst(QStringLiteral("v"), "old v");
    freezeSource();
    HardLinks links;
    CopyOptions opt;
    opt.links = &links;
    ASSERT_TRUE(CopyTree(PathAt(p1(QStringLiteral("t"))), below2(QStringLiteral("t")), opt).ok());
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("t/a/y"))), below2(QStringLiteral("w")), opt).ok());
    ASSERT_TRUE(ReplaceKeepingOld(PathAt(p1(QStringLiteral("t/b/z"))), below2(QStringLiteral("v")),
                                  PathAt(bk + QStringLiteral("/v")), nullptr, opt)
                    .ok());
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("u"))), below2(QStringLiteral("u")), opt).ok());
    const ino_t ino = lstatOf(p2(QStringLiteral("t/a/x"))).st_ino;
    for (const char* rel : {"t/a/y", "t/b/z", "w", "v"})
        EXPECT_EQ(lstatOf(p2(QLatin1String(rel))).st_ino, ino) << rel;
    EXPECT_EQ(readFile(bk + QStringLiteral("/v")), QByteArray("old v"));
    EXPECT_EQ(lstatOf(p2(QStringLiteral("u"))).st_nlink, nlink_t(1));

    for (const char* rel : {"t/a/x", "t/a/y", "t/b/z", "w", "v"})
        ASSERT_EQ(::unlink(enc(p2(QLatin1String(rel))).constData()), 0);
    ASSERT_TRUE(CopyItem(PathAt(p1(QStringLiteral("t/b/z"))), below2(QStringLiteral("t/b/z")), opt).ok());
    EXPECT_EQ(readFile(p2(QStringLiteral("t/b/z"))), QByteArray("shared"));
    EXPECT_EQ(QDir(p2(QStringLiteral("t/b"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("z")});
}

// FixMeta changes what an item is, never its data, also on a file that
// denies everyone access and on a link; a folder for a file is refused.
TEST_F(MetaCopyTest, FixMetaCorrectsAnItemInPlace)
{
    const bool root = ::geteuid() == 0;
    src(QStringLiteral("f"), "same");
    dst(QStringLiteral("f"), "same", At(5));
    setAttr(p1(QStringLiteral("f")), "user.a", "1");
    setAttr(p2(QStringLiteral("f")), "user.gone", "x");
    ASSERT_EQ(::chmod(enc(p2(QStringLiteral("f"))).constData(), 0), 0);
    for (const QString& l : {p1(QStringLiteral("l")), p2(QStringLiteral("l"))})
        ASSERT_EQ(::symlink("f", enc(l).constData()), 0);
    const struct timespec lt[2] = {{1500000000, 5}, {1500000000, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, enc(p1(QStringLiteral("l"))).constData(), lt, AT_SYMLINK_NOFOLLOW), 0);
    makeDir(p1(QStringLiteral("d")));
    makeDir(p2(QStringLiteral("d")));
    setAttr(p1(QStringLiteral("d")), "system.posix_acl_default", aclBlob(0750, 4322));
    if (root) {
        setAttr(p1(QStringLiteral("l")), "trusted.l", "the link's own");
        for (const char* rel : {"f", "l"})
            ASSERT_EQ(::lchown(enc(p1(QLatin1String(rel))).constData(), 1234, 5678), 0);
    }
    ASSERT_EQ(::chmod(enc(p1(QStringLiteral("f"))).constData(), 04750), 0);
    freezeSource();

    const ino_t before = lstatOf(p2(QStringLiteral("f"))).st_ino;
    for (const char* rel : {"f", "l", "d", "f"}) {
        const QString r = QLatin1String(rel);
        const FsResult res = FixMeta(PathAt(p1(r)), PathAt(p2(r)), all(), true);
        ASSERT_TRUE(res.ok()) << res.error.toStdString();
        const struct stat s = lstatOf(p1(r)), d = lstatOf(p2(r));
        EXPECT_EQ(std::tuple(d.st_mode, d.st_uid, d.st_gid, d.st_mtim.tv_sec, d.st_mtim.tv_nsec),
                  std::tuple(s.st_mode, s.st_uid, s.st_gid, s.st_mtim.tv_sec, s.st_mtim.tv_nsec))
            << rel;
        EXPECT_EQ(attrsOf(p2(r)), attrsOf(p1(r))) << rel;
    }
    EXPECT_EQ(lstatOf(p2(QStringLiteral("f"))).st_ino, before);
    EXPECT_EQ(readFile(p2(QStringLiteral("f"))), QByteArray("same"));

    // A volume that keeps no modes is never asked for one.
    ASSERT_EQ(::chmod(enc(p2(QStringLiteral("f"))).constData(), 0644), 0);
    VolumeCaps fat;
    fat.keepsModes = false;
    CopyOptions onFat = all();
    onFat.volume = &fat;
    ASSERT_TRUE(FixMeta(PathAt(p1(QStringLiteral("f"))), PathAt(p2(QStringLiteral("f"))), onFat, false).ok());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("f"))).st_mode & 07777, mode_t(0644));
    EXPECT_FALSE(FixMeta(PathAt(p1(QStringLiteral("f"))), PathAt(p2(QStringLiteral("d"))), all(), true).ok());
}

// A row's metadata corrected and logged, nothing backed up; a folder's
// times from its twin, a missing twin being no failure.
TEST_F(MetaCopyTest, MetaRowsAndFolderTimes)
{
    src(QStringLiteral("d/f.txt"), "same", At(1));
    dst(QStringLiteral("d/f.txt"), "same", At(2));
    ASSERT_EQ(::chmod(enc(p1(QStringLiteral("d/f.txt"))).constData(), 0600), 0);
    const struct timespec t[2] = {{1400000000, 0}, {1400000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, enc(p1(QStringLiteral("d"))).constData(), t, 0), 0);
    SyncCtx c = ctx(true, true, false);
    QString why;
    EXPECT_EQ(SyncMeta(c, QStringLiteral("d/f.txt"), St::Over, false, &why), St::Over) << why.toStdString();
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d/f.txt"))).st_mode & 07777, mode_t(0600));
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d/f.txt"))).st_mtim.tv_sec, lstatOf(p1(QStringLiteral("d/f.txt"))).st_mtim.tv_sec);
    EXPECT_EQ(logged(), QStringList{logtx::metaFixed(p2(QStringLiteral("d/f.txt")), QStringLiteral("ｱｸｾｽ権"))});
    EXPECT_FALSE(Exists(bk + QStringLiteral("/BackUp")));
    // A twin missing, or its folder: the row fails and nothing is made.
    sourceChangedByTest();
    src(QStringLiteral("g/f.txt"), "only in folder 1");
    for (const char* rel : {"d/none", "g/f.txt"})
        EXPECT_EQ(SyncMeta(c, QLatin1String(rel), St::Over, false, &why), St::Over + kErrSuffix) << rel;
    EXPECT_FALSE(Exists(p2(QStringLiteral("g"))));

    EXPECT_EQ(SyncFolderTimes(c, QStringLiteral("d")), QString());
    EXPECT_EQ(lstatOf(p2(QStringLiteral("d"))).st_mtim.tv_sec, 1400000000);
    for (const char* gone : {"only2", "e/deeper"}) {
        makeDir(p2(QLatin1String(gone)));
        EXPECT_EQ(SyncFolderTimes(c, QLatin1String(gone)), QString()) << gone;
    }
}

} // namespace
} // namespace velmor::test
