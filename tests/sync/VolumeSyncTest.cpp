// Synchronising onto the volumes users synchronise to, made at test time:
// after one run, the destination holds what the grid said, and a second
// comparison has nothing left to do but the rows the first one named as
// impossible.
#include "common/TestSupport.h"
#include "common/VolumeImage.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using test::VolumeImage;

// The rows of velmor-cli's output, each split into its 12 columns.
std::vector<QStringList> rowsOf(const QByteArray& out)
{
    std::vector<QStringList> rows;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty())
            rows.push_back(QString::fromUtf8(line).split(QLatin1Char('\t')));
    return rows;
}

// "folder/name" of every row whose action flag is "1".
QStringList toDo(const std::vector<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& r : rows)
        if (r.size() >= 12 && r[6] == QLatin1String("1"))
            out.append(r[1] + QLatin1Char('/') + r[2] + (r[3].isEmpty() ? QString() : QLatin1Char('.') + r[3]));
    return out;
}

// Names in a folder of the volume, as it lists them.
QStringList namesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

struct Case {
    VolumeImage::Type type;
    bool holdsLinks;
};

TEST(VolumeSyncTest, OneRunSettlesTheVolumeAndNamesWhatItCannotHold)
{
    if (test::velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    for (const Case c : {Case{VolumeImage::Type::Exfat, false}, Case{VolumeImage::Type::Ntfs, true},
                         Case{VolumeImage::Type::Fat, false}}) {
        SCOPED_TRACE(VolumeImage::name(c.type));
        VolumeImage vol(c.type);
        if (!vol.ok()) {
            std::printf("%s\n", qPrintable(vol.reason()));
            continue;
        }
        QTemporaryDir tmp;
        const QString src = tmp.path() + "/src", dst = vol.path() + "/dst", data = tmp.path() + "/data";
        test::makeDir(dst + "/d");  // compared file by file
        test::makeDir(data);
        // Two names the volume files under one key, files and folders; a
        // name it refuses; a link; a file renamed later in its case only.
        test::writeFile(src + "/d/a.txt", "lower case");
        test::writeFile(src + "/d/A.txt", "UPPER");
        test::writeFile(src + "/d/plain.txt", "plain");
        test::writeFile(src + "/d/q?.txt", "refused");
        test::writeFile(src + "/Sub/x.txt", "x");
        test::writeFile(src + "/sub/y.txt", "y");
        test::writeFile(src + "/r/IMG.JPG", "photo");
        test::writeFile(src + "/Pics/p.txt", "in a folder renamed later");
        ASSERT_EQ(::symlink("plain.txt", QFile::encodeName(src + "/d/lnk").constData()), 0);
        // The same in a new folder, copied whole.
        for (const char* n : {"A.txt", "a.txt", "b?.txt", "c.txt"})
            test::writeFile(src + "/w/" + n, n);
        ASSERT_EQ(::symlink("c.txt", QFile::encodeName(src + "/w/lnk").constData()), 0);
        // Made a while ago: a copy that does not keep its source's time shows.
        for (const QString& f : test::filesBelow(src))
            if (!QFileInfo(src + "/" + f).isSymLink())
                test::setMTime(src + "/" + f, QDateTime(QDate(2020, 5, 5), QTime(10, 0, 1), Qt::UTC));
        const auto cli = [&](const char* verb, QStringList more = {}) {
            return test::runVelmorCli(QStringList{verb, src, dst, "--delete", "--data", data} + more);
        };

        const test::CliResult first = cli("sync");
        EXPECT_EQ(first.code, 1) << qPrintable(first.err);  // the destination lacks what it cannot hold
        // Named one a line, with its whole path.
        EXPECT_TRUE(first.err.split('\n').filter(QRegularExpression("^" + QRegularExpression::escape(src + "/d/q?.txt: "))).size() == 2)  // at the comparison's end and the run's
            << qPrintable(first.err);
        EXPECT_EQ(test::readFile(dst + "/d/plain.txt"), "plain");
        // The first of the two clashing files, with its own content; the
        // other is named.
        const QStringList d = namesIn(dst + "/d").filter("a.txt", Qt::CaseInsensitive);
        ASSERT_EQ(d.size(), 1) << qPrintable(d.join(','));
        EXPECT_EQ(test::readFile(dst + "/d/" + d[0]), "UPPER");
        if (c.type != VolumeImage::Type::Ntfs) {  // ntfs-3g's ignore_case lists names in lower case
            EXPECT_EQ(d[0], "A.txt");
        }
        EXPECT_TRUE(first.err.contains("/d/a.txt")) << qPrintable(first.err);
        EXPECT_EQ(c.holdsLinks, QFileInfo(dst + "/d/lnk").isSymLink());
        EXPECT_EQ(namesIn(dst).filter("sub", Qt::CaseInsensitive).size(), 1);
        EXPECT_EQ(test::readFile(dst + "/w/c.txt"), "c.txt");
        const QStringList w = namesIn(dst + "/w").filter("a.txt", Qt::CaseInsensitive);
        ASSERT_EQ(w.size(), 1);
        EXPECT_EQ(test::readFile(dst + "/w/" + w[0]), "A.txt");
        EXPECT_TRUE(first.err.contains("w/b?.txt")) << qPrintable(first.err);
        EXPECT_EQ(c.holdsLinks, QFileInfo(dst + "/w/lnk").isSymLink());

        // The second comparison, of what the volume holds, has nothing to do.
        ASSERT_TRUE(vol.remount());
        const test::CliResult again = cli("compare");
        EXPECT_EQ(toDo(rowsOf(again.out)), QStringList()) << qPrintable(again.out);

        // Renamed in its case only, then synchronised with the delete switch:
        // the file is there under its new name, with its content.
        ASSERT_TRUE(QFile::rename(src + "/r/IMG.JPG", src + "/r/img.jpg"));
        ASSERT_TRUE(QDir().rename(src + "/Pics", src + "/pics"));
        const test::CliResult renamed = cli("sync");
        EXPECT_EQ(renamed.code, 1) << qPrintable(renamed.err);
        const QStringList r = namesIn(dst + "/r");
        ASSERT_EQ(r.size(), 1) << qPrintable(renamed.out);
        EXPECT_EQ(test::readFile(dst + "/r/" + r[0]), "photo");
        if (c.type != VolumeImage::Type::Ntfs) {  // ntfs-3g lists names in lower case
            EXPECT_EQ(r[0], "img.jpg");
        }
        EXPECT_EQ(test::readFile(dst + "/pics/p.txt"), "in a folder renamed later");
        EXPECT_EQ(toDo(rowsOf(cli("compare").out)), QStringList());

        // The volume's times an hour off, as FAT's local times are after a
        // change of summer time: the same files with the shift ignored.
        const QByteArray plain = QFile::encodeName(dst + "/d/plain.txt");
        struct stat st {};
        ASSERT_EQ(::stat(plain.constData(), &st), 0);
        st.st_mtim.tv_sec += 3600;
        const struct timespec later[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, plain.constData(), later, 0), 0);
        EXPECT_EQ(toDo(rowsOf(cli("compare").out)), QStringList{"d/plain.txt"});
        EXPECT_EQ(toDo(rowsOf(cli("compare", {"--ignore-shift", "60"}).out)), QStringList());
    }
}

} // namespace
} // namespace velmor
