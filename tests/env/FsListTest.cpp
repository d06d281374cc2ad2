// Folder listings: what a Folders listing says about the subfolders of each
// folder it lists.
#include "common/TestSupport.h"
#include "env/FsDir.h"
#include "env/FsList.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace velmor;
using velmor::test::makeDir;
using velmor::test::writeFile;

namespace {

std::map<QString, bool> noSubfolders(const QString& dir)
{
    std::map<QString, bool> out;
    for (const FsEntry& e : FsList(dir, FsKind::Folders))
        out[e.name] = e.noSubfolders;
    return out;
}

} // namespace

TEST(FsListTest, FolderWithSubfoldersIsNeverSaidToHaveNone)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString r = tmp.path();
    makeDir(r + "/deep/one");
    makeDir(r + "/many/a");
    makeDir(r + "/many/b");
    makeDir(r + "/files");
    writeFile(r + "/files/x.txt", "x");
    writeFile(r + "/files/y", "y");
    makeDir(r + "/empty");
    makeDir(r + "/linked");
    ASSERT_TRUE(QFile::link(r + "/deep", r + "/linked/toDeep"));  // a link is not a subfolder
    makeDir(r + "/emptied/gone");

    // A files listing that asks for nothing else lists links as files.
    const std::vector<FsEntry> inLinked = FsList(r + "/linked", FsKind::Files);
    ASSERT_EQ(inLinked.size(), 1u);
    EXPECT_EQ(inLinked[0].name, QStringLiteral("toDeep"));

    auto got = noSubfolders(r);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_FALSE(got["deep"]);
    EXPECT_FALSE(got["many"]);
    EXPECT_FALSE(got["emptied"]);

    // Once its last subfolder is gone, a folder may be known to hold none.
    ASSERT_TRUE(QDir(r + "/emptied/gone").removeRecursively());
    got = noSubfolders(r);
    EXPECT_FALSE(got["deep"]);
    EXPECT_FALSE(got["many"]);
    // Where the file system counts subfolders in the link count (ext4, XFS
    // and tmpfs, where the tests normally run), folders without any are known.
    const bool known = got["files"];
    if (!known)
        GTEST_SKIP() << "this file system's link counts are not trusted";
    EXPECT_TRUE(got["empty"]);
    EXPECT_TRUE(got["linked"]);
    EXPECT_TRUE(got["emptied"]);
    for (const FsEntry& e : FsList(r, FsKind::Files))
        EXPECT_FALSE(e.noSubfolders);
}

// ext4 counts the links of a folder up to 65,000; past that the count
// stays 1, whatever the folder holds later. Such a folder is never said to
// hold no folders. (An image whose folder has that count stands in for one
// with 65,000 subfolders.)
TEST(FsListTest, AFolderPastTheLinkCountLimitIsNeverSaidToHaveNone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a file system image needs root";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString r = tmp.path(), img = r + "/ext4.img", mnt = r + "/mnt";
    makeDir(r + "/tree/many/sub");
    makeDir(r + "/tree/none");
    makeDir(mnt);
    const auto tool = [](const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        return p.waitForFinished(30'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    if (!tool("mkfs.ext4", {"-q", "-F", "-d", r + "/tree", img, "1M"})
        || !tool("debugfs", {"-w", "-R", "sif /many links_count 1", img}))
        GTEST_SKIP() << "mkfs.ext4 or debugfs cannot make the image here";
    if (!tool("mount", {"-o", "loop,ro", img, mnt}))
        GTEST_SKIP() << "cannot mount a loop device here";
    struct Unmount {
        QString at;
        ~Unmount() { QProcess::execute("umount", {at}); }
    } unmount{mnt};
    const auto got = noSubfolders(mnt);
    EXPECT_FALSE(got.at("many"));
    EXPECT_TRUE(got.at("none"));
}

TEST(FsListTest, AnOpenFolderListsWholeEveryTimeInNameOrder)
{
    // More names than one read of the folder returns, listed twice through
    // the same descriptor (a second listing starts from the beginning), with
    // a temporary file, a folder and a link among them.
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString r = tmp.path();
    QStringList want;
    for (int i = 0; i < 1600; ++i) {
        const QString name = QStringLiteral("%1-long-enough-name-%2.dat").arg(i % 2 ? "B" : "a").arg(i, 4, 10, QLatin1Char('0'));
        writeFile(r + QLatin1Char('/') + name, QByteArray());
        want << name;
    }
    ASSERT_TRUE(QFile::link(r + "/a-long-enough-name-0000.dat", r + "/link"));
    want << QStringLiteral("link");
    std::sort(want.begin(), want.end(), nameLess);
    makeDir(r + "/sub");
    writeFile(r + "/.x" + QLatin1String(kTmpTag) + "abc123", "t");
    test::markAsTemp(r + "/.x" + QLatin1String(kTmpTag) + "abc123");
    const int fd = ::open(QFile::encodeName(r).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int pass = 0; pass < 2; ++pass) {
        FsLeftOut left;
        QStringList got;
        for (const FsEntry& e : FsListAt(fd, r, FsKind::Files, &left))
            got << e.name;
        EXPECT_EQ(got, want) << "pass " << pass;
        EXPECT_TRUE(left.temps);
    }
    ::close(fd);
}

// Permissions are compared only where the volume keeps them as set: the
// disk the tests run on and a tmpfs do, the kernel's own views do not.
TEST(FsListTest, VolumesThatKeepPermissionsAreTold)
{
    QTemporaryDir tmp;
    const struct {
        QString path;
        bool keeps;
    } cases[] = {{tmp.path(), true}, {QStringLiteral("/dev/shm"), true}, {QStringLiteral("/proc"), false},
                 {QStringLiteral("/sys"), false}};
    for (const auto& c : cases) {
        const UniqueFd fd(::open(QFile::encodeName(c.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.valid()) {
            std::printf("%s cannot be opened here; not checked\n", qPrintable(c.path));
            continue;
        }
        EXPECT_EQ(FsKeepsModes(fd.get()), c.keeps) << c.path.toStdString();
    }
}
