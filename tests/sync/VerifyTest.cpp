// Copies read back before they are put in place (CopyOptions::verify).
// Folder 2 lies on an ext4 volume on a loop device; at "copy:verify" the
// test writes other bytes into the temporary's blocks in the image file,
// below the file system's cache, as a failing disk or cable would leave
// them: a read-back that came from the cache would not see them.
#include "SyncFixture.h"
#include "common/VolumeImage.h"
#include "sync/FsOps.h"
#include "sync/SyncPlan.h"
#include "sync/SyncRun.h"

#include <QDir>

#include <atomic>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmor::test {
namespace {

using namespace fsops;

const QByteArray kOld = QByteArray(70'000, 'o');

// Source bytes no other file of the volume holds.
QByteArray newBytes(int n)
{
    QByteArray b;
    for (int i = 0; b.size() < 200'000; ++i)
        b += QByteArray::number(n * 1'000'000 + i) + ' ';
    return b;
}

class ReadBackFixture : public SyncFixture {
protected:
    // A run with the read-back and the log on, and to copy: a.bin over an
    // older file (a file row) and the folder d of two files (added whole).
    void rowsToReadBack()
    {
        src(QStringLiteral("a.bin"), newBytes(1));
        dst(QStringLiteral("a.bin"), kOld);
        src(QStringLiteral("d/b.bin"), newBytes(2));
        src(QStringLiteral("d/c.bin"), newBytes(3));
        fileRow(QString(), QStringLiteral("a"), QStringLiteral("bin"), QStringLiteral("上書"));
        folderRow(QStringLiteral("d"), QStringLiteral("追加"));
        options(true, false, false);
        session.panel.chVerify = true;
    }
};

class VerifyTest : public ReadBackFixture {
protected:
    void SetUp() override
    {
        ReadBackFixture::SetUp();
        vol = std::make_unique<VolumeImage>(VolumeImage::Type::Ext4, 32);
        if (!vol->ok())
            GTEST_SKIP() << vol->reason().toStdString();
        f2 = vol->path() + QStringLiteral("/mirror");
        makeDir(f2);
        ASSERT_TRUE(SetRoots(session, f1, f2));
    }
    void TearDown() override
    {
        setFsHook({});
        SyncFixture::TearDown();
        vol.reset();
    }

    // Counts the read-backs; the first alterations of them find other bytes
    // in the first blocks of the temporaries in folder 2's root on the
    // volume. Copies written ahead read back on a thread of their own.
    void alterAtReadBack(int alterations)
    {
        reads = 0;
        setFsHook([this, alterations](const char* point) {
            if (std::strcmp(point, "copy:verify") != 0)
                return;
            if (reads++ < alterations)
                alterTemps();
        });
    }

    // Overwrites the start of every temporary of folder 2's root where its
    // first extent lies in the image file (one still empty or gone already
    // is left alone).
    void alterTemps()
    {
        const UniqueFd image(::open(QFile::encodeName(vol->backing()).constData(), O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(image.valid());
        for (const QString& n : QDir(f2).entryList(QDir::Files | QDir::Hidden)) {
            if (!n.contains(QLatin1String(".velmor~")))
                continue;
            const UniqueFd f(::open(QFile::encodeName(p2(n)).constData(), O_RDONLY | O_CLOEXEC));
            if (!f.valid())
                continue;
            // A fiemap followed by room for one extent.
            alignas(struct fiemap) char buf[sizeof(struct fiemap) + sizeof(struct fiemap_extent)] {};
            auto* map = reinterpret_cast<struct fiemap*>(buf);
            map->fm_length = FIEMAP_MAX_OFFSET;
            map->fm_flags = FIEMAP_FLAG_SYNC;
            map->fm_extent_count = 1;
            ASSERT_EQ(::ioctl(f.get(), FS_IOC_FIEMAP, map), 0) << std::strerror(errno);
            if (map->fm_mapped_extents != 1)
                continue;
            const char other[] = "altered on the volume";
            ASSERT_EQ(::pwrite(image.get(), other, sizeof other, off_t(map->fm_extents[0].fe_physical)), ssize_t(sizeof other));
        }
    }

    std::unique_ptr<VolumeImage> vol;
    std::atomic<int> reads = 0;
};

TEST_F(VerifyTest, ACopyThatReadsBackDifferentlyIsWrittenAgainOnceThenFails)
{
    struct Case {
        const char* name;
        bool verify;
        int alterations;  // read-backs that find other bytes
        int reads;        // read-backs expected
        bool ok;
    };
    const Case cases[] = {
        {"verify off: nothing is read back", false, 9, 0, true},
        {"read back alike: no second copy", true, 0, 1, true},
        {"altered once: the second copy reads back alike", true, 1, 2, true},
        {"altered every time: the copy fails", true, 9, 2, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString rel = QStringLiteral("f%1.bin").arg(++n);
        src(rel, newBytes(n));
        dst(rel, kOld);
        CopyOptions opt;
        opt.verify = c.verify;
        VerifyCounts counts;
        opt.verified = &counts;
        alterAtReadBack(c.alterations);
        const FsResult r = CopyItem(PathAt(p1(rel)), PathAt(p2(rel)), opt);
        setFsHook({});
        EXPECT_EQ(r.ok(), c.ok) << r.error.toStdString();
        EXPECT_EQ(reads, c.reads);
        EXPECT_EQ(counts.readBack.load(), c.reads);
        EXPECT_EQ(counts.rewritten.load(), std::min(c.alterations, c.reads));
        EXPECT_EQ(counts.shared.load(), 0);
        if (!c.ok) {
            EXPECT_TRUE(r.error.contains(QLatin1String("read back differently from what was written"))) << r.error.toStdString();
        }
        // Remounted: what the volume holds, not what the kernel kept.
        ASSERT_TRUE(vol->remount());
        EXPECT_EQ(readFile(p2(rel)), c.ok ? newBytes(n) : kOld);
        EXPECT_EQ(QDir(f2).entryList({QStringLiteral(".*velmor~*")}, QDir::Files | QDir::Hidden), QStringList());
    }
}

TEST_F(VerifyTest, TheRunReadsBackRowsAndFoldersItCopies)
{
    // A row whose copy reads back differently every time fails with the
    // reason, its old file untouched (a copy of it written ahead may have
    // been read back too); a folder copied whole is read back file by file.
    rowsToReadBack();
    alterAtReadBack(1000);
    const SyncReport rep = run();
    setFsHook({});
    EXPECT_EQ(rep.failed, 1);
    EXPECT_GE(reads, 4);
    QStringList failures;
    for (const ResultRow& r : session.vSpr.rows())
        if (r.result.toString().endsWith(kErrSuffix))
            failures << r.name + QLatin1Char(':') + r.why();
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith(QLatin1String("a:"))) << failures[0].toStdString();
    EXPECT_TRUE(failures[0].contains(QLatin1String("read back differently from what was written"))) << failures[0].toStdString();
    ASSERT_TRUE(vol->remount());
    EXPECT_EQ(readFile(p2(QStringLiteral("a.bin"))), kOld);
    EXPECT_EQ(readFile(p2(QStringLiteral("d/b.bin"))), newBytes(2));
    EXPECT_EQ(readFile(p2(QStringLiteral("d/c.bin"))), newBytes(3));
    EXPECT_TRUE(rep.verified.contains(QStringLiteral("書き直し"))) << rep.verified.toStdString();
}

// Copies that share their sources' blocks (both folders on one btrfs
// volume) are not read back; the run says how many there were, on its
// summary and as the log's last line.
class SharedBlocksTest : public ReadBackFixture {
protected:
    void TearDown() override
    {
        setFsHook({});
        SyncFixture::TearDown();  // looks at folder 1 on the volume
        vol.reset();
    }
    std::unique_ptr<VolumeImage> vol;
};

TEST_F(SharedBlocksTest, CopiesSharingTheirSourcesBlocksAreNamedNotReadBack)
{
    vol = std::make_unique<VolumeImage>(VolumeImage::Type::Btrfs, 128);
    if (!vol->ok())
        GTEST_SKIP() << vol->reason().toStdString();
    f1 = vol->path() + QStringLiteral("/one");
    f2 = vol->path() + QStringLiteral("/two");
    makeDir(f1);
    makeDir(f2);
    ASSERT_TRUE(SetRoots(session, f1, f2));
    rowsToReadBack();
    std::atomic<int> reads = 0;
    setFsHook([&reads](const char* point) { reads += std::strcmp(point, "copy:verify") == 0; });
    const SyncReport rep = run();
    setFsHook({});
    EXPECT_EQ(rep.failed, 0);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(rep.verified, logtx::verified(0, 0, 3));
    EXPECT_EQ(LogLines(rep.logFile).last(), rep.verified);
    EXPECT_EQ(readFile(p2(QStringLiteral("d/c.bin"))), newBytes(3));
}

} // namespace
} // namespace velmor::test
