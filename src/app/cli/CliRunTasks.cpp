// velmor-cli run TASKTEXT [--data DIR]: the desktop program's automatic run
// of a command-line task text ("T1 /F, T2": every task loaded, compared,
// synchronised, "/F" handed to the FTP companion with waiting). Prints each
// task's result list after its synchronisation, the task's name added as the
// first of 13 TAB-separated columns.
#include "app/AutoRun.h"
#include "app/AutoRunStatus.h"
#include "app/cli/CliCommon.h"
#include "env/FsDir.h"

namespace velmor::cli {

int cliRunTasks(const QStringList& args)
{
    CliRun run;
    Syntax syntax;
    syntax.names = 1;
    syntax.folders = false;
    syntax.display = false;
    if (const int rc = run.setUp(args, commands(), syntax); rc >= 0)
        return rc;
    MainState& win = run.win;
    win.Load();  // the task list; a database failure is shown and every load then fails

    AutoRunStatus verdict;
    int item = 0;
    win.autoRunRowFailed = [&win](int r, const QString& why) { PrintFailedRow(win.cbTskText, win.s.vSpr.row(r), why); };
    win.autoRunTaskDone = [&](const MainState::AutoRunTask& t) {
        ++item;
        verdict.add(t);
        if (!t.loaded) {
            if (t.name.isEmpty())  // an empty item names no task; the desktop program skips it too
                printError(QStringLiteral("item %1 of the task text is empty: nothing to run").arg(item));
            return;
        }
        const SyncReport::Outcome o = t.sync->outcome;
        if (o == SyncReport::Outcome::Completed || o == SyncReport::Outcome::Stopped) {
            printTable(win.s.vSpr, stdout, t.name);
            printPruned(t.sync->pruned, t.name);
        }
    };
    win.AutoRun(run.opt.names.first());
    return verdict.exitCode();
}

} // namespace velmor::cli
