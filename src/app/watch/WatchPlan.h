#pragma once
// When a watching task runs: the decisions of `velmor-cli watch`, free of
// any clock, file system or process, so that they can be driven by a fake
// clock. Times are milliseconds on a monotonic clock.
//
// A change starts a wait; every further change restarts it, and the task
// runs once the folders have been quiet for the delay (at the latest
// maxWait after the first change of a burst that never quietens). A run
// never overlaps another: changes during a run are kept for the next one.
// A run that failed is tried again after retry, unless a change comes
// first. While some folders cannot be watched ("blind"), the task also runs
// every fallback, so that what changes there is still compared.
#include <QtGlobal>

namespace velmor {

struct WatchTimes {
    qint64 delay = 3000;      // quiet time after the last change
    qint64 maxWait = 60000;   // longest wait after the first change of a burst
    qint64 fallback = 300000; // period of full runs while some folders are not watched
    qint64 retry = 60000;     // a failed run is tried again after this long
};

class WatchPlan {
public:
    explicit WatchPlan(const WatchTimes& times) : m_t(times) {}

    // Something changed in a watched folder.
    void changed(qint64 now);
    // Changes may have been missed (the event queue overflowed) or nothing
    // has been compared yet: run as soon as no run is under way.
    void runSoon(qint64 now);
    // Some folders are (blind) or are no longer (!blind) without a watch.
    void setBlind(bool blind, qint64 now);
    bool blind() const { return m_blind; }

    // A run should start now.
    bool due(qint64 now) const;
    // The next moment at which due() may become true without further
    // events; -1 when only an event can make it so.
    qint64 wakeAt() const;

    void started(qint64 now);
    // ok: the run did what it should (exit status 0).
    void finished(qint64 now, bool ok);
    bool running() const { return m_running; }

private:
    WatchTimes m_t;
    bool m_pending = false;  // changes not yet run for
    qint64 m_first = 0;      // first and last change of the pending burst
    qint64 m_last = 0;
    qint64 m_notBefore = 0;  // a failed run is not tried again before this
    bool m_soon = false;     // run without waiting for quiet
    bool m_running = false;
    bool m_blind = false;
    qint64 m_nextSweep = 0;  // next periodic run while blind
};

} // namespace velmor
