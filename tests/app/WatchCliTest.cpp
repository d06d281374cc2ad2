// velmor-cli watch end to end: a saved task is brought into step at the
// start, a change in folder 1 reaches folder 2 by itself, and SIGTERM ends
// the watch cleanly; a task without its folder 1 is not watched.
#include "CliTaskFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace velmor;
using velmor::test::runProgram;
using velmor::test::runVelmorCli;
using velmor::test::writeFile;

namespace {

using WatchCli = test::CliTaskFixture;

bool waitFor(const std::function<bool()>& cond, int ms = 90'000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

TEST_F(WatchCli, AChangeReachesTheDestinationAndSigtermEndsTheWatch)
{
    saveTask(QStringLiteral("W"));
    QProcess watch;
    watch.start(test::velmorCli(), {QStringLiteral("watch"), QStringLiteral("W"), QStringLiteral("--delay"),
                                    QStringLiteral("0.5"), QStringLiteral("--data"), data});
    ASSERT_TRUE(watch.waitForStarted());
    QString err;
    const auto readErr = [&] {
        watch.waitForReadyRead(20);
        err += QString::fromUtf8(watch.readAllStandardError());
        watch.readAllStandardOutput();
    };
    ASSERT_TRUE(waitFor([&] {
        readErr();
        return synced(QStringLiteral("W"));
    })) << "the first run did not bring folder 2 into step: " << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("W: watching 1 folders"))) << err.toStdString();

    const QString second = QStringLiteral("/in/second.txt");
    writeFile(src(QStringLiteral("W")) + second, "2");
    ASSERT_TRUE(waitFor([&] {
        readErr();
        return QFileInfo::exists(dst(QStringLiteral("W")) + second);
    })) << "the change did not reach folder 2: " << err.toStdString();

    ::kill(pid_t(watch.processId()), SIGTERM);
    ASSERT_TRUE(watch.waitForFinished(90'000));
    err += QString::fromUtf8(watch.readAllStandardError());
    EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("W: the watch ended"))) << err.toStdString();
}

// A task whose folder 1 is gone (an unplugged drive) is not watched: the
// tree would show the user data folder in its place.
TEST_F(WatchCli, AMissingFolder1IsNotWatched)
{
    saveTask(QStringLiteral("W"));
    ASSERT_TRUE(QDir(src(QStringLiteral("W"))).removeRecursively());
    const test::CliResult r = runVelmorCli({QStringLiteral("watch"), QStringLiteral("W"), QStringLiteral("--data"), data});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("folder 1 of the task W is missing"))) << r.err.toStdString();
}

// The real watch limit, lowered to 2 in a user namespace of its own (the
// machine's limit stays): the watch says so once, and a change in a folder
// it could not watch still reaches folder 2 through the periodic run.
TEST_F(WatchCli, AtTheWatchLimitChangesStillArriveByThePeriodicRun)
{
    for (const char* d : {"d1", "d2", "d3", "d4"})
        writeFile(src(QStringLiteral("W")) + QStringLiteral("/%1/f.txt").arg(QLatin1String(d)), "1");
    saveTask(QStringLiteral("W"));
    const QString inNs = QStringLiteral("echo 2 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\"");
    if (runProgram(QStringLiteral("unshare"), {QStringLiteral("-U"), QStringLiteral("-r"), QStringLiteral("sh"),
                                               QStringLiteral("-c"), inNs, QStringLiteral("true")})
            .code
        != 0)
        GTEST_SKIP() << "no user namespace with a watch limit of its own here";
    QProcess watch;
    watch.start(QStringLiteral("unshare"),
                {QStringLiteral("-U"), QStringLiteral("-r"), QStringLiteral("sh"), QStringLiteral("-c"), inNs,
                 test::velmorCli(), QStringLiteral("watch"), QStringLiteral("W"), QStringLiteral("--delay"),
                 QStringLiteral("0.2"), QStringLiteral("--rescan"), QStringLiteral("1"), QStringLiteral("--data"), data});
    ASSERT_TRUE(watch.waitForStarted());
    QString err;
    const auto said = [&](const QString& part) {
        watch.waitForReadyRead(20);
        err += QString::fromUtf8(watch.readAllStandardError());
        watch.readAllStandardOutput();
        return err.contains(part);
    };
    ASSERT_TRUE(waitFor([&] { return said(QStringLiteral("3 of 5 folders are not watched")); })) << err.toStdString();
    // The first run has compared d4 once its file is in folder 2.
    ASSERT_TRUE(waitFor([&] {
        said(QString());
        return QFileInfo::exists(dst(QStringLiteral("W")) + QStringLiteral("/d4/f.txt"));
    })) << err.toStdString();
    const QString late = QStringLiteral("/d4/late.txt");  // after d1, d2: not watched
    writeFile(src(QStringLiteral("W")) + late, "2");
    ASSERT_TRUE(waitFor([&] {
        said(QString());
        return QFileInfo::exists(dst(QStringLiteral("W")) + late);
    })) << err.toStdString();
    ::kill(pid_t(watch.processId()), SIGTERM);
    ASSERT_TRUE(watch.waitForFinished(90'000));
    err += QString::fromUtf8(watch.readAllStandardError());
    EXPECT_EQ(watch.exitCode(), 0) << err.toStdString();
    EXPECT_EQ(err.count(QStringLiteral("watch limit is reached")), 1) << err.toStdString();
}

} // namespace
