// velmor-cli run TASKTEXT [--data DIR]: the desktop program's automatic run
// of a command-line task text ("T1 /F, T2": every task loaded, compared,
// synchronised, "/F" handed to the FTP companion with waiting). Prints each
// task's result list after its synchronisation, the task's name added as the
// first of 13 TAB-separated columns.
#include "app/AutoRun.h"
#include "app/cli/CliCommon.h"
#include "env/FsDir.h"

namespace velmor::cli {

namespace {

// The rows of one task: its name, then the 12 columns of every row.
void printTaskRows(const QString& task, const ResultTable& table, std::FILE* out)
{
    const QString lead = cell(task) + QLatin1Char('\t');
    QByteArray buf;
    for (const ResultRow& row : table.rows()) {
        QString line = lead;
        for (int c = 1; c <= 12; ++c) {
            if (c > 1)
                line += QLatin1Char('\t');
            line += cell(row.text(c));
        }
        buf += nameBytes(line);  // names as their bytes on disk
        buf += '\n';
        if (buf.size() >= (1 << 20)) {
            std::fwrite(buf.constData(), 1, size_t(buf.size()), out);
            buf.clear();
        }
    }
    std::fwrite(buf.constData(), 1, size_t(buf.size()), out);
    std::fflush(out);
}

// What the whole run comes to: a missing task or a refused run outweighs
// failed rows, which outweigh a clean run.
struct RunVerdict {
    bool missing = false;  // a named task is not defined (or could not be read)
    bool refused = false;  // a comparison or synchronisation was refused
    bool failed = false;   // a row failed, something was left out, a run ended early, no hand-off

    int exitCode() const
    {
        if (missing || refused)
            return kExitUsage;
        return failed ? kExitFailed : kExitOk;
    }
};

} // namespace

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

    RunVerdict verdict;
    int item = 0;
    win.autoRunRowFailed = [&win](int r, const QString& why) {
        const ResultRow& row = win.s.vSpr.row(r);
        printError(QStringLiteral("%1: row %2 (%3): %4").arg(win.cbTskText).arg(row.no).arg(row.status, why));
    };
    win.autoRunTaskDone = [&](const MainState::AutoRunTask& t) {
        ++item;
        if (!t.loaded) {
            if (t.name.isEmpty())  // an empty item names no task; the desktop program skips it too
                printError(QStringLiteral("item %1 of the task text is empty: nothing to run").arg(item));
            else
                verdict.missing = true;  // TskLoad has said why
            return;
        }
        switch (*t.cmp) {
        case CmpOutcome::Done:
            break;
        case CmpOutcome::Refused:
            verdict.refused = true;
            break;
        case CmpOutcome::Stopped:
        case CmpOutcome::Failed:
            verdict.failed = true;
            break;
        }
        const SyncReport& rep = *t.sync;
        switch (rep.outcome) {
        case SyncReport::Outcome::Refused:
        case SyncReport::Outcome::Busy:
            verdict.refused = true;  // the message is on stderr already
            break;
        case SyncReport::Outcome::Stopped:
            verdict.failed = true;
            [[fallthrough]];
        case SyncReport::Outcome::Completed:
            printTaskRows(t.name, win.s.vSpr, stdout);
            // Something left out means the destination is not what the list says.
            if (rep.failed > 0 || !rep.leftOut.isEmpty())
                verdict.failed = true;
            break;
        }
        if (t.up && *t.up != MainState::UpResult::Finished)
            verdict.failed = true;  // the companion could not be run (message shown)
    };
    win.AutoRun(run.opt.names.first());
    return verdict.exitCode();
}

} // namespace velmor::cli
