// velmor-cli run end to end: tasks saved with velmor-cli task save, then run
// from a command-line task text; the printed rows, the exit status, the
// hand-off to the companion.
#include "common/TestSupport.h"
#include "CliTaskFixture.h"
#include "StandIn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::runVelmorCli;
using velmor::test::StandIn;
using velmor::test::writeFile;

namespace {

class CliRunCommand : public test::CliTaskFixture {
protected:
    test::CliResult run(const QString& text)
    {
        return runVelmorCli({QStringLiteral("run"), text, QStringLiteral("--data"), data});
    }

    // The first column of every printed line (each must have 13 columns).
    static QStringList taskColumn(const QByteArray& out)
    {
        QStringList tasks;
        for (const QString& line : QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList cols = line.split(QLatin1Char('\t'));
            EXPECT_EQ(cols.size(), 13) << line.toStdString();
            tasks << cols.first();
        }
        return tasks;
    }

    // Registers the companion where velmor-cli's per-user store lies (the
    // child process has no test mode: $HOME/.config).
    void registerCompanion(const QString& program)
    {
        QSettings s(home.path() + QStringLiteral("/.config/QuarnellTools.conf"), QSettings::IniFormat);
        s.setValue(QStringLiteral("Path/Zavro"), program);
    }
};

} // namespace

TEST_F(CliRunCommand, TwoTasksRunInOrder)
{
    saveTask(QStringLiteral("T1"));
    saveTask(QStringLiteral("T 2"));
    const test::CliResult r = run(QStringLiteral("T1, T 2 "));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(synced(QStringLiteral("T1")));
    EXPECT_TRUE(synced(QStringLiteral("T 2")));
    // One folder row each (the new folder with its file), in run order.
    EXPECT_EQ(taskColumn(r.out), (QStringList{QStringLiteral("T1"), QStringLiteral("T 2")}));
    const QStringList first = QString::fromUtf8(r.out).split(QLatin1Char('\n')).first().split(QLatin1Char('\t'));
    EXPECT_EQ(first.value(2), QStringLiteral("in"));
    EXPECT_EQ(first.value(7), QStringLiteral("2"));    // done
    EXPECT_EQ(first.value(8), QStringLiteral("追加"));
}

TEST_F(CliRunCommand, MissingTaskInTheMiddleStillRunsTheOthers)
{
    saveTask(QStringLiteral("T1"));
    saveTask(QStringLiteral("T2"));
    const test::CliResult r = run(QStringLiteral("T1,gone,T2"));
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("gone が定義されていません"))) << r.err.toStdString();
    EXPECT_TRUE(synced(QStringLiteral("T1")));
    EXPECT_TRUE(synced(QStringLiteral("T2")));
    EXPECT_EQ(taskColumn(r.out), (QStringList{QStringLiteral("T1"), QStringLiteral("T2")}));

    // A trailing "," is an empty item: noted, nothing run, not a failure.
    const test::CliResult again = run(QStringLiteral("T1,"));
    EXPECT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_FALSE(again.err.isEmpty());
}

TEST_F(CliRunCommand, FailedRowGivesExitOne)
{
    saveTask(QStringLiteral("T1"));
    ASSERT_EQ(run(QStringLiteral("T1")).code, 0);
    // A read-only destination file that must be overwritten fails its row.
    const QString target = dst(QStringLiteral("T1")) + QStringLiteral("/in/f.txt");
    writeFile(src(QStringLiteral("T1")) + QStringLiteral("/in/f.txt"), "changed");
    test::setMTime(target, QDateTime(QDate(2001, 1, 1), QTime(0, 0)));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const test::CliResult r = run(QStringLiteral("T1"));
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(r.out).contains(QStringLiteral("上書 Err"))) << r.out.toStdString();
}

TEST_F(CliRunCommand, UploadSwitchHandsTheTaskToTheCompanion)
{
    saveTask(QStringLiteral("T1"));
    // Not known: the message, the run goes on, the exit status says so.
    test::CliResult r = run(QStringLiteral("T1 /F"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Zavro.exe がｲﾝｽﾄｰﾙされていないか 有効でありません"))) << r.err.toStdString();
    EXPECT_TRUE(synced(QStringLiteral("T1")));

    StandIn z(tmp.path() + QStringLiteral("/Zavro dir"));
    z.release();
    registerCompanion(z.program());
    r = run(QStringLiteral("T1 /F"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(z.done());  // velmor-cli ended after the companion
    EXPECT_EQ(z.args(), (QStringList{QStringLiteral("2"), QStringLiteral("SyncUp"), QStringLiteral("/b|T1")}));
    // The companion's own output never mixes into the result rows.
    EXPECT_FALSE(r.out.contains("stand-in output")) << r.out.toStdString();
}
