// velmor-cli sync SRC DST [options]: compares, synchronises every row the
// display mode lists with its action flag set, and prints the result list
// after the run (flag 2 on done rows, the result in column 12).
#include "app/cli/CliCommon.h"
#include "compare/Compare.h"
#include "env/StopSignal.h"
#include "sync/SyncRun.h"

namespace velmor::cli {

int cliSync(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands()); rc >= 0)
        return rc;
    switch (CmpRun(run.session)) {
    case CmpOutcome::Done:
        break;
    case CmpOutcome::Refused:
        return kExitUsage;
    case CmpOutcome::Stopped:
    case CmpOutcome::Failed:
        return kExitFailed;
    }
    if (StopSignal::received()) {
        // Stopped as the comparison ended: nothing is synchronised.
        printTable(run.session.vSpr, stdout);
        return kExitFailed;
    }

    SyncHooks hooks;
    hooks.rowFailed = [&run](int r, const QString& why) {
        const ResultRow& row = run.session.vSpr.row(r);
        printError(QStringLiteral("row %1 (%2): %3").arg(row.no).arg(row.status, why));
    };
    const SyncReport rep = SyncRun(run.session, hooks);
    switch (rep.outcome) {
    case SyncReport::Outcome::Refused:
    case SyncReport::Outcome::Busy:
        return kExitUsage;  // the message is on stderr already
    case SyncReport::Outcome::Stopped:
    case SyncReport::Outcome::Completed:
        break;
    }
    printTable(run.session.vSpr, stdout);
    printRootFiles(run.session);
    if (!rep.verified.isEmpty())
        printError(rep.verified);
    printPruned(rep.pruned);
    printSummary(run.session, &rep);
    // Something left out means the destination is not what the list says.
    if (rep.outcome == SyncReport::Outcome::Stopped || rep.partial())
        return kExitFailed;
    return kExitOk;
}

} // namespace velmor::cli
