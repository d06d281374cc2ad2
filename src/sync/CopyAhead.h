#pragma once
// Writes copies of files ahead of their turn on threads of its own, so the
// next files' data goes into their temporaries while the current file is put
// in place. Only temporaries are made ahead (fsops::StageCopy); every change
// a user can see (a copy renamed into place, a removal, a backup, a log
// line) stays with the caller, in order, after its usual checks. At most
// depth() copies are queued or waiting at a time, each of at most kMaxBytes,
// so a stop leaves little written in vain and never waits long. A caller
// may also hand it a share of its own work (queue a job that makes no copy,
// do its part, then take the job's key to wait for the helper's part).
#include "sync/FsOps.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace velmor {

class CopyAhead {
public:
    // Writes the staged copy into its argument; false when there is none.
    using Job = std::function<bool(fsops::StagedCopy&)>;
    static constexpr int kDepth = 8;
    static constexpr long long kMaxBytes = 1 << 20;
    // Threads for copies that are read back: each waits on the device for
    // its data to be written and read again, so more are kept under way.
    static constexpr int kVerifyWorkers = 6;

    // depth: jobs queued, under way or waiting at most (0: kDepth, or two
    // a thread where there are more threads).
    explicit CopyAhead(int workers = 1, int depth = 0);
    // Waits for the copy under way; every copy not taken is removed.
    ~CopyAhead();
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    // No more room ahead.
    bool full() const;
    // The threads that take jobs.
    int workers() const { return m_workers; }
    // Queues job; returns its key (keys rise).
    long long queue(Job job);
    // The staged copy of key, waiting while it is queued or written; an
    // invalid one when key is unknown or its job made none. Every job and
    // copy of a smaller key is dropped.
    fsops::StagedCopy take(long long key);
    // Drops every job and copy (after the one under way).
    void dropAll();

private:
    void run();
    void dropBelow(long long key, std::unique_lock<std::mutex>& lock);

    const int m_workers;
    const int m_depth;  // copies queued, under way or waiting, at most
    mutable std::mutex m_lock;
    std::condition_variable m_wake;  // a job queued, or quitting
    std::condition_variable m_done;  // a job finished
    std::deque<std::pair<long long, Job>> m_jobs;
    std::map<long long, fsops::StagedCopy> m_staged;  // finished jobs' copies (invalid: none)
    long long m_next = 0;
    std::set<long long> m_running;  // keys of the jobs under way
    bool m_quit = false;
    std::vector<std::thread> m_threads;  // started with the first job
};

} // namespace velmor
