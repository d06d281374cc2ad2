#include "sync/CopyAhead.h"

#include <algorithm>

namespace velmor {

CopyAhead::CopyAhead(int workers, int depth)
    : m_workers(std::max(1, workers)), m_depth(depth > 0 ? depth : std::max(kDepth, 2 * m_workers))
{
}

CopyAhead::~CopyAhead()
{
    {
        std::unique_lock lock(m_lock);
        m_quit = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    // m_staged's copies are removed with it.
}

bool CopyAhead::full() const
{
    const std::unique_lock lock(m_lock);
    return int(m_jobs.size() + m_staged.size() + m_running.size()) >= m_depth;
}

long long CopyAhead::queue(Job job)
{
    long long key;
    {
        const std::unique_lock lock(m_lock);
        key = m_next++;
        m_jobs.emplace_back(key, std::move(job));
        if (m_threads.empty())
            for (int k = 0; k < m_workers; ++k)
                m_threads.emplace_back([this] { run(); });
    }
    m_wake.notify_one();
    return key;
}

void CopyAhead::dropBelow(long long key, std::unique_lock<std::mutex>& lock)
{
    while (!m_jobs.empty() && m_jobs.front().first < key)
        m_jobs.pop_front();
    m_done.wait(lock, [&] { return m_running.empty() || *m_running.begin() >= key; });
    std::map<long long, fsops::StagedCopy> old;
    auto end = m_staged.lower_bound(key);
    old.insert(std::make_move_iterator(m_staged.begin()), std::make_move_iterator(end));
    m_staged.erase(m_staged.begin(), end);
    // The dropped temporaries are removed once the lock is given back.
    lock.unlock();
    old.clear();
    lock.lock();
}

fsops::StagedCopy CopyAhead::take(long long key)
{
    std::unique_lock lock(m_lock);
    dropBelow(key, lock);
    const auto queued = [&] {
        return m_running.contains(key) || (!m_jobs.empty() && m_jobs.front().first == key);
    };
    m_done.wait(lock, [&] { return !queued(); });
    fsops::StagedCopy out;
    if (auto it = m_staged.find(key); it != m_staged.end()) {
        out = std::move(it->second);
        m_staged.erase(it);
    }
    return out;
}

void CopyAhead::dropAll()
{
    std::unique_lock lock(m_lock);
    dropBelow(m_next, lock);
}

void CopyAhead::run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [&] { return m_quit || !m_jobs.empty(); });
        if (m_quit)
            return;
        auto [key, job] = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_running.insert(key);
        lock.unlock();
        fsops::StagedCopy copy;
        if (!job(copy))
            copy = fsops::StagedCopy();
        lock.lock();
        m_running.erase(key);
        m_staged.emplace(key, std::move(copy));
        m_done.notify_all();
    }
}

} // namespace velmor
