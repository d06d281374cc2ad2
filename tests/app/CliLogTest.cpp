// velmor-cli log: a day's history files in their order as UTF-8 lines, the
// history folder named or a task's, and what is no log of the day.
#include "common/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmor::test;
using namespace Qt::StringLiterals;

namespace {

// A log file as the program stores it: UTF-16 LE with its byte order mark,
// CR LF after each line.
void writeLog(const QString& path, const QStringList& lines)
{
    QStringEncoder utf16(QStringConverter::Utf16LE);
    QByteArray bytes("\xFF\xFE", 2);
    for (const QString& l : lines)
        bytes += utf16.encode(l + u"\r\n"_s);
    writeFile(path, bytes);
}

} // namespace

TEST(CliLogTest, PrintsEveryFileOfTheDayInOrderAsUtf8)
{
    if (velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString hist = tmp.path() + u"/履歴"_s, log = hist + u"/Log/"_s;
    writeLog(log + u"2026-12-01.log"_s, {u"26/12/01 09:00:00 : 一つ目"_s, u"26/12/01 09:00:01 : second"_s});
    writeLog(log + u"2026-12-01~10.log"_s, {u"tenth"_s});
    writeLog(log + u"2026-12-01~2.log"_s, {u"second file"_s});
    writeLog(log + u"2026-12-02.log"_s, {u"another day"_s});
    writeLog(log + u"2026-12-01~01.log"_s, {u"not of our naming"_s});
    writeLog(tmp.path() + u"/elsewhere.log"_s, {u"through a link"_s});
    ASSERT_TRUE(QFile::link(tmp.path() + u"/elsewhere.log"_s, log + u"2026-12-01~1.log"_s));
    const QString data = tmp.path() + u"/data"_s;
    const auto cli = [&](QStringList args) { return runVelmorCli(QStringList{u"log"_s} + args << u"--data"_s << data); };

    const struct {
        const char* name;
        QStringList args;
        int code;
        QByteArray out;
        QString err;  // a part of stderr
    } cases[] = {
        {"a day's files by number", {u"2026-12-01"_s, u"--history"_s, hist}, 0,
         "26/12/01 09:00:00 : 一つ目\n26/12/01 09:00:01 : second\nsecond file\ntenth\n", {}},
        {"one file", {u"--history"_s, hist, u"2026-12-02"_s}, 0, "another day\n", {}},
        {"no log that day", {u"2026-11-30"_s, u"--history"_s, hist}, 1, {}, u"no history log of 2026-11-30"_s},
        {"no history folder there", {u"2026-12-01"_s, u"--history"_s, tmp.path() + u"/none"_s}, 1, {}, u"/none/Log"_s},
        {"not a date", {u"2026-13-01"_s, u"--history"_s, hist}, 2, {}, u"yyyy-mm-dd"_s},
        {"neither folder nor task", {u"2026-12-01"_s}, 2, {}, u"--history DIR or --task NAME"_s},
        {"both", {u"--history"_s, hist, u"--task"_s, u"t"_s}, 2, {}, u"--history DIR or --task NAME"_s},
        {"an unknown task", {u"2026-12-01"_s, u"--task"_s, u"nobody"_s}, 2, {}, u"nobody"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }

    // A task's history folder: the log its own run wrote today.
    const QString src = tmp.path() + u"/src"_s, dst = tmp.path() + u"/dst"_s;
    writeFile(src + u"/a/new.txt"_s, "1");
    makeDir(dst);
    ASSERT_EQ(runVelmorCli({u"task"_s, u"save"_s, u"t"_s, src, dst, u"--log"_s, u"--history"_s, hist, u"--data"_s, data})
                  .code,
              0);
    ASSERT_EQ(runVelmorCli({u"run"_s, u"t"_s, u"--data"_s, data}).code, 0);
    const CliResult r = cli({u"--task"_s, u"t"_s});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains((dst + u"/a"_s).toUtf8())) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains('\r'));
    EXPECT_TRUE(r.out.endsWith('\n'));
}
