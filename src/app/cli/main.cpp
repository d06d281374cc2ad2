// velmor-cli: the comparison and synchronisation engines without a window.
#include "app/cli/CliCommon.h"
#include "env/StopSignal.h"

#include <QCoreApplication>
#include <cstdio>

namespace velmor::cli {

const std::vector<Command>& commands()
{
    static const std::vector<Command> all = {
        {"compare", "compare SRC with DST and print the result list", cliCompare},
        {"sync", "compare, synchronise DST with SRC, print the result list", cliSync},
        {"task", "save, list, show or delete a saved task", cliTask,
         "save NAME SRC DST [options] [--expand REL]... [--select1 REL] [--select2 REL] [--yes]\n"
         "list [--data DIR]\n"
         "show NAME [--data DIR]\n"
         "delete NAME [--data DIR]"},
        {"run",
         "run the saved tasks of TASKTEXT (\"T1 /F, T2\") as the desktop program's command\n"
         "      line does; /F hands the task to the FTP companion program and waits for it",
         cliRunTasks, "TASKTEXT [--data DIR]"},
        {"watch",
         "keep TASK's destination in step by itself: run it whenever its ticked source\n"
         "      folders have been quiet for SECONDS (3) after a change, until SIGINT or SIGTERM;\n"
         "      folders that cannot be watched are compared every --rescan SECONDS (300)",
         cliWatch, "TASK [--delay SECONDS] [--rescan SECONDS] [--data DIR]"},
        {"schedule",
         "run TASK by itself through systemd user units: every day at HH:MM, every\n"
         "      DURATION (30min, 2h, 1d ...), or watched (watch TASK as a service)",
         cliSchedule,
         "TASK --daily HH:MM | --every DURATION [--data DIR]\n"
         "--watch TASK [--delay SECONDS] [--data DIR]\n"
         "list\n"
         "remove TASK"},
        {"log",
         "print the history log of DATE (yyyy-mm-dd, today by default), every file of\n"
         "      the day in order, as UTF-8 with LF line ends (the stored files are UTF-16)",
         cliLog, "[DATE] --history DIR | --task NAME [--data DIR]"},
    };
    return all;
}

} // namespace velmor::cli

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    using namespace velmor::cli;
    // SIGINT, SIGTERM, SIGHUP stop a comparison or synchronisation as the
    // stop button would: the rows done so far are printed, the status is 1.
    velmor::StopSignal::install();
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 1 && args.first() == QLatin1String("--version")) {
        std::fputs("velmor-cli " VELMOR_VERSION "\n", stdout);
        return kExitOk;
    }
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        const QByteArray u = usage(commands()).toUtf8();
        std::fwrite(u.constData(), 1, size_t(u.size()), args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? kExitUsage : kExitOk;
    }
    const QString name = args.takeFirst();
    for (const Command& c : commands())
        if (name == QLatin1String(c.name))
            return c.run(args);
    printError(QStringLiteral("unknown command ") + name + QStringLiteral("; velmor-cli --help shows the usage"));
    return kExitUsage;
}
