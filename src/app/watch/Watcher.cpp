#include "app/watch/Watcher.h"

#include "env/Argv.h"
#include "env/FsDir.h"
#include "env/SysReason.h"

#include <QSet>

#include <algorithm>
#include <memory>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <unordered_map>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmor {

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO
                           | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW
                           | IN_EXCL_UNLINK;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

qint64 nowMs()
{
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QString seconds(qint64 ms) { return QString::number(double(ms) / 1000, 'g', 6) + QStringLiteral(" s"); }

// The stopSignals that end the watch, read from a descriptor instead of
// interrupting; the mask is restored when the watch ends.
class SignalFd {
public:
    SignalFd()
    {
        sigemptyset(&m_set);
        for (const int s : kStopSignals)
            sigaddset(&m_set, s);
        ::sigprocmask(SIG_BLOCK, &m_set, &m_old);
        m_fd.reset(::signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK));
    }
    ~SignalFd() { ::sigprocmask(SIG_SETMASK, &m_old, nullptr); }
    int fd() const { return m_fd.get(); }
    // The signal that arrived (0: none).
    int take() const
    {
        struct signalfd_siginfo si {};
        return ::read(m_fd.get(), &si, sizeof si) == ssize_t(sizeof si) ? int(si.ssi_signo) : 0;
    }

private:
    sigset_t m_set{}, m_old{};
    UniqueFd m_fd;
};

class Watching {
public:
    explicit Watching(const WatchOptions& opt) : m_opt(opt), m_plan(opt.times), m_wd(opt.folders.size(), -1) {}

    int run();

private:
    int addWatch(const QByteArray& path)
    {
        return m_opt.sys.addWatch ? m_opt.sys.addWatch(m_ino.get(), path.constData(), kMask)
                                  : ::inotify_add_watch(m_ino.get(), path.constData(), kMask);
    }
    ssize_t readEvents(void* buf, size_t size)
    {
        return m_opt.sys.read ? m_opt.sys.read(m_ino.get(), buf, size) : ::read(m_ino.get(), buf, size);
    }
    void watchMissing(qint64 now);
    void drainEvents(qint64 now);
    void lost(size_t folder, const QString& why, qint64 now);
    bool startRun(qint64 now);
    void reap(bool wait);

    const WatchOptions& m_opt;
    WatchPlan m_plan;
    UniqueFd m_ino;
    std::vector<int> m_wd;                // per folder: its watch, -1 without
    std::unordered_map<int, size_t> m_of;  // watch -> folder
    QSet<size_t> m_named;                 // folders whose missing watch was said
    bool m_saidLimit = false;
    bool m_saidOverflow = false;
    pid_t m_child = -1;
    UniqueFd m_childFd;  // pidfd of the run under way
};

// Every folder without a watch gets one if it can. What cannot is said once
// (the watch limit once for all folders it hits) and leaves the plan blind.
void Watching::watchMissing(qint64 now)
{
    size_t limited = 0;
    size_t without = 0;
    for (size_t i = 0; i < m_opt.folders.size(); ++i) {
        if (m_wd[i] >= 0)
            continue;
        int wd = -1;
        int err = EBADF;
        if (m_ino.valid()) {
            wd = addWatch(m_opt.folders[i]);
            err = errno;
        }
        if (wd >= 0) {
            m_wd[i] = wd;
            m_of[wd] = i;
            m_named.remove(i);
            continue;
        }
        ++without;
        if (!m_ino.valid())
            continue;  // said when inotify could not be had
        if (err == ENOSPC) {
            ++limited;
        } else if (!m_named.contains(i)) {
            m_named.insert(i);
            const QString path = nameText(m_opt.folders[i]);
            m_opt.say(QStringLiteral("cannot watch %1: %2; it is compared every %3")
                          .arg(path, SysReason(err, path), seconds(m_opt.times.fallback)));
        }
    }
    if (limited > 0 && !m_saidLimit) {
        m_saidLimit = true;
        m_opt.say(QStringLiteral("the inotify watch limit is reached (fs.inotify.max_user_watches): %1 of %2 folders "
                                 "are not watched; they are compared every %3")
                      .arg(limited)
                      .arg(m_opt.folders.size())
                      .arg(seconds(m_opt.times.fallback)));
    }
    if (without == 0 && m_plan.blind())
        m_opt.say(QStringLiteral("every folder is watched again"));
    if (without == 0)
        m_saidLimit = false;
    m_plan.setBlind(without > 0, now);
}

// A watch went away (its folder was removed or moved): the folder is
// compared by the runs until it can be watched again.
void Watching::lost(size_t folder, const QString& why, qint64 now)
{
    m_wd[folder] = -1;
    if (!m_named.contains(folder)) {
        m_named.insert(folder);
        m_opt.say(QStringLiteral("%1 %2; it is compared every %3")
                      .arg(nameText(m_opt.folders[folder]), why, seconds(m_opt.times.fallback)));
    }
    m_plan.setBlind(true, now);
}

void Watching::drainEvents(qint64 now)
{
    alignas(struct inotify_event) char buf[64 * 1024];
    for (;;) {
        const ssize_t n = readEvents(buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // EAGAIN: all read
        for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const struct inotify_event*>(buf + at);
            at += ssize_t(sizeof(struct inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                if (!m_saidOverflow) {
                    m_saidOverflow = true;
                    m_opt.say(QStringLiteral("the inotify event queue overflowed: changes may have been missed; "
                                             "everything is compared now"));
                }
                m_plan.runSoon(now);
                continue;
            }
            const auto it = m_of.find(e->wd);
            if (it == m_of.end())
                continue;
            const size_t folder = it->second;
            if (e->mask & IN_IGNORED) {
                m_of.erase(it);
                lost(folder, QStringLiteral("is no longer watched (removed or moved)"), now);
            } else if (e->mask & IN_MOVE_SELF) {
                // The watch would follow the folder to its new place: it ends
                // here (IN_IGNORED follows), and the path is watched anew.
                ::inotify_rm_watch(m_ino.get(), e->wd);
            }
            m_plan.changed(now);
        }
    }
}

bool Watching::startRun(qint64 now)
{
    if (m_plan.blind())
        watchMissing(now);  // the limit may have been raised, a folder come back
    m_plan.started(now);
    const Argv argv(m_opt.command);

    // The run gets the signals as they were before the watch took them.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int s : kStopSignals)
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int err = ::posix_spawnp(&pid, argv.program(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        m_opt.say(QStringLiteral("cannot start %1: %2").arg(m_opt.command.value(0), SysReason(err, QString())));
        m_plan.finished(now, false);
        return false;
    }
    m_child = pid;
    m_childFd.reset(int(::syscall(SYS_pidfd_open, pid, 0)));
    if (!m_childFd.valid())
        reap(true);  // without a descriptor to wait on, the run is waited for here
    return true;
}

// The run has ended (wait: wait until it has).
void Watching::reap(bool wait)
{
    int status = 0;
    pid_t got;
    do
        got = ::waitpid(m_child, &status, wait ? 0 : WNOHANG);
    while (got < 0 && errno == EINTR);
    if (got == 0)
        return;
    m_child = -1;
    m_childFd.reset();
    const int code = got > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_plan.finished(nowMs(), code == 0);
    if (m_opt.ran)
        m_opt.ran(code);
}

int Watching::run()
{
    std::unique_ptr<SignalFd> stopSignals;
    if (m_opt.stopFd < 0)
        stopSignals = std::make_unique<SignalFd>();
    const int stopFd = stopSignals ? stopSignals->fd() : m_opt.stopFd;
    if (stopFd < 0) {
        m_opt.say(QStringLiteral("cannot take the stop stopSignals: ") + SysReason(errno, QString()));
        return 1;
    }
    const qint64 start = nowMs();
    m_ino.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!m_ino.valid())
        m_opt.say(QStringLiteral("cannot use inotify (%1): every folder is compared every %2")
                      .arg(SysReason(errno, QString()), seconds(m_opt.times.fallback)));
    watchMissing(start);
    m_opt.say(QStringLiteral("watching %1 folders (set up in %2 ms); a run follows %3 after the last change")
                  .arg(m_opt.folders.size() - size_t(std::count(m_wd.begin(), m_wd.end(), -1)))
                  .arg(nowMs() - start)
                  .arg(seconds(m_opt.times.delay)));
    m_plan.runSoon(start);  // what changed before the watch began

    for (;;) {
        qint64 now = nowMs();
        if (m_child < 0 && m_plan.due(now))
            startRun(now);
        const qint64 wake = m_child < 0 ? m_plan.wakeAt() : -1;
        int timeout = -1;
        if (wake >= 0)
            timeout = int(std::clamp<qint64>(wake - nowMs(), 0, 3'600'000));
        struct pollfd fds[3] = {{stopFd, POLLIN, 0}, {m_ino.get(), POLLIN, 0}, {m_childFd.get(), POLLIN, 0}};
        const int n = ::poll(fds, 3, timeout);
        if (n < 0 && errno != EINTR) {
            m_opt.say(QStringLiteral("the watch failed: ") + SysReason(errno, QString()));
            return 1;
        }
        now = nowMs();
        if (n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const int sig = stopSignals ? stopSignals->take() : SIGTERM;
            if (m_child >= 0) {
                // The run winds up as its stop button would have it.
                ::kill(m_child, sig ? sig : SIGTERM);
                reap(true);
            }
            m_opt.say(QStringLiteral("the watch ended"));
            return 0;
        }
        if (n > 0 && (fds[1].revents & POLLIN))
            drainEvents(now);
        if (n > 0 && (fds[2].revents & POLLIN))
            reap(false);
    }
}

} // namespace

int Watch(const WatchOptions& opt) { return Watching(opt).run(); }

} // namespace velmor
