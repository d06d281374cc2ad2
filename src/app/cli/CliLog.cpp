// velmor-cli log [DATE] [--history DIR | --task NAME]: a day's history log
// as text a terminal and grep read. The stored files stay as they are
// (UTF-16 with CR LF); this prints every file of the day ("DATE.log", then
// "DATE~1.log", "DATE~2.log" ... by number) as UTF-8 with LF line ends.
#include "app/cli/CliCommon.h"
#include "env/FsDir.h"
#include "env/FsList.h"
#include "env/SysReason.h"
#include "sync/Retention.h"

#include <QDate>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::cli {

namespace {

// The numbers n of the log files of day in the open folder dir (path
// folder) ("" is 0, "~n" is n), ascending; only regular files of the
// program's naming count. Throws FsError when dir cannot be listed.
std::vector<int> dayFiles(int dir, const QString& folder, QDate day)
{
    std::vector<int> out;
    for (const FsEntry& e : FsListAt(dir, folder, FsKind::Files)) {
        const std::optional<DatedName> d = ParseDatedName(nameBytes(e.name), ".log");
        if (d && d->date == day && S_ISREG(e.mode))
            out.push_back(d->n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The text of the log file leaf of dir: UTF-16 (little-endian, its byte
// order mark dropped), CR LF made LF. false: it could not be read (why).
bool logText(int dir, const QString& leaf, QString& text, QString& why)
{
    const UniqueFd fd(::openat(dir, nameBytes(leaf).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    int err = fd.valid() ? 0 : errno;
    QByteArray bytes;
    char buf[65536];
    while (err == 0) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n == 0)
            break;
        if (n > 0)
            bytes.append(buf, n);
        else if (errno != EINTR)
            err = errno;
    }
    if (err != 0) {
        why = SysReason(err, leaf);
        return false;
    }
    QStringDecoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
    text = utf16.decode(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return true;
}

} // namespace

int cliLog(const QStringList& args)
{
    CliRun run;
    const Syntax syntax{.names = 0, .folders = false, .display = false, .maxNames = 1,
                        .valued = {QStringLiteral("--history"), QStringLiteral("--task")}};
    if (const int rc = run.setUp(args, commands(), syntax); rc >= 0)
        return rc;
    const QString dayArg = run.opt.names.value(0);
    const QDate date = dayArg.isEmpty() ? QDate::currentDate() : QDate::fromString(dayArg, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid()) {
        printError(QStringLiteral("DATE is a day as yyyy-mm-dd, not ") + dayArg);
        return kExitUsage;
    }
    const bool byTask = run.opt.own.contains(QStringLiteral("--task"));
    QString history = run.opt.own.value(QStringLiteral("--history"));
    if (byTask == run.opt.own.contains(QStringLiteral("--history"))) {
        printError(QStringLiteral("log needs either --history DIR or --task NAME"));
        return kExitUsage;
    }
    if (byTask) {
        if (!loadTask(run, run.opt.own.value(QStringLiteral("--task"))))
            return kExitUsage;  // the task store has said why
        history = run.session.panel.txFold;
        if (history.isEmpty()) {
            printError(QStringLiteral("the task %1 names no history folder").arg(run.opt.own.value(QStringLiteral("--task"))));
            return kExitUsage;
        }
    }
    const QString folder = history + QStringLiteral("/Log");
    const UniqueFd dir = openDirPath(nameBytes(folder), true);
    if (!dir.valid()) {
        printError(folder + QStringLiteral(": ") + SysReason(errno, folder));
        return kExitFailed;
    }
    const QString day = date.toString(QStringLiteral("yyyy-MM-dd"));
    std::vector<int> numbers;
    try {
        numbers = dayFiles(dir.get(), folder, date);
    } catch (const FsError& e) {
        printError(QString::fromStdString(e.what()));
        return kExitFailed;
    }
    if (numbers.empty()) {
        printError(QStringLiteral("no history log of %1 in %2").arg(day, folder));
        return kExitFailed;
    }
    int rc = kExitOk;
    for (const int n : numbers) {
        const QString leaf = day + (n > 0 ? QStringLiteral("~%1").arg(n) : QString()) + QStringLiteral(".log");
        QString text, why;
        if (!logText(dir.get(), leaf, text, why)) {
            printError(folder + QLatin1Char('/') + leaf + QStringLiteral(": ") + why);
            rc = kExitFailed;
            continue;
        }
        const QByteArray out = nameBytes(text);  // paths as their bytes on disk
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    }
    std::fflush(stdout);
    return rc;
}

} // namespace velmor::cli
