#pragma once
// Keeps a task's folder 2 in step by itself: watches folders with inotify
// and starts a run (a separate process, by default `velmor-cli run TASK`)
// when WatchPlan says so. One run at a time; changes during a run lead to
// the next one.
//
// Nothing is missed silently. A folder that cannot be watched (the
// per-user watch limit, fs.inotify.max_user_watches, is reached; the
// folder is unreadable or gone) is named once, and from then on the task
// also runs every WatchTimes::fallback, a full comparison that covers it;
// each such run first tries to watch those folders again. When the kernel's
// event queue overflows, that is said once and the task runs at once.
#include "app/watch/WatchPlan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>
#include <vector>

namespace velmor {

// The system calls the watch makes where tests put in the kernel's rarer
// answers (ENOSPC from a full watch table, a queue overflow).
struct WatchSys {
    std::function<int(int fd, const char* path, uint32_t mask)> addWatch;  // inotify_add_watch
    std::function<ssize_t(int fd, void* buf, size_t size)> read;           // read of the inotify descriptor
};

struct WatchOptions {
    std::vector<QByteArray> folders;  // absolute paths of the folders to watch
    QStringList command;              // one run: program and its arguments
    WatchTimes times;
    // Readable: the watch ends (tests). -1: SIGINT, SIGTERM or SIGHUP end it;
    // a run under way is handed the signal and waited for.
    int stopFd = -1;
    std::function<void(const QString& line)> say;  // a line for the user (required)
    std::function<void(int status)> ran;           // after each run: its exit status (-1: killed)
    WatchSys sys;                                  // empty members: the real calls
};

// Watches until the end is asked for. Returns 0 after a clean end, 1 when
// the watch could not be set up at all (said why).
int Watch(const WatchOptions& opt);

} // namespace velmor
