// velmor-cli watch TASK [--delay SECONDS] [--rescan SECONDS] [--data DIR]:
// keeps the task's folder 2 in step by itself. Watches the task's ticked
// folders of folder 1 and runs `velmor-cli run TASK` once they have been
// quiet for the delay (and once at the start), until SIGINT or SIGTERM.
#include "app/cli/CliCommon.h"
#include "app/watch/Watcher.h"
#include "env/FsDir.h"

#include <QSet>

namespace velmor::cli {

namespace {

// The ticked folders of the loaded task's folder-1 tree, as the comparison
// takes them (the root itself holds no row of its own).
std::vector<QByteArray> tickedFolders(const FolderTree& tree)
{
    std::vector<QByteArray> out;
    QSet<QString> seen;
    for (int i = 1; i < tree.nodeCount(); ++i) {
        const TreeNode* node = tree.nodeAt(i);
        if (!node || node->isPlaceholder() || !node->checked)
            continue;
        const QString full = tree.fullPath(node);
        if (!seen.contains(full)) {
            seen.insert(full);
            out.push_back(nameBytes(full));
        }
    }
    return out;
}

} // namespace

int cliWatch(const QStringList& args)
{
    CliRun run;
    const Syntax syntax{.names = 1, .folders = false, .display = false,
                        .valued = {QStringLiteral("--delay"), QStringLiteral("--rescan")}};
    if (const int rc = run.setUp(args, commands(), syntax); rc >= 0)
        return rc;
    WatchOptions opt;
    const QString delay = run.opt.own.value(QStringLiteral("--delay"), QStringLiteral("3"));
    const QString rescan = run.opt.own.value(QStringLiteral("--rescan"), QStringLiteral("300"));
    opt.times.delay = parseSeconds(delay, 0);
    opt.times.fallback = parseSeconds(rescan, 1);
    if (opt.times.delay < 0 || opt.times.fallback < 0) {
        printError(opt.times.delay < 0 ? QStringLiteral("--delay takes 0 to 86400 seconds, not ") + delay
                                       : QStringLiteral("--rescan takes 1 to 86400 seconds, not ") + rescan);
        return kExitUsage;
    }
    // A burst that never quietens is run for after a minute at the latest.
    opt.times.maxWait = std::max<qint64>(60'000, 10 * opt.times.delay);
    opt.times.retry = std::max<qint64>(opt.times.delay, 60'000);

    const QString name = run.opt.names.first();
    QString err;
    if (!runnableName(name, err)) {
        printError(err);
        return kExitUsage;
    }
    if (!loadTask(run, name))
        return kExitUsage;
    if (run.tree1.rootFellBack()) {
        // The tree shows the user data folder in its place: nothing of the
        // task's to watch (an unplugged drive; a service tries again later).
        printError(QStringLiteral("folder 1 of the task %1 is missing: nothing to watch").arg(name));
        return kExitFailed;
    }
    opt.folders = tickedFolders(run.tree1);
    if (opt.folders.empty()) {
        printError(QStringLiteral("the task %1 ticks no folder of folder 1: nothing to watch").arg(name));
        return kExitUsage;
    }
    opt.command = selfCommand({QStringLiteral("run"), name}, run.opt.dataDir);
    opt.say = [&name](const QString& line) { printError(name + QStringLiteral(": ") + line); };
    opt.ran = [&](int status) {
        if (status != 0)
            printError(QStringLiteral("%1: the run ended with exit status %2; it is tried again after the next "
                                      "change, or in %3 s")
                           .arg(name)
                           .arg(status)
                           .arg(opt.times.retry / 1000));
    };
    return Watch(opt);
}

} // namespace velmor::cli
