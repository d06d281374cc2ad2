// velmor-cli schedule end to end: the unit files it writes and enables below
// XDG_CONFIG_HOME, and what it tells the user manager, through a stand-in
// systemctl first in PATH that records its arguments and answers as a
// missing or a running user manager would.
#include "CliTaskFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::runVelmorCli;
using velmor::test::writeFile;

namespace {

class ScheduleCli : public test::CliTaskFixture {
protected:
    void SetUp() override
    {
        CliTaskFixture::SetUp();
        if (IsSkipped())
            return;
        units = tmp.path() + QStringLiteral("/config/systemd/user");
        calls = tmp.path() + QStringLiteral("/systemctl-calls");
        m_path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(tmp.path() + QStringLiteral("/bin:")) + m_path);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.path() + QStringLiteral("/config")));
        manager(false);
        saveTask(QStringLiteral("T"));
    }
    void TearDown() override
    {
        if (!m_path.isNull())
            qputenv("PATH", m_path);  // XDG_CONFIG_HOME goes back with the test HOME
    }

    // The stand-in systemctl: records "ARGS" lines; answers as a running
    // user manager (running) or as none (the bus cannot be reached).
    void manager(bool running)
    {
        const QString script = tmp.path() + QStringLiteral("/bin/systemctl");
        writeFile(script, QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n%2")
                              .arg(calls, running ? QStringLiteral("exit 0\n")
                                                  : QStringLiteral("echo 'Failed to connect to bus: No medium found' "
                                                                   ">&2\nexit 1\n"))
                              .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(calls);
    }
    test::CliResult cli(QStringList args)
    {
        return runVelmorCli(QStringList{args} << QStringLiteral("--data") << data);
    }
    QString unit(const QString& name) const { return QString::fromUtf8(test::readFile(units + QLatin1Char('/') + name)); }
    QStringList called() const
    {
        if (!QFileInfo::exists(calls))
            return {};
        return QString::fromUtf8(test::readFile(calls)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString units, calls;

private:
    QByteArray m_path;
};

TEST_F(ScheduleCli, WithoutAUserManagerTheUnitsAreWrittenEnabledAndThatIsSaid)
{
    const test::CliResult r = cli({QStringLiteral("schedule"), QStringLiteral("T"), QStringLiteral("--daily"),
                                   QStringLiteral("02:30")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no systemd user manager took the change"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Failed to connect to bus"))) << r.err.toStdString();
    const QString service = unit(QStringLiteral("velmor-run-T.service"));
    EXPECT_TRUE(service.contains(QStringLiteral("ExecStart=\"%1\" \"run\" \"T\" \"--data\" \"%2\"")
                                     .arg(QFileInfo(test::velmorCli()).canonicalFilePath(), data)))
        << service.toStdString();
    EXPECT_TRUE(unit(QStringLiteral("velmor-run-T.timer")).contains(QStringLiteral("OnCalendar=*-*-* 02:30:00")));
    EXPECT_TRUE(QFileInfo(units + QStringLiteral("/timers.target.wants/velmor-run-T.timer")).isSymLink());

    const test::CliResult list = runVelmorCli({QStringLiteral("schedule"), QStringLiteral("list")});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out, "T\tdaily 02:30\tenabled\n");
}

TEST_F(ScheduleCli, ARunningManagerIsToldAndAScheduleReplacesTheLast)
{
    manager(true);
    ASSERT_EQ(cli({QStringLiteral("schedule"), QStringLiteral("T"), QStringLiteral("--daily"), QStringLiteral("02:30")}).code, 0);
    const test::CliResult r =
        cli({QStringLiteral("schedule"), QStringLiteral("T"), QStringLiteral("--every"), QStringLiteral("2h")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QString timer = unit(QStringLiteral("velmor-run-T.timer"));
    EXPECT_TRUE(timer.contains(QStringLiteral("OnUnitActiveSec=7200s"))) << timer.toStdString();
    EXPECT_FALSE(timer.contains(QStringLiteral("OnCalendar")));
    ASSERT_EQ(cli({QStringLiteral("schedule"), QStringLiteral("--watch"), QStringLiteral("T"), QStringLiteral("--delay"),
                   QStringLiteral("5")})
                  .code,
              0);
    EXPECT_TRUE(unit(QStringLiteral("velmor-watch-T.service")).contains(QStringLiteral("\"watch\" \"T\" \"--delay\" \"5\"")));
    EXPECT_EQ(called(), QStringList({QStringLiteral("--user daemon-reload"), QStringLiteral("--user restart velmor-run-T.timer"),
                                     QStringLiteral("--user daemon-reload"), QStringLiteral("--user restart velmor-run-T.timer"),
                                     QStringLiteral("--user daemon-reload"),
                                     QStringLiteral("--user restart velmor-watch-T.service")}));
    EXPECT_EQ(runVelmorCli({QStringLiteral("schedule"), QStringLiteral("list")}).out,
              "T\tevery 7200s\tenabled\nT\twatch --delay 5\tenabled\n");

    manager(true);
    EXPECT_EQ(runVelmorCli({QStringLiteral("schedule"), QStringLiteral("remove"), QStringLiteral("T")}).code, 0);
    EXPECT_EQ(called(), QStringList({QStringLiteral("--user stop velmor-run-T.timer velmor-run-T.service "
                                                    "velmor-watch-T.service"),
                                     QStringLiteral("--user daemon-reload")}));
    EXPECT_EQ(QDir(units).entryList(QDir::Files), QStringList());
    EXPECT_FALSE(QFileInfo(units + QStringLiteral("/timers.target.wants/velmor-run-T.timer")).isSymLink());
    EXPECT_EQ(runVelmorCli({QStringLiteral("schedule"), QStringLiteral("remove"), QStringLiteral("T")}).code, 2);
}

TEST_F(ScheduleCli, WhatIsRefusedWritesNothing)
{
    const QStringList refused[] = {
        {QStringLiteral("T"), QStringLiteral("--daily"), QStringLiteral("24:00")},
        {QStringLiteral("T"), QStringLiteral("--every"), QStringLiteral("30s")},
        {QStringLiteral("T"), QStringLiteral("--daily"), QStringLiteral("02:00"), QStringLiteral("--every"), QStringLiteral("1h")},
        {QStringLiteral("T"), QStringLiteral("--daily"), QStringLiteral("02:00"), QStringLiteral("--delay"), QStringLiteral("3")},
        {QStringLiteral("--watch"), QStringLiteral("T"), QStringLiteral("--delay"), QStringLiteral("soon")},
        {QStringLiteral("Missing"), QStringLiteral("--daily"), QStringLiteral("02:00")},
        {QStringLiteral("A,B"), QStringLiteral("--daily"), QStringLiteral("02:00")},
        {QString(60, QChar(u'写')), QStringLiteral("--daily"), QStringLiteral("02:00")},
        {QStringLiteral("T")},
        {QStringLiteral("list"), QStringLiteral("extra")},
    };
    for (const QStringList& args : refused) {
        const test::CliResult r = cli(QStringList{QStringLiteral("schedule")} + args);
        EXPECT_EQ(r.code, 2) << args.join(QLatin1Char(' ')).toStdString() << ": " << r.err.toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(units));
    EXPECT_TRUE(called().isEmpty());
}

} // namespace
