// Pieces of work done side by side: each once, and really at the same time.
#include "env/Parallel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace velmor::test {
namespace {

TEST(ParallelTest, EveryPieceOnceAndAsManyAtOnceAsThreads)
{
    const struct {
        size_t count;
        int threads;
        int together;  // pieces that must be under way at one moment
    } cases[] = {{0, 4, 0}, {1, 4, 1}, {9, 1, 1}, {9, 0, 1}, {12, 4, 4}, {3, 8, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " pieces on " << c.threads << " threads");
        std::mutex lock;
        std::condition_variable changed;
        std::vector<int> done(c.count, 0);
        int inside = 0, most = 0;
        ForEachAtOnce(c.count, c.threads, [&](size_t k) {
            std::unique_lock<std::mutex> hold(lock);
            ++done[k];
            most = std::max(most, ++inside);
            changed.notify_all();
            // Each piece waits (a while at most) until as many as there are
            // threads are under way, as they do on a slow volume.
            changed.wait_for(hold, std::chrono::seconds(2), [&] { return most >= c.together; });
            --inside;
        });
        EXPECT_EQ(done, std::vector<int>(c.count, 1));
        EXPECT_EQ(most, c.together);
    }
}

} // namespace
} // namespace velmor::test
