// The watch on real folders with inotify: a burst of changes runs the task
// once, an overflowing event queue and a full watch table (the kernel's
// answers put in through WatchSys) are said once and never cost a change.
// Runs are a shell command that counts them; the watch ends through its
// stop descriptor.
#include "app/watch/Watcher.h"
#include "common/TestSupport.h"
#include "env/FsDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>
#include <thread>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace velmor::test {
namespace {

// Long enough for a loaded machine: conditions are waited for, never slept on.
constexpr int kPatienceMs = 90'000;

class WatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        for (int i = 0; i < 5; ++i) {
            const QString f = tmp.path() + QStringLiteral("/src/d%1").arg(i);
            makeDir(f);
            opt.folders.push_back(nameBytes(f));
        }
        count = tmp.path() + QStringLiteral("/runs");
        opt.command = {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QStringLiteral("echo run >> \"$0\""), count};
        opt.say = [this](const QString& line) {
            const std::lock_guard<std::mutex> hold(lock);
            said.append(line);
        };
        opt.ran = [this](int status) {
            if (!stopping) {  // a run under way at the end is stopped
                EXPECT_EQ(status, 0);
            }
            ++runs;
        };
        ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
        opt.stopFd = stop[0];
    }
    void TearDown() override
    {
        end();
        ::close(stop[0]);
        ::close(stop[1]);
    }

    void start()
    {
        loop = std::thread([this] { result = Watch(opt); });
    }
    void end()
    {
        if (!loop.joinable())
            return;
        stopping = true;
        EXPECT_EQ(::write(stop[1], "x", 1), 1);
        loop.join();
        EXPECT_EQ(result, 0);
    }
    static bool waitFor(const std::function<bool()>& cond, int ms = kPatienceMs)
    {
        QElapsedTimer t;
        t.start();
        while (!cond()) {
            if (t.elapsed() > ms)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // Lines said that contain part.
    int saidWith(const QString& part)
    {
        const std::lock_guard<std::mutex> hold(lock);
        return int(said.filter(part).size());
    }
    QString saidAll()
    {
        const std::lock_guard<std::mutex> hold(lock);
        return said.join(QLatin1Char('\n'));
    }
    void touch(int folder, const QString& name)
    {
        writeFile(nameText(opt.folders[size_t(folder)]) + QLatin1Char('/') + name, "x");
    }
    int countedRuns() const { return int(readFile(count).count('\n')); }

    QTemporaryDir tmp;
    WatchOptions opt;
    QString count;
    std::atomic<int> runs{0};
    std::atomic<bool> stopping{false};
    std::mutex lock;
    QStringList said;
    int stop[2] = {-1, -1};
    std::thread loop;
    int result = -1;
};

TEST_F(WatcherTest, ABurstOfChangesRunsOnce)
{
    opt.times.delay = 3000;
    start();
    ASSERT_TRUE(waitFor([&] { return runs == 1; })) << "no first run";
    EXPECT_EQ(saidWith(QStringLiteral("watching 5 folders")), 1) << saidAll().toStdString();
    for (int i = 0; i < 60; ++i)
        touch(i % 5, QStringLiteral("f%1.txt").arg(i));
    ASSERT_TRUE(waitFor([&] { return runs == 2; })) << "the burst did not run";
    // Nothing further changes: no further run within a few delays.
    EXPECT_FALSE(waitFor([&] { return runs > 2; }, int(3 * opt.times.delay)));
    end();
    EXPECT_EQ(countedRuns(), 2);
}

// A run that failed is tried again by itself, with nothing changed.
TEST_F(WatcherTest, AFailedRunIsTriedAgain)
{
    opt.times.retry = 200;
    // The first run fails, the second succeeds.
    opt.command = {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                   QStringLiteral("echo run >> \"$0\"; [ $(wc -l < \"$0\") -ge 2 ]"), count};
    std::vector<int> codes;
    std::mutex codesLock;
    opt.ran = [&](int status) {
        const std::lock_guard<std::mutex> hold(codesLock);
        codes.push_back(status);
        ++runs;
    };
    start();
    ASSERT_TRUE(waitFor([&] { return runs == 2; })) << "the failed run was not tried again";
    EXPECT_FALSE(waitFor([&] { return runs > 2; }, 1000)) << "a run that succeeded is not repeated";
    end();
    EXPECT_EQ(codes, (std::vector<int>{1, 0}));
}

TEST_F(WatcherTest, AnOverflowingQueueIsSaidOnceAndRunsAtOnce)
{
    // A change waits a minute for quiet; only the overflow runs at once.
    opt.times.delay = 60'000;
    std::atomic<bool> overflow{false};
    opt.sys.read = [&](int fd, void* buf, size_t size) -> ssize_t {
        if (overflow.exchange(false)) {
            struct inotify_event e {};
            e.wd = -1;
            e.mask = IN_Q_OVERFLOW;
            std::memcpy(buf, &e, sizeof e);
            return ssize_t(sizeof e);
        }
        return ::read(fd, buf, size);
    };
    start();
    ASSERT_TRUE(waitFor([&] { return runs == 1; }));
    for (int round = 2; round <= 3; ++round) {
        overflow = true;
        touch(round, QStringLiteral("wake.txt"));  // makes the queue readable
        ASSERT_TRUE(waitFor([&] { return runs == round; }, 50'000)) << "no run after overflow " << round;
    }
    EXPECT_EQ(saidWith(QStringLiteral("overflowed")), 1) << saidAll().toStdString();
}

TEST_F(WatcherTest, AFullWatchTableFallsBackToPeriodicRunsUntilWatchesFit)
{
    opt.times.delay = 60'000;
    opt.times.fallback = 1500;
    std::atomic<int> allowed{2};
    std::atomic<int> granted{0};
    opt.sys.addWatch = [&](int fd, const char* path, uint32_t mask) {
        if (granted >= allowed) {
            errno = ENOSPC;
            return -1;
        }
        const int wd = ::inotify_add_watch(fd, path, mask);
        if (wd >= 0)
            ++granted;
        return wd;
    };
    start();
    // The folders without a watch are compared periodically: runs come
    // although nothing changes.
    ASSERT_TRUE(waitFor([&] { return runs >= 4; })) << saidAll().toStdString();
    EXPECT_EQ(saidWith(QStringLiteral("watch limit is reached")), 1) << saidAll().toStdString();
    EXPECT_EQ(saidWith(QStringLiteral("3 of 5 folders are not watched")), 1) << saidAll().toStdString();
    EXPECT_EQ(saidWith(QStringLiteral("watching 2 folders")), 1) << saidAll().toStdString();
    // The limit is raised: the next periodic run watches every folder.
    allowed = 100;
    ASSERT_TRUE(waitFor([&] { return saidWith(QStringLiteral("every folder is watched again")) == 1; }));
    const int settled = runs;
    EXPECT_FALSE(waitFor([&] { return runs > settled + 1; }, int(4 * opt.times.fallback)))
        << "periodic runs go on with every folder watched";
}

TEST_F(WatcherTest, ARemovedFolderIsSaidAndComparedPeriodically)
{
    opt.times.fallback = 1500;
    opt.times.delay = 200;
    start();
    ASSERT_TRUE(waitFor([&] { return runs == 1; }));
    ASSERT_TRUE(QDir(nameText(opt.folders[4])).removeRecursively());
    ASSERT_TRUE(waitFor([&] { return saidWith(QStringLiteral("is no longer watched")) == 1; })) << saidAll().toStdString();
    const int after = runs;
    ASSERT_TRUE(waitFor([&] { return runs >= after + 2; })) << "no periodic runs for the lost folder";
}

} // namespace
} // namespace velmor::test
