// velmor-cli schedule: a task that runs by itself, as systemd user units.
//   schedule TASK --daily HH:MM | --every DURATION   a timer runs `velmor-cli run TASK`
//   schedule --watch TASK [--delay SECONDS]          a service runs `velmor-cli watch TASK`
//   schedule list                                    every task's schedule
//   schedule remove TASK                             its timer and watch go
// The unit files are written and enabled (the link systemctl enable would
// make) whether or not a user manager runs; the manager is then told
// through `systemctl --user`. Where none answers, that is said, and the
// units take effect when it starts.
#include "app/cli/CliCommon.h"
#include "app/watch/Schedule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <algorithm>

namespace velmor::cli {

namespace {

struct Unit {
    QString name;    // "velmor-run-X.timer"
    QString wants;   // the target whose .wants folder enables it ("" for a unit that is started by another)
};

QString unitPath(const QString& name) { return UserUnitDir() + QLatin1Char('/') + name; }
QString wantsLink(const Unit& u) { return UserUnitDir() + QLatin1Char('/') + u.wants + QStringLiteral(".wants/") + u.name; }

// Writes a unit file whole (a reader never sees part of one).
bool writeUnit(const QString& name, const QString& text, QString& err)
{
    if (!QDir().mkpath(UserUnitDir())) {
        err = QStringLiteral("cannot create ") + UserUnitDir();
        return false;
    }
    QSaveFile f(unitPath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit()) {
        err = QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString());
        return false;
    }
    return true;
}

bool enable(const Unit& u, QString& err)
{
    const QString link = wantsLink(u);
    QDir().mkpath(QFileInfo(link).path());
    QFile::remove(link);
    if (!QFile::link(unitPath(u.name), link)) {
        err = QStringLiteral("cannot enable %1 (link %2)").arg(u.name, link);
        return false;
    }
    return true;
}

// Runs `systemctl --user args`. "" when it worked, else what it said.
QString systemctl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + args);
    if (!p.waitForStarted(30'000))
        return QStringLiteral("systemctl cannot be started: ") + p.errorString();
    if (!p.waitForFinished(120'000)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("systemctl did not answer in two minutes");
    }
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return {};
    const QString said = QString::fromLocal8Bit(p.readAllStandardError()).trimmed().replace(QLatin1Char('\n'), QStringLiteral("; "));
    return said.isEmpty() ? QStringLiteral("exit status %1").arg(p.exitCode()) : said;
}

// Tells the user manager about changed units and (re)starts start (none
// when empty). False when it does not answer (said why).
bool tellManager(const QStringList& start, const QStringList& stop)
{
    QString why = systemctl({QStringLiteral("daemon-reload")});
    if (why.isEmpty() && !stop.isEmpty())
        why = systemctl(QStringList{QStringLiteral("stop")} + stop);
    if (why.isEmpty() && !start.isEmpty())
        why = systemctl(QStringList{QStringLiteral("restart")} + start);
    if (why.isEmpty())
        return true;
    printError(QStringLiteral("no systemd user manager took the change (systemctl --user: %1). The unit files in %2 "
                              "take effect when it starts: at your next login, or at every boot after "
                              "loginctl enable-linger %3")
                   .arg(why, UserUnitDir(), qEnvironmentVariable("USER", QStringLiteral("USER"))));
    return false;
}

int list()
{
    const QDir dir(UserUnitDir());
    QStringList lines;
    const QStringList files =
        dir.entryList({QStringLiteral("velmor-run-*.timer"), QStringLiteral("velmor-watch-*.service")}, QDir::Files);
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            printError(QStringLiteral("cannot read %1: %2").arg(f.fileName(), f.errorString()));
            continue;
        }
        const QString text = QString::fromUtf8(f.readAll());
        const QString task = UnitValue(text, QStringLiteral("X-VelmorTask"));
        if (task.isEmpty())
            continue;  // not one of ours
        const Unit u{name, name.endsWith(QLatin1String(".timer")) ? QStringLiteral("timers.target")
                                                                    : QStringLiteral("default.target")};
        const bool on = QFileInfo(wantsLink(u)).isSymLink();
        lines.append(cell(UnitUnescape(task)) + QLatin1Char('\t') + UnitValue(text, QStringLiteral("X-VelmorSchedule"))
                     + QLatin1Char('\t') + (on ? QStringLiteral("enabled") : QStringLiteral("disabled")));
    }
    std::sort(lines.begin(), lines.end());
    for (const QString& l : std::as_const(lines)) {
        const QByteArray b = l.toUtf8() + '\n';
        std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    }
    return kExitOk;
}

int remove(const QString& task)
{
    const std::vector<Unit> units = {{RunUnitBase(task) + QStringLiteral(".timer"), QStringLiteral("timers.target")},
                                     {RunUnitBase(task) + QStringLiteral(".service"), QString()},
                                     {WatchUnitBase(task) + QStringLiteral(".service"), QStringLiteral("default.target")}};
    QStringList present;
    for (const Unit& u : units)
        if (QFileInfo::exists(unitPath(u.name)))
            present.append(u.name);
    if (present.isEmpty()) {
        printError(QStringLiteral("the task %1 has no schedule").arg(task));
        return kExitUsage;
    }
    // Stopped first, while the manager still knows the units.
    QString why = systemctl(QStringList{QStringLiteral("stop")} + present);
    int rc = kExitOk;
    for (const Unit& u : units) {
        if (!u.wants.isEmpty())
            QFile::remove(wantsLink(u));
        if (QFileInfo::exists(unitPath(u.name)) && !QFile::remove(unitPath(u.name))) {
            printError(QStringLiteral("cannot remove ") + unitPath(u.name));
            rc = kExitFailed;
        }
    }
    if (!why.isEmpty())
        printError(QStringLiteral("the units are removed, but no systemd user manager stopped them (systemctl --user: %1)")
                       .arg(why));
    else if (!tellManager({}, {}))
        rc = kExitFailed;
    return why.isEmpty() ? rc : kExitFailed;
}

} // namespace

int cliSchedule(const QStringList& args)
{
    CliRun run;
    const Syntax syntax{.names = 1,
                        .folders = false,
                        .display = false,
                        .maxNames = 2,
                        .valued = {QStringLiteral("--daily"), QStringLiteral("--every"), QStringLiteral("--delay")},
                        .flags = {QStringLiteral("--watch")}};
    if (const int rc = run.setUp(args, commands(), syntax); rc >= 0)
        return rc;
    const QStringList& names = run.opt.names;
    const QHash<QString, QString>& own = run.opt.own;
    const auto usageError = [](const QString& text) {
        printError(text);
        printError(QStringLiteral("velmor-cli --help shows the usage"));
        return kExitUsage;
    };
    if (own.isEmpty()) {
        if (names.size() == 1 && names.first() == QLatin1String("list"))
            return list();
        if (names.size() == 2 && names.first() == QLatin1String("remove"))
            return remove(names[1]);
        return usageError(QStringLiteral("schedule takes list, remove TASK, or TASK with --daily, --every or --watch"));
    }
    if (names.size() != 1)
        return usageError(QStringLiteral("schedule takes one task name"));
    const int kinds = int(own.contains(QStringLiteral("--daily"))) + int(own.contains(QStringLiteral("--every")))
                      + int(own.contains(QStringLiteral("--watch")));
    if (kinds != 1)
        return usageError(QStringLiteral("schedule takes one of --daily, --every and --watch"));
    if (own.contains(QStringLiteral("--delay")) && !own.contains(QStringLiteral("--watch")))
        return usageError(QStringLiteral("--delay goes with --watch"));

    std::optional<Schedule> when;
    if (own.contains(QStringLiteral("--daily"))) {
        when = ParseDaily(own.value(QStringLiteral("--daily")));
        if (!when)
            return usageError(QStringLiteral("--daily takes a time HH:MM (00:00 to 23:59), not ")
                              + own.value(QStringLiteral("--daily")));
    } else if (own.contains(QStringLiteral("--every"))) {
        when = ParseEvery(own.value(QStringLiteral("--every")));
        if (!when)
            return usageError(QStringLiteral("--every takes a duration of a minute to a year such as 30min, 2h, "
                                             "1h30min, 1d, not ")
                              + own.value(QStringLiteral("--every")));
    } else {
        when = Schedule();
        when->kind = Schedule::Kind::Watch;
        when->delay = own.value(QStringLiteral("--delay"));
        if (!when->delay.isEmpty() && parseSeconds(when->delay, 0) < 0)
            return usageError(QStringLiteral("--delay takes 0 to 86400 seconds, not ") + when->delay);
    }

    const QString task = names.first();
    QString err;
    if (!runnableName(task, err))
        return usageError(err);
    const QString longest = WatchUnitBase(task) + QStringLiteral(".service");
    if (longest.size() > kMaxUnitName)
        return usageError(QStringLiteral("the task name is too long for a systemd unit name (%1 characters escaped, "
                                         "%2 at most)")
                              .arg(longest.size())
                              .arg(kMaxUnitName));
    if (!loadTask(run, task))
        return kExitUsage;  // not defined: said on stderr

    Unit started;
    if (when->kind == Schedule::Kind::Watch) {
        QStringList watch{QStringLiteral("watch"), task};
        if (!when->delay.isEmpty())
            watch << QStringLiteral("--delay") << when->delay;
        started = {WatchUnitBase(task) + QStringLiteral(".service"), QStringLiteral("default.target")};
        if (!writeUnit(started.name, WatchServiceText(task, *when, selfCommand(watch, run.opt.dataDir)), err)) {
            printError(err);
            return kExitFailed;
        }
    } else {
        started = {RunUnitBase(task) + QStringLiteral(".timer"), QStringLiteral("timers.target")};
        if (!writeUnit(RunUnitBase(task) + QStringLiteral(".service"),
                       RunServiceText(task, selfCommand({QStringLiteral("run"), task}, run.opt.dataDir)), err)
            || !writeUnit(started.name, TimerText(task, *when), err)) {
            printError(err);
            return kExitFailed;
        }
    }
    if (!enable(started, err)) {
        printError(err);
        return kExitFailed;
    }
    const QByteArray done = QStringLiteral("%1\t%2\t%3\n").arg(cell(task), when->text(), unitPath(started.name)).toUtf8();
    std::fwrite(done.constData(), 1, size_t(done.size()), stdout);
    return tellManager({started.name}, {}) ? kExitOk : kExitFailed;
}

} // namespace velmor::cli
