#include "app/watch/WatchPlan.h"

#include <algorithm>

namespace velmor {

void WatchPlan::changed(qint64 now)
{
    if (!m_pending) {
        m_pending = true;
        m_first = now;
    }
    m_last = now;
    m_notBefore = 0;  // a new change is worth a try at once
}

void WatchPlan::runSoon(qint64 now)
{
    changed(now);
    m_soon = true;
}

void WatchPlan::setBlind(bool blind, qint64 now)
{
    if (blind && !m_blind)
        m_nextSweep = now + m_t.fallback;
    m_blind = blind;
}

qint64 WatchPlan::wakeAt() const
{
    if (m_running)
        return -1;
    qint64 at = -1;
    if (m_pending) {
        at = m_soon ? m_first : std::min(m_last + m_t.delay, m_first + m_t.maxWait);
        at = std::max(at, m_notBefore);
    }
    if (m_blind)
        at = at < 0 ? m_nextSweep : std::min(at, m_nextSweep);
    return at;
}

bool WatchPlan::due(qint64 now) const
{
    const qint64 at = wakeAt();
    return at >= 0 && now >= at;
}

void WatchPlan::started(qint64 now)
{
    m_running = true;
    m_pending = false;
    m_soon = false;
    if (m_blind)
        m_nextSweep = now + m_t.fallback;
}

void WatchPlan::finished(qint64 now, bool ok)
{
    m_running = false;
    if (!ok && !m_pending) {
        // What that run should have brought over is still missing.
        m_pending = true;
        m_first = m_last = now;
        m_notBefore = now + m_t.retry;
    }
}

} // namespace velmor
