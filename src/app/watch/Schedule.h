#pragma once
// A task that runs by itself through systemd user units: what
// `velmor-cli schedule` writes. One task has at most one timer (a service
// "velmor-run-NAME.service" that runs `velmor-cli run NAME` once, and
// "velmor-run-NAME.timer" that starts it daily or periodically) and at most
// one watch service ("velmor-watch-NAME.service", `velmor-cli watch NAME`),
// where NAME is the task's name escaped as systemd escapes unit names.
// The unit files name their task and schedule in X-Velmor* keys of [Unit],
// which `schedule list` reads back.
#include <QString>
#include <QStringList>
#include <optional>

namespace velmor {

struct Schedule {
    enum class Kind { Daily, Every, Watch };
    Kind kind = Kind::Daily;
    int hour = 0, minute = 0;  // Daily
    qint64 every = 0;          // Every: seconds between runs
    QString delay;             // Watch: the --delay given ("" for the default)
    // "daily HH:MM", "every Ns", "watch" (+ " --delay S"): the X-VelmorSchedule value.
    QString text() const;
};

// "HH:MM" (00:00 to 23:59) into a daily schedule.
std::optional<Schedule> ParseDaily(const QString& text);
// A duration of one or more number+unit pairs ("90s", "30min", "1h30min",
// "2d", "1w"; s, sec, m, min, h, hr, d, w) of at least a minute and at most
// a year, into a periodic schedule.
std::optional<Schedule> ParseEvery(const QString& text);

// The name as systemd-escape writes it in a unit name: bytes other than
// ASCII letters, digits, "_" and "." (and a leading ".") as "\xNN"; "/" as
// "-". Unlike systemd-escape, ":" is escaped too: systemd-analyze verify
// takes a path with ":" for something else.
QString UnitEscape(const QString& name);
// The reverse of UnitEscape.
QString UnitUnescape(const QString& escaped);

// The longest unit name systemd takes.
inline constexpr qsizetype kMaxUnitName = 255;

// Unit names of a task (".service" / ".timer" appended by the caller).
QString RunUnitBase(const QString& task);    // "velmor-run-" + escaped
QString WatchUnitBase(const QString& task);  // "velmor-watch-" + escaped

// One argument list as an ExecStart= value: every argument in double
// quotes, with "\\", "\"", control characters and bytes that are not UTF-8
// escaped, and "%" and "$" doubled so systemd takes them as they are.
QString ExecLine(const QStringList& argv);

// The unit files' texts. run: the command line of one run; watch: of the watch.
QString RunServiceText(const QString& task, const QStringList& run);
QString TimerText(const QString& task, const Schedule& when);
QString WatchServiceText(const QString& task, const Schedule& when, const QStringList& watch);

// The value of key (an "X-Velmor..." key) in a unit file's text ("" when absent).
QString UnitValue(const QString& text, const QString& key);

// Where user units live: $XDG_CONFIG_HOME/systemd/user, else
// $HOME/.config/systemd/user.
QString UserUnitDir();

} // namespace velmor
