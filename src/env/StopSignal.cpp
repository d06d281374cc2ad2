#include "env/StopSignal.h"

#include <atomic>
#include <csignal>
#include <system_error>

#include <cerrno>

namespace velmor::StopSignal {

namespace {

// Read and written by the handler: lock-free atomics only.
std::atomic<int> g_runs{0};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int sig)
{
    if (g_runs.load() > 0) {
        int none = 0;
        g_signal.compare_exchange_strong(none, sig);
        return;
    }
    // No run: the signal's own effect. It is blocked while this handler
    // runs and is delivered again with the default disposition on return.
    const int saved = errno;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    errno = saved;
}

} // namespace

void install()
{
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (const int sig : kSignals)
        if (::sigaction(sig, &sa, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "sigaction");
}

bool received() { return g_signal.load() != 0; }

int which() { return g_signal.load(); }

RunScope::RunScope() { g_runs.fetch_add(1); }

RunScope::~RunScope() { g_runs.fetch_sub(1); }

} // namespace velmor::StopSignal
