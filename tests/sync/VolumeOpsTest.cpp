// Copies onto the volumes users synchronise to, mounted from image files:
// FAT, exFAT and NTFS through their FUSE drivers.
#include "SyncFixture.h"

#include "common/VolumeImage.h"
#include "compare/Compare.h"
#include "env/Trash.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace velmor::test {
namespace {

using namespace fsops;
using Type = VolumeImage::Type;

class VolumeOpsTest : public SyncFixture {};

// A volume that holds no modes refuses or ignores setting them: every copy
// still stays whole, read-only source folders included.
TEST_F(VolumeOpsTest, CopiesOntoAVolumeWithoutModesStay)
{
    src(QStringLiteral("f.txt"), "file");
    ASSERT_EQ(::chmod(QFile::encodeName(p1(QStringLiteral("f.txt"))).constData(), 0640), 0);
    src(QStringLiteral("t/in/g.txt"), "deep");
    ASSERT_EQ(::chmod(QFile::encodeName(p1(QStringLiteral("t/in"))).constData(), 0555), 0);  // widened while filled
    struct stat like {};
    ASSERT_EQ(::stat(QFile::encodeName(p1(QStringLiteral("t/in"))).constData(), &like), 0);
    freezeSource();
    for (const Type type : {Type::Fat, Type::Exfat, Type::Ntfs}) {
        SCOPED_TRACE(VolumeImage::name(type));
        VolumeImage vol(type);
        if (!vol.ok()) {
            std::printf("skipped on %s: %s\n", VolumeImage::name(type), qPrintable(vol.reason()));
            continue;
        }
        const QString v = vol.path();
        EXPECT_EQ(CopyItem(PathAt(p1(QStringLiteral("f.txt"))), PathAt(v + QStringLiteral("/f.txt"))).error, QString());
        EXPECT_EQ(readFile(v + QStringLiteral("/f.txt")), QByteArray("file"));
        EXPECT_EQ(MakeDir(PathAt(v + QStringLiteral("/made")), &like).error, QString());
        EXPECT_EQ(CopyTree(PathAt(p1(QStringLiteral("t"))), PathAt(v + QStringLiteral("/t"))).error, QString());
        EXPECT_EQ(readFile(v + QStringLiteral("/t/in/g.txt")), QByteArray("deep"));
    }
    // The source's read-only folder is made removable again for the clean-up.
    ASSERT_EQ(::chmod(QFile::encodeName(p1(QStringLiteral("t/in"))).constData(), 0755), 0);
    sourceChangedByTest();
}

// A new folder copied whole onto FAT, where one name is refused: the rest is
// copied, the refused item is named with its reason and the row fails.
TEST_F(VolumeOpsTest, AFolderCopyGoesOnPastItemsTheVolumeRefuses)
{
    VolumeImage vol(Type::Fat);
    if (!vol.ok())
        GTEST_SKIP() << vol.reason().toStdString();
    for (const char* rel : {"n/a.txt", "n/b?.txt", "n/c.txt", "n/sub/d.txt"})
        src(QLatin1String(rel), rel);
    ASSERT_TRUE(SetRoots(session, f1, vol.path()));
    folderRow(QStringLiteral("n"), St::Add);
    const SyncReport rep = run();
    EXPECT_EQ(rep.failed, 1);
    EXPECT_TRUE(session.vSpr.row(0).result.toString().endsWith(QLatin1String(" Err")));
    for (const char* rel : {"n/a.txt", "n/c.txt", "n/sub/d.txt"})
        EXPECT_EQ(readFile(vol.path() + QLatin1Char('/') + QLatin1String(rel)), QByteArray(rel));
    EXPECT_FALSE(QFileInfo::exists(vol.path() + QStringLiteral("/n/b?.txt")));
    ASSERT_EQ(rep.leftOut.size(), 1) << rep.leftOut.join(u'\n').toStdString();
    EXPECT_TRUE(rep.leftOut[0].contains(QStringLiteral("b?.txt"))) << rep.leftOut[0].toStdString();
    EXPECT_TRUE(rep.leftOut[0].contains(QLatin1String(std::strerror(EPERM)))) << rep.leftOut[0].toStdString();
}

// fusefat writes a renamed folder without its entries: a folder moved within
// such a volume (a backup kept on folder 2's stick) is copied, then removed.
TEST_F(VolumeOpsTest, AFolderMovedWithinFatKeepsWhatItHolds)
{
    VolumeImage vol(Type::Fat);
    if (!vol.ok())
        GTEST_SKIP() << vol.reason().toStdString();
    const QString v = vol.path();
    writeFile(v + QStringLiteral("/a/x.txt"), "x");
    writeFile(v + QStringLiteral("/a/in/y.txt"), "y");
    makeDir(v + QStringLiteral("/keep"));
    EXPECT_EQ(MoveItem(PathAt(v + QStringLiteral("/a")), PathAt(v + QStringLiteral("/keep/a"))).error, QString());
    ASSERT_TRUE(vol.remount());
    EXPECT_EQ(readFile(v + QStringLiteral("/keep/a/x.txt")), QByteArray("x"));
    EXPECT_EQ(readFile(v + QStringLiteral("/keep/a/in/y.txt")), QByteArray("y"));
    EXPECT_FALSE(QFileInfo::exists(v + QStringLiteral("/a")));

    // Nor is a folder put into the volume's trash, where it would arrive empty.
    const UniqueFd top(::open(QFile::encodeName(v).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_FALSE(TrashAt(top.get(), "keep", v + QStringLiteral("/keep")).isEmpty());
    EXPECT_EQ(readFile(v + QStringLiteral("/keep/a/x.txt")), QByteArray("x"));
}

} // namespace
} // namespace velmor::test
