// SIGINT, SIGTERM and SIGHUP: the stop button of a run under way, their
// default effect otherwise. Each case runs in a forked child, so the
// handler and the received stop never reach the other tests.
#include "env/Progress.h"
#include "env/StopSignal.h"

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace velmor;

namespace {

// Child exit codes of a run that was asked to stop.
constexpr int kNotSeen = 3;    // the run went on as if nothing came
constexpr int kOutlived = 4;   // the second signal, after the run, did not end the process

// In the child: the handler installed, sig raised during a run (or idle),
// then once more after the run.
[[noreturn]] void child(int sig, bool underRun)
{
    StopSignal::install();
    if (underRun) {
        StopSignal::RunScope running;
        HeadlessProgress progress;
        progress.cMsg(QString(), true);
        ::raise(sig);
        if (!StopSignal::received() || StopSignal::which() != sig || progress.yield() || progress.bRun())
            ::_exit(kNotSeen);
    } else {
        ::raise(sig);
        ::_exit(kOutlived);
    }
    // The run is over: the next signal has its own effect again.
    ::raise(sig);
    ::_exit(kOutlived);
}

} // namespace

TEST(StopSignal, StopsARunUnderWayAndEndsAnIdleProcess)
{
    struct Case {
        int sig;
        bool underRun;
    };
    const Case cases[] = {
        {SIGTERM, false}, {SIGINT, false}, {SIGHUP, false},
        {SIGTERM, true}, {SIGINT, true}, {SIGHUP, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.sig)) + (c.underRun ? " during a run" : " while idle"));
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0) << std::strerror(errno);
        if (pid == 0)
            child(c.sig, c.underRun);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (c.underRun && WIFEXITED(status)) {
            EXPECT_NE(WEXITSTATUS(status), kNotSeen) << "the run did not see the stop";
            EXPECT_NE(WEXITSTATUS(status), kOutlived) << "a signal after the run did not end the process";
        }
        // Either way the process ends of the signal itself: idle at once,
        // during a run only at the signal that came after it.
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), c.sig);
    }
}
