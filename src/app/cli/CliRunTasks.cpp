#include "app/cli/CliCommon.h"

namespace velmor::cli {

int cliRunTasks(const QStringList&)
{
    printError(QStringLiteral("not available yet"));
    return kExitUsage;
}

} // namespace velmor::cli
