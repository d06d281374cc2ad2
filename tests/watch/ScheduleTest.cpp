// What `velmor-cli schedule` writes: the schedules it accepts, unit names
// for any task name, command lines systemd reads back as they were given,
// and unit files that systemd-analyze verify accepts.
#include "app/watch/Schedule.h"
#include "common/TestSupport.h"
#include "env/FsDir.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace velmor::test {
namespace {

struct EveryCase {
    const char* text;
    qint64 seconds;  // -1: refused
};

TEST(ScheduleTest, DurationsAndTimesOfDay)
{
    const EveryCase every[] = {
        {"30min", 1800}, {"2h", 7200}, {"1h30min", 5400}, {"1d", 86400}, {"1w", 604800}, {"90s", 90},
        {"60sec", 60},   {"5m", 300},  {"1hr", 3600},     {"59s", -1},   {"30", -1},      {"", -1},
        {"2 h", -1},     {"-1h", -1},  {"1y", -1},        {"53w", -1},   {"h", -1},       {"1h30", -1},
    };
    for (const EveryCase& c : every) {
        const std::optional<Schedule> s = ParseEvery(QString::fromLatin1(c.text));
        EXPECT_EQ(s ? s->every : -1, c.seconds) << c.text;
    }
    const std::pair<const char*, const char*> daily[] = {
        {"02:30", "daily 02:30"}, {"00:00", "daily 00:00"}, {"23:59", "daily 23:59"},
        {"24:00", nullptr},       {"2:30", nullptr},        {"02:60", nullptr},
        {"02:30:00", nullptr},    {" 02:30", nullptr},
    };
    for (const auto& [text, want] : daily) {
        const std::optional<Schedule> s = ParseDaily(QString::fromLatin1(text));
        EXPECT_EQ(s ? s->text() : QString(), want ? QString::fromLatin1(want) : QString()) << text;
    }
}

TEST(ScheduleTest, UnitNamesEscapeEveryTaskNameReversibly)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("nightly"), QStringLiteral("nightly")},
        {QStringLiteral("a b-c"), QStringLiteral("a\\x20b\\x2dc")},
        {QStringLiteral(".hidden.v2"), QStringLiteral("\\x2ehidden.v2")},
        {QStringLiteral("x/y"), QStringLiteral("x-y")},
        {QStringLiteral("C:\\"), QStringLiteral("C\\x3a\\x5c")},
        {QStringLiteral("写真"), QStringLiteral("\\xe5\\x86\\x99\\xe7\\x9c\\x9f")},
        {QStringLiteral("50%$\\"), QStringLiteral("50\\x25\\x24\\x5c")},
        {nameText(QByteArray("bad\xff")), QStringLiteral("bad\\xff")},
    };
    for (const auto& [task, escaped] : cases) {
        EXPECT_EQ(UnitEscape(task), escaped) << task.toStdString();
        EXPECT_EQ(UnitUnescape(escaped), task) << escaped.toStdString();
    }
}

// ExecStart= quoting, one character class at a time.
TEST(ScheduleTest, CommandLinesAreQuotedForSystemd)
{
    const std::pair<QStringList, QString> cases[] = {
        {{QStringLiteral("/usr/bin/velmor-cli"), QStringLiteral("run"), QStringLiteral("T")},
         QStringLiteral("\"/usr/bin/velmor-cli\" \"run\" \"T\"")},
        {{QStringLiteral("a \"q\" b")}, QStringLiteral("\"a \\\"q\\\" b\"")},
        {{QStringLiteral("100% $HOME")}, QStringLiteral("\"100%% $$HOME\"")},
        {{QStringLiteral("back\\slash")}, QStringLiteral("\"back\\\\slash\"")},
        {{QStringLiteral("line\nbreak")}, QStringLiteral("\"line\\x0abreak\"")},
        {{QStringLiteral("写真")}, QStringLiteral("\"写真\"")},
        {{nameText(QByteArray("bad\xff"))}, QStringLiteral("\"bad\\xff\"")},
    };
    for (const auto& [argv, line] : cases)
        EXPECT_EQ(ExecLine(argv), line) << argv.join(QLatin1Char('|')).toStdString();
}

// The units as written, read by systemd itself: every line it cannot take
// is printed with the file's name.
TEST(ScheduleTest, UnitFilesPassSystemdAnalyzeVerify)
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    const QString cli = velmorCli();
    ASSERT_FALSE(cli.isEmpty());
    QTemporaryDir dir;
    const QString task = QStringLiteral("写真 50% \"backup\" C:\\");
    const std::optional<Schedule> daily = ParseDaily(QStringLiteral("02:30"));
    const std::optional<Schedule> every = ParseEvery(QStringLiteral("1h30min"));
    Schedule watch;
    watch.kind = Schedule::Kind::Watch;
    watch.delay = QStringLiteral("5");
    const QString data = dir.path() + QStringLiteral("/data $x");
    const QString base = dir.path() + QLatin1Char('/') + RunUnitBase(task);
    const QString watchFile = dir.path() + QLatin1Char('/') + WatchUnitBase(task) + QStringLiteral(".service");
    for (const Schedule& when : {*daily, *every}) {
        writeFile(base + QStringLiteral(".service"),
                  RunServiceText(task, {cli, QStringLiteral("run"), task, QStringLiteral("--data"), data}).toUtf8());
        writeFile(base + QStringLiteral(".timer"), TimerText(task, when).toUtf8());
        writeFile(watchFile,
                  WatchServiceText(task, watch, {cli, QStringLiteral("watch"), task, QStringLiteral("--delay"),
                                                 QStringLiteral("5")})
                      .toUtf8());
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(analyze, {QStringLiteral("verify"), base + QStringLiteral(".timer"), base + QStringLiteral(".service"),
                          watchFile});
        ASSERT_TRUE(p.waitForFinished(120'000));
        const QString said = QString::fromUtf8(p.readAll());
        EXPECT_EQ(p.exitCode(), 0) << said.toStdString();
        for (const QString& line : said.split(QLatin1Char('\n')))
            EXPECT_FALSE(line.contains(dir.path())) << line.toStdString();
        // No line runs on into the next.
        for (const QString& file : {base + QStringLiteral(".timer"), base + QStringLiteral(".service"), watchFile})
            for (const QString& line : QString::fromUtf8(readFile(file)).split(QLatin1Char('\n')))
                EXPECT_FALSE(line.endsWith(QLatin1Char('\\'))) << line.toStdString();
        const QString timer = QString::fromUtf8(readFile(base + QStringLiteral(".timer")));
        EXPECT_EQ(UnitUnescape(UnitValue(timer, QStringLiteral("X-VelmorTask"))), task);
        EXPECT_EQ(UnitValue(timer, QStringLiteral("X-VelmorSchedule")), when.text());
    }
}

} // namespace
} // namespace velmor::test
