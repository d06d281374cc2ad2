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

} // namespace
