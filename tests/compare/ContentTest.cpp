// Comparing files of equal size by their bytes: the statuses and reasons of
// the scan, a failed read, the metadata-only run that sets a time, and one
// read per side of a large file.
#include "CmpFixture.h"
#include "common/ToolRuns.h"

#include <QFile>
#include <QFileInfo>
#include <fstream>

using namespace velmor;
using namespace velmor::test;

namespace {

const QDateTime kOld(QDate(2009, 12, 21), QTime(17, 5, 30));
const QDateTime kNew(QDate(2010, 3, 1), QTime(9, 0, 0));

// Bytes this process has read through read() and its kind, all threads.
long long bytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

struct Stamp {
    long long sec;
    ino_t ino;
};
Stamp stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {-1, 0};
    return {st.st_mtim.tv_sec, st.st_ino};
}

class ContentTest : public CmpFixture {};

} // namespace

TEST_F(ContentTest, StatusAndReasonOfFilesComparedByContent)
{
    struct Case {
        const char* what;
        QByteArray one, two;
        QDateTime t1, t2;
        bool content, times, keep;
        QString status;
        QString reason;  // the start of the row's tooltip
        bool metaOnly;
    };
    const Case cases[] = {
        {"same time, other bytes", "abc", "abd", kOld, kOld, true, false, false, St::Over, "内容で比較: 違います", false},
        {"without the option the time decides", "abc", "abd", kOld, kOld, false, false, false, St::Same, "", false},
        {"other time, same bytes", "abc", "abc", kNew, kOld, true, false, false, St::Same, "内容で比較: 同じ", false},
        {"same bytes, only the time is set", "abc", "abc", kNew, kOld, true, true, false, St::Over,
         "内容で比較: 同じ 属性だけが違います: 日時 2009/12/21 17:05:30→2010/03/01 09:00:00", true},
        {"same bytes and time", "abc", "abc", kOld, kOld, true, true, false, St::Same, "内容で比較: 同じ", false},
        {"other bytes, folder 2 newer, keep", "abc", "abd", kOld, kNew, true, false, true, St::None,
         "内容で比較: 違います", false},
        {"other sizes are not read", "abc", "ab", kOld, kOld, true, false, false, St::Over, "", false},
        {"empty files", "", "", kNew, kOld, true, false, false, St::Same, "内容で比較: 同じ", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString dir = QStringLiteral("c%1").arg(n++);
        file(src + "/" + dir + "/f.dat", c.one, c.t1);
        file(dst + "/" + dir + "/f.dat", c.two, c.t2);
        s.panel.chContent = c.content;
        s.panel.chContentTimes = c.times;
        s.panel.chRet[0] = c.keep;
        load();
        ASSERT_EQ(run(), CmpOutcome::Done);
        const ResultRow* r = row(dir, QStringLiteral("f"), QStringLiteral("dat"));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->status.toString(), c.status);
        EXPECT_EQ(r->why(), c.reason);
        EXPECT_EQ(r->result == kMetaOnly, c.metaOnly);
    }
}

TEST_F(ContentTest, FilesThatCannotBeReadFailAndAreNeverTheSame)
{
    file(src + "/a", "abc");
    file(dst + "/a", "abc");
    ASSERT_EQ(::symlink("a", QFile::encodeName(dst + "/link").constData()), 0);
    const UniqueFd one = rawOpen(src), two = rawOpen(dst);
    struct Case {
        const char* name1;
        const char* name2;
        long long listed;  // -1: not known
        ContentCheck want;
        QString error;
    };
    const Case cases[] = {
        {"a", "a", -1, ContentCheck::Same, ""},
        {"a", "a", 3, ContentCheck::Same, ""},
        {"a", "a", 2, ContentCheck::Differ, ""},  // changed since it was listed
        {"a", "gone", -1, ContentCheck::Failed, dst + "/gone: No such file or directory"},
        {"a", "gone", 3, ContentCheck::Failed, dst + "/gone: No such file or directory"},
        {"a", "link", -1, ContentCheck::Failed, dst + "/link: a link stands where a file was listed"},
    };
    for (const Case& c : cases) {
        const ContentOutcome o = CompareContent(one.get(), src, c.name1, false, two.get(), dst, c.name2, c.listed);
        EXPECT_EQ(o.check, c.want) << c.name2;
        EXPECT_EQ(o.error.left(c.error.size()), c.error);
    }
}

TEST_F(ContentTest, ALargeFileIsReadOncePerSide)
{
    constexpr long long kSize = 64LL << 20;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 131 % 251);
    for (const QString& path : {src + "/d/big.bin", dst + "/d/big.bin"}) {
        makeDir(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (long long done = 0; done < kSize; done += block.size())
            ASSERT_EQ(f.write(block), block.size());
    }
    setMTime(src + "/d/big.bin", kNew);
    setMTime(dst + "/d/big.bin", kOld);
    s.panel.chContent = true;
    load();
    const long long before = bytesRead();
    ASSERT_EQ(run(), CmpOutcome::Done);
    const long long read = bytesRead() - before;
    EXPECT_EQ(gridStatus(QStringLiteral("d"), QStringLiteral("big"), QStringLiteral("bin")), St::Same);
    EXPECT_GE(read, 2 * kSize);
    EXPECT_LT(read, 2 * kSize + (8 << 20)) << "each side is read once";
}

// velmor-cli: with --content-times the run gives folder 2's file the source's
// time in place; a file it cannot read is left out and named.
TEST(ContentCliTest, TimesAreSetInPlaceAndUnreadableFilesAreLeftOut)
{
    if (velmorCli().isEmpty() || ::geteuid() != 0)
        GTEST_SKIP() << "needs velmor-cli and root";
    OrdinaryUser user;
    if (!user.ok())
        GTEST_SKIP() << user.reason().toStdString();
    QTemporaryDir tmp;
    ::chmod(QFile::encodeName(tmp.path()).constData(), 0755);
    const QString src = tmp.path() + "/src", dst = tmp.path() + "/dst", data = tmp.path() + "/data";
    writeFile(src + "/d/same.txt", "unchanged");
    writeFile(dst + "/d/same.txt", "unchanged");
    writeFile(src + "/d/secret.txt", "one");
    writeFile(dst + "/d/secret.txt", "two");
    setMTime(src + "/d/same.txt", kNew);
    setMTime(dst + "/d/same.txt", kOld);
    makeDir(data);
    for (const QString& p : {src, dst, data})
        ASSERT_EQ(user.handOver(p), QString());
    ::chmod(QFile::encodeName(src + "/d/secret.txt").constData(), 0);
    const Stamp before = stampOf(dst + "/d/same.txt");

    const CliResult r = runVelmorCli({QStringLiteral("sync"), src, dst, QStringLiteral("--data"), data,
                                      QStringLiteral("--content"), QStringLiteral("--content-times")},
                                     user.prefix());
    EXPECT_TRUE(r.err.contains(src + "/d/secret.txt: ")) << r.err.toStdString();
    const Stamp after = stampOf(dst + "/d/same.txt");
    EXPECT_EQ(after.sec, kNew.toSecsSinceEpoch());
    EXPECT_EQ(after.ino, before.ino) << "the time is set in place, nothing is copied";
    EXPECT_EQ(readFile(dst + "/d/secret.txt"), QByteArray("two")) << "an unreadable file is left out";
}
