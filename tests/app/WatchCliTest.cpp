// velmor-cli watch end to end: a saved task is brought into step at the
// start, a change in folder 1 reaches folder 2 by itself, and SIGTERM ends
// the watch cleanly.
#include "common/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace velmor;
using velmor::test::runVelmorCli;
using velmor::test::writeFile;

namespace {

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

TEST(WatchCli, AChangeReachesTheDestinationAndSigtermEndsTheWatch)
{
    if (test::velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    test::ScopedTestHome home;
    QTemporaryDir tmp;
    const QString src = tmp.path() + QStringLiteral("/src"), dst = tmp.path() + QStringLiteral("/dst");
    const QString data = tmp.path() + QStringLiteral("/data");
    writeFile(src + QStringLiteral("/in/first.txt"), "1");
    QDir().mkpath(dst);
    ASSERT_EQ(runVelmorCli({QStringLiteral("task"), QStringLiteral("save"), QStringLiteral("W"), src, dst,
                            QStringLiteral("--data"), data})
                  .code,
              0);

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
        return QFileInfo::exists(dst + QStringLiteral("/in/first.txt"));
    })) << "the first run did not bring folder 2 into step: " << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("W: watching 1 folders"))) << err.toStdString();

    writeFile(src + QStringLiteral("/in/second.txt"), "2");
    ASSERT_TRUE(waitFor([&] {
        readErr();
        return QFileInfo::exists(dst + QStringLiteral("/in/second.txt"));
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
TEST(WatchCli, AMissingFolder1IsNotWatched)
{
    if (test::velmorCli().isEmpty())
        GTEST_SKIP() << "velmor-cli is not built";
    test::ScopedTestHome home;
    QTemporaryDir tmp;
    const QString src = tmp.path() + QStringLiteral("/src"), data = tmp.path() + QStringLiteral("/data");
    writeFile(src + QStringLiteral("/in/f.txt"), "1");
    QDir().mkpath(tmp.path() + QStringLiteral("/dst"));
    ASSERT_EQ(runVelmorCli({QStringLiteral("task"), QStringLiteral("save"), QStringLiteral("W"), src,
                            tmp.path() + QStringLiteral("/dst"), QStringLiteral("--data"), data})
                  .code,
              0);
    ASSERT_TRUE(QDir(src).removeRecursively());
    const test::CliResult r =
        runVelmorCli({QStringLiteral("watch"), QStringLiteral("W"), QStringLiteral("--data"), data});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("folder 1 of the task W is missing"))) << r.err.toStdString();
}

} // namespace
