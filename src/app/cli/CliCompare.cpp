// velmor-cli compare SRC DST [options]: compares and prints the result list.
#include "app/cli/CliCommon.h"
#include "compare/Compare.h"

namespace velmor::cli {

int cliCompare(const QStringList& args)
{
    CliRun run;
    if (const int rc = run.setUp(args, commands()); rc >= 0)
        return rc;
    switch (CmpRun(run.session)) {
    case CmpOutcome::Done:
        printTable(run.session.vSpr, stdout);
        printRootFiles(run.session);
        printSummary(run.session);
        // A list that leaves something out (named on stderr) is not complete.
        return run.session.vUnread.isEmpty() && run.session.vNg.isEmpty() && run.session.vLost.isEmpty() ? kExitOk : kExitFailed;
    case CmpOutcome::Refused:
        return kExitUsage;
    case CmpOutcome::Stopped:
        printTable(run.session.vSpr, stdout);  // the rows listed before the stop, if any
        break;
    case CmpOutcome::Failed:
        break;
    }
    return kExitFailed;
}

} // namespace velmor::cli
