// velmor-cli compare and sync end to end: the built program run on real folders.
#include "common/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmor::test;

using namespace Qt::StringLiterals;

namespace {

struct Result {
    int code = -1;
    QStringList lines;  // stdout
    QString err;
};

class CliCompareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cli = velmorCli();
        if (cli.isEmpty())
            GTEST_SKIP() << "velmor-cli is not built";
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + QStringLiteral("/src");
        dst = tmp.path() + QStringLiteral("/dst");
        const QDateTime t(QDate(2009, 12, 21), QTime(17, 5));
        for (const char* f : {"/a/one.txt", "/a/b/two.txt", "/c/three.txt"}) {
            writeFile(src + QLatin1String(f), "1");
            setMTime(src + QLatin1String(f), t);
        }
        makeDir(dst + QStringLiteral("/a"));
        writeFile(dst + QStringLiteral("/a/one.txt"), "1");
        setMTime(dst + QStringLiteral("/a/one.txt"), t);
        makeDir(dst + QStringLiteral("/extra"));
        for (const QString& d : {src + QStringLiteral("/a"), src + QStringLiteral("/a/b"), src + QStringLiteral("/c"),
                                 dst + QStringLiteral("/a"), dst + QStringLiteral("/extra")})
            setMTime(d, t);
    }

    Result runCli(QStringList args, const QString& command = QStringLiteral("compare"))
    {
        args.prepend(command);
        args << QStringLiteral("--data") << tmp.path() + QStringLiteral("/data");
        const CliResult c = runVelmorCli(args);
        Result r;
        r.code = c.code;
        r.lines = QString::fromUtf8(c.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        r.err = c.err;
        return r;
    }

    QString cli, src, dst;
    QTemporaryDir tmp;
};

} // namespace

TEST_F(CliCompareTest, PrintsTheGridAndHonoursTicksAndSwitches)
{
    Result r = runCli({src, dst, QStringLiteral("--delete")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList want = {
        // Ticked folders in the tree's index order: the first level, then a's children.
        QStringLiteral("1\tc\t\t\t\t09/12/21 17:05\t1\t追加\t\t\t\t"),
        QStringLiteral("2\ta/b\t\t\t\t09/12/21 17:05\t1\t追加\t\t\t\t"),
        QStringLiteral("3\textra\t\t\t\t\t1\t削除\t\t09/12/21 17:05\t***\t"),
        QStringLiteral("4\ta\tone\ttxt\t1\t09/12/21 17:05\t0\t同一\t1\t09/12/21 17:05\t***\t"),
    };
    ASSERT_EQ(r.lines.size(), 4) << r.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(r.lines[0], want[0]);
    EXPECT_EQ(r.lines[1], want[1]);
    EXPECT_EQ(r.lines[2], want[2]);
    EXPECT_EQ(r.lines[3], want[3]);
    for (const QString& l : r.lines)
        EXPECT_EQ(l.count(QLatin1Char('\t')), 11);
    // However many of folder 2's folders are listed at once, the grid is the same.
    for (const char* jobs : {"1", "64", "auto"}) {
        const Result again = runCli({src, dst, QStringLiteral("--delete"), QStringLiteral("--jobs"), QLatin1String(jobs)});
        EXPECT_EQ(again.code, 0) << jobs;
        EXPECT_EQ(again.lines, r.lines) << jobs;
    }

    // Only a/b ticked, then c ticked and c unticked again: a is a container.
    r = runCli({src, dst, QStringLiteral("--check"), QStringLiteral("a/b"), QStringLiteral("--check"),
                QStringLiteral("c"), QStringLiteral("--uncheck"), QStringLiteral("c"), QStringLiteral("--mode"),
                QStringLiteral("2")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 3) << r.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(r.lines[0].startsWith(QStringLiteral("1\ta/b\t")));
    EXPECT_EQ(r.lines[1], QStringLiteral("2\ta\t\t\t\t09/12/21 17:05\t0\t**\t\t09/12/21 17:05\t***\t"));
    EXPECT_TRUE(r.lines[2].contains(QStringLiteral("\textra\t")));

    // Protection and filter options reach the engine.
    r = runCli({src, dst, QStringLiteral("--filter-only"), QStringLiteral("*.doc"), QStringLiteral("--protect"),
                QStringLiteral("one.txt")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.lines.join(QLatin1Char('\n')).contains(QStringLiteral("\ta\tone\ttxt\t1\t09/12/21 17:05\t0\t除外\t")));
    EXPECT_TRUE(r.lines.join(QLatin1Char('\n')).contains(QStringLiteral("\tc\t\t\t\t09/12/21 17:05\t1\t比較F\t")));
}

// Names that hold the escapes' own characters read back, each its own way.
TEST_F(CliCompareTest, NamesWithBackslashesAndControlCharactersPrintDistinctly)
{
    const QStringList names = {QStringLiteral("new\\nline"), QStringLiteral("new\nline"), QStringLiteral("tab\\t"),
                               QStringLiteral("tab\t"), QStringLiteral("two\\\\")};
    for (const QString& n : names)
        writeFile(src + QStringLiteral("/a/") + n + QStringLiteral(".txt"), "1");
    const Result r = runCli({src, dst});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList printed;
    for (const QString& l : r.lines)
        if (l.section(QLatin1Char('\t'), 1, 1) == QLatin1String("a") && !l.section(QLatin1Char('\t'), 2, 2).isEmpty())
            printed << l.section(QLatin1Char('\t'), 2, 2);
    printed.sort();
    EXPECT_EQ(printed, (QStringList{QStringLiteral("new\\\\nline"), QStringLiteral("new\\nline"),
                                    QStringLiteral("one"), QStringLiteral("tab\\\\t"), QStringLiteral("tab\\t"),
                                    QStringLiteral("two\\\\\\\\")}));
}

// Files right in a root take no part, and the summary on stderr says so;
// pipes and folders are no such files.
TEST_F(CliCompareTest, FilesRightInARootAreCountedNotCompared)
{
    const struct {
        const char* name;
        QStringList in1, in2;
        QString said;
    } cases[] = {
        {"none", {}, {}, QString()},
        {"both", {u"x.txt"_s, u"y.lnk"_s}, {u"z.txt"_s}, u"ﾙｰﾄ直下のﾌｧｲﾙは比較･同期しません: ﾌｫﾙﾀﾞ1 2 ﾌｧｲﾙ､ﾌｫﾙﾀﾞ2 1 ﾌｧｲﾙ"_s},
        {"folder 2 only", {}, {u"w.txt"_s}, u"ﾙｰﾄ直下のﾌｧｲﾙは比較･同期しません: ﾌｫﾙﾀﾞ2 1 ﾌｧｲﾙ"_s},
    };
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"/pipe"_s).constData(), 0644), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [root, names] : {std::pair{src, c.in1}, std::pair{dst, c.in2}})
            for (const QString& n : names) {
                if (n.endsWith(u".lnk"_s))
                    ASSERT_TRUE(QFile::link(u"a"_s, root + u'/' + n));
                else
                    writeFile(root + u'/' + n, "1");
            }
        for (const char* command : {"compare", "sync"}) {
            const Result r = runCli({src, dst}, QLatin1String(command));
            EXPECT_EQ(r.code, 0) << r.err.toStdString();
            EXPECT_EQ(r.err.contains(u"ﾙｰﾄ直下"_s), !c.said.isEmpty()) << r.err.toStdString();
            EXPECT_TRUE(c.said.isEmpty() || r.err.split(u'\n').contains(c.said)) << r.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(dst + u"/x.txt"_s)) << "never copied";
        }
        for (const auto& [root, names] : {std::pair{src, c.in1}, std::pair{dst, c.in2}})
            for (const QString& n : names)
                ASSERT_TRUE(QFile::remove(root + u'/' + n));
    }
}

TEST_F(CliCompareTest, BadArgumentsAndRefusedRunsExitWithTwo)
{
    Result r = runCli({src});
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(r.err.isEmpty());
    r = runCli({src, dst, QStringLiteral("--mode"), QStringLiteral("7")});
    EXPECT_EQ(r.code, 2);
    r = runCli({src, dst, QStringLiteral("--bogus")});
    EXPECT_EQ(r.code, 2);
    for (const auto& [option, value] : {std::pair{"--ignore-shift", "1441"}, std::pair{"--ignore-shift", "-60"},
                                        std::pair{"--ignore-shift", "hour"}, std::pair{"--moves", "on"},
                                        std::pair{"--moves", "Quick"}, std::pair{"--keep-days", "-1"},
                                        std::pair{"--keep-count", "100001"}, std::pair{"--keep-count", "2x"},
                                        std::pair{"--jobs", "0"}, std::pair{"--jobs", "65"}, std::pair{"--jobs", "Auto"}})
        EXPECT_EQ(runCli({src, dst, QLatin1String(option), QLatin1String(value)}).code, 2) << option << ' ' << value;
    for (const char* flag : {"--copy-link-targets=yes", "--acls=on", "--xattrs=1"})
        EXPECT_EQ(runCli({src, dst, QLatin1String(flag)}).code, 2) << flag;
    r = runCli({src, dst, QStringLiteral("--check"), QStringLiteral("nope")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.lines.isEmpty());

    r = runCli({src, src + QStringLiteral("/a")});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, QStringLiteral("ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2が同じか､一方が他方の中にあります 比較は実行しません\n"));
    r = runCli({src, tmp.path() + QStringLiteral("/missing")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("ﾌｫﾙﾀﾞ2が見つかりません")));
    EXPECT_TRUE(r.lines.isEmpty());

    QProcess help;
    help.start(cli, {QStringLiteral("compare"), QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(30000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--protect-readonly"));
}

TEST_F(CliCompareTest, SyncExitStatusFollowsTheRows)
{
    // A refused run (history wanted, no folder given) changes nothing.
    Result r = runCli({src, dst, QStringLiteral("--log")}, QStringLiteral("sync"));
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(QFileInfo::exists(dst + QStringLiteral("/c")));

    // Every row done: exit 0, flags 2 and the results in column 12, and a new
    // comparison finds nothing left to do.
    r = runCli({src, dst, QStringLiteral("--delete")}, QStringLiteral("sync"));
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.lines.contains(QStringLiteral("1\tc\t\t\t\t09/12/21 17:05\t2\t追加\t\t\t\t追加")))
        << r.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(readFile(dst + QStringLiteral("/a/b/two.txt")), QByteArray("1"));
    EXPECT_FALSE(QFileInfo::exists(dst + QStringLiteral("/extra")));
    r = runCli({src, dst, QStringLiteral("--delete"), QStringLiteral("--mode"), QStringLiteral("1")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.lines.isEmpty()) << r.lines.join(QLatin1Char('\n')).toStdString();

    // A row that fails (a read-only destination to overwrite): exit 1, " Err".
    writeFile(src + QStringLiteral("/a/one.txt"), "22");
    QFile::setPermissions(dst + QStringLiteral("/a/one.txt"), QFileDevice::ReadOwner);
    r = runCli({src, dst}, QStringLiteral("sync"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.lines.join(QLatin1Char('\n')).contains(QStringLiteral("\t上書 Err")))
        << r.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(readFile(dst + QStringLiteral("/a/one.txt")), QByteArray("1"));
}

TEST_F(CliCompareTest, ManyRowsArePrintedWholeAndInOrder)
{
    // More rows than are formatted at once, twice over and a part: every
    // row comes out once, whole, in the grid's order.
    constexpr int kFiles = 17000;
    makeDir(dst + QStringLiteral("/many"));
    for (int i = 0; i < kFiles; ++i)
        writeFile(src + QStringLiteral("/many/f%1.dat").arg(i, 5, 10, QLatin1Char('0')), QByteArray());
    const struct timespec old[2] = {{0, UTIME_OMIT}, {946684800, 0}};  // folder 2's folder is older
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dst + QStringLiteral("/many")).constData(), old, 0), 0);
    const Result r = runCli({src, dst});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    // The folder itself is listed too: its time differs (files were added).
    ASSERT_EQ(r.lines.size(), kFiles + 5);
    int files = 0;
    for (int i = 0; i < r.lines.size(); ++i) {
        const QStringList cols = r.lines[i].split(QLatin1Char('\t'));
        ASSERT_EQ(cols.size(), 12) << r.lines[i].toStdString();
        ASSERT_EQ(cols[0], QString::number(i + 1));
        if (cols[1] == QStringLiteral("many") && !cols[2].isEmpty()) {
            EXPECT_EQ(cols[2], QStringLiteral("f%1").arg(files, 5, 10, QLatin1Char('0')));
            ++files;
        }
    }
    EXPECT_EQ(files, kFiles);
}

TEST_F(CliCompareTest, SummaryLineCountsTheFilesOfFoldersAddedAndDeletedWhole)
{
    // Added whole, nested: 3 files of 6 bytes in three folder rows. Deleted
    // whole: 5 files in three folder rows (the deepest holds no folder).
    writeFile(src + QStringLiteral("/new/a.txt"), "abc");
    writeFile(src + QStringLiteral("/new/sub/b.txt"), "de");
    writeFile(src + QStringLiteral("/new/sub/deep/c.txt"), "f");
    for (const char* f : {"/old/x.txt", "/old/w.txt", "/old/y/z.txt", "/old/y/leaf/q.txt", "/old/y/leaf/r.txt"})
        writeFile(dst + QLatin1String(f), "gone");
    const auto lastLine = [](const Result& r) { return r.err.trimmed().split(u'\n').last(); };

    // The files of the deletions are known from the comparison; those of the
    // folders to add (c, a/b, new and its two) only once they are copied.
    Result r = runCli({src, dst, u"--delete"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(lastLine(r), u"追加 5　削除 4 (5 ﾌｧｲﾙ)"_s) << r.err.toStdString();

    // Done: the copies of c, a/b and new (5 files, 8 bytes) and the 5 deleted
    // files; the file on both sides is left alone.
    r = runCli({src, dst, u"--delete"_s}, u"sync"_s);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression(u"^完了 9 \\(10 ﾌｧｲﾙ 8 バイト\\)　失敗 0　対象外 1　[0-9.]+ 秒$"_s).match(lastLine(r)).hasMatch())
        << r.err.toStdString();
}
