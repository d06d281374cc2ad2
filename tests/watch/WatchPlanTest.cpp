// When a watched task runs, on a fake clock: bursts, runs that take time,
// failures, overflows and folders without a watch.
#include "app/watch/WatchPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace velmor {
namespace {

enum class Op { Change, Soon, Blind, Sight };
struct Step {
    qint64 at;
    Op op;
};

// Feeds steps to a plan and starts a run whenever it is due; each run takes
// runMs and ends as outcomes says (true when not listed). Returns the
// moments runs started, up to until.
std::vector<qint64> simulate(const WatchTimes& times, std::vector<Step> steps, qint64 runMs, qint64 until,
                             const std::vector<bool>& outcomes = {})
{
    WatchPlan plan(times);
    std::vector<qint64> runs;
    std::sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.at < b.at; });
    size_t next = 0;
    qint64 runEnd = -1;
    qint64 now = 0;
    constexpr qint64 kNever = std::numeric_limits<qint64>::max();
    for (;;) {
        const qint64 event = next < steps.size() ? steps[next].at : kNever;
        const qint64 wake = plan.running() ? runEnd : plan.wakeAt() < 0 ? kNever : plan.wakeAt();
        const qint64 t = now = std::max(now, std::min(event, wake));
        if (t > until)
            return runs;
        if (plan.running() && t == runEnd && runEnd <= event) {
            const size_t k = runs.size() - 1;
            plan.finished(t, k >= outcomes.size() || outcomes[k]);
            continue;
        }
        if (!plan.running() && wake <= event) {
            EXPECT_TRUE(plan.due(t));
            plan.started(t);
            runs.push_back(t);
            runEnd = t + runMs;
            continue;
        }
        switch (steps[next].op) {
        case Op::Change: plan.changed(t); break;
        case Op::Soon: plan.runSoon(t); break;
        case Op::Blind: plan.setBlind(true, t); break;
        case Op::Sight: plan.setBlind(false, t); break;
        }
        ++next;
    }
}

std::vector<Step> every(qint64 from, qint64 to, qint64 step, Op op = Op::Change)
{
    std::vector<Step> out;
    for (qint64 t = from; t <= to; t += step)
        out.push_back({t, op});
    return out;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PlanCase {
    const char* what;
    std::vector<Step> steps;
    qint64 runMs;
    qint64 until;
    std::vector<bool> outcomes;
    std::vector<qint64> runs;
};

TEST(WatchPlanTest, RunsFollowTheChanges)
{
    WatchTimes t;
    t.delay = 1000;
    t.maxWait = 10'000;
    t.fallback = 30'000;
    t.retry = 5000;
    const PlanCase cases[] = {
        {"a burst runs once, a delay after its last change", every(0, 900, 100), 0, 100'000, {}, {1900}},
        {"two bursts apart run twice", every(0, 500, 100) + every(5000, 5200, 100), 0, 100'000, {}, {1500, 6200}},
        {"a burst that never quietens runs at most maxWait after its first change", every(0, 25'000, 500), 0, 26'000,
         {}, {10'000, 20'000, 26'000}},
        {"a change during a run waits for the run to end", every(0, 0, 1) + every(3000, 3000, 1), 5000, 100'000, {},
         {1000, 6000}},
        {"changes during a run after its own quiet end run once more", every(0, 0, 1) + every(1500, 1800, 100), 500,
         100'000, {}, {1000, 2800}},
        {"a failed run is tried again after the retry time", every(0, 0, 1), 100, 12'000, {false, false, true},
         {1000, 6100, 11'200}},
        {"a change after a failed run is run for after the delay", every(0, 0, 1) + every(2000, 2000, 1), 100,
         100'000, {false}, {1000, 3000}},
        {"runSoon (overflow, start) runs at once", {{700, Op::Soon}}, 0, 100'000, {}, {700}},
        {"runSoon while a run is under way runs when it ends", {{0, Op::Soon}, {100, Op::Soon}}, 1000, 100'000, {},
         {0, 1000}},
        {"blind: a full run every fallback", {{0, Op::Blind}}, 100, 95'000, {}, {30'000, 60'000, 90'000}},
        {"blind and changes: the periodic run counts from the last run", {{0, Op::Blind}, {20'000, Op::Change}}, 0,
         60'000, {}, {21'000, 51'000}},
        {"seeing again ends the periodic runs", {{0, Op::Blind}, {40'000, Op::Sight}}, 0, 200'000, {}, {30'000}},
        {"nothing changes, nothing runs", {}, 0, 1'000'000, {}, {}},
    };
    for (const PlanCase& c : cases)
        EXPECT_EQ(simulate(t, c.steps, c.runMs, c.until, c.outcomes), c.runs) << c.what;
}

} // namespace
} // namespace velmor
