// What a destination volume can hold, tried on the real thing: a local
// folder and the volumes users synchronise to, made at test time.
#include "common/VolumeImage.h"
#include "env/FsDir.h"
#include "env/VolumeCaps.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {
namespace {

using test::VolumeImage;

struct Expected {
    const char* what;
    bool local;
    VolumeImage::Type type;
    bool foldsCase, preservesCase, windowsNames, holdsLinks, keepsModes, twoSecondTimes, holdsXattrs, holdsAcls;
};

TEST(VolumeCapsTest, EachVolumeIsTriedForWhatItHolds)
{
    const Expected cases[] = {
        {"local folder", true, VolumeImage::Type::Fat, false, true, false, true, true, false, true, true},
        {"FAT", false, VolumeImage::Type::Fat, true, true, true, false, false, true, false, false},
        {"exFAT", false, VolumeImage::Type::Exfat, true, true, true, false, false, false, false, false},
        // ntfs-3g's ignore_case lists every name in lower case; user.* attributes are named streams
        {"NTFS", false, VolumeImage::Type::Ntfs, true, false, true, true, false, false, true, false},
        {"no attributes", false, VolumeImage::Type::NoXattrs, false, true, false, true, true, false, false, false},
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir local;
        std::unique_ptr<VolumeImage> vol;
        QString dir = local.path();
        if (!c.local) {
            vol = std::make_unique<VolumeImage>(c.type);
            if (!vol->ok()) {
                std::printf("%s\n", qPrintable(vol->reason()));
                continue;
            }
            dir = vol->path();
        }
        ASSERT_TRUE(QDir(dir).mkdir("d"));
        const UniqueFd fd(::open(QFile::encodeName(dir + "/d").constData(), O_RDONLY | O_DIRECTORY));
        ASSERT_TRUE(fd.valid());
        const struct timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(::futimens(fd.get(), old), 0);

        const VolumeCaps caps = ProbeVolume(fd.get());
        EXPECT_EQ(caps.foldsCase, c.foldsCase);
        EXPECT_EQ(caps.preservesCase, c.preservesCase);
        EXPECT_EQ(caps.windowsNames, c.windowsNames);
        EXPECT_EQ(caps.holdsLinks, c.holdsLinks);
        EXPECT_EQ(caps.keepsModes, c.keepsModes);
        EXPECT_EQ(caps.twoSecondTimes, c.twoSecondTimes);
        EXPECT_EQ(caps.holdsXattrs, c.holdsXattrs);
        EXPECT_EQ(caps.holdsAcls, c.holdsAcls);
        EXPECT_EQ(caps.refusal(u"a?b.txt").isEmpty(), !c.windowsNames);
        EXPECT_EQ(caps.refusal(QString(200, QChar(0x3042))).isEmpty(), c.windowsNames);  // 600 bytes, 200 characters

        // Nothing of the probe stays, and the folder's time is as it was.
        EXPECT_TRUE(QDir(dir + "/d").entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty());
        struct stat st {};
        ASSERT_EQ(::fstat(fd.get(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1'000'000'000);
    }
}

} // namespace
} // namespace velmor
