#pragma once
// Independent pieces of work done on several threads at once.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace velmor {

// Calls fn(k) once for every k in [0, count), on up to threads threads, the
// calling one among them, each taking the next k; returns when all are done.
// Pieces that wait on a slow volume then wait side by side.
template <class Fn>
void ForEachAtOnce(size_t count, int threads, Fn&& fn)
{
    std::atomic<size_t> next = 0;
    const auto work = [&] {
        for (size_t k; (k = next++) < count;)
            fn(k);
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < std::min(size_t(std::max(threads, 1)), count); ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers)
        t.join();
}

} // namespace velmor
