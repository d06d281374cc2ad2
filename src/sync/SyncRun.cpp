#include "sync/SyncRun.h"

#include "compare/Compare.h"
#include "compare/Session.h"
#include "env/FsDir.h"
#include "env/FsList.h"
#include "env/Progress.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "env/zLog.h"
#include "sync/FsOps.h"
#include "sync/SyncOps.h"
#include "sync/SyncPlan.h"

#include <QDate>

#include <algorithm>
#include <limits>

#include <sys/stat.h>

namespace velmor {

namespace {

const QString kFlagDo = QStringLiteral("1");
const QString kFlagDone = QStringLiteral("2");

// Folder 1 is only ever read, and rows act on the two roots the comparison
// (or a task) set: both must still be folders (an unplugged drive must not
// get its folders re-created on the disk below), and neither may hold the
// other (a change in folder 2 would change folder 1). Returns the message.
QString rootsProblem(const QString& sFld1, const QString& sFld2)
{
    if (!FsIsDir(sFld1, true))
        return SyncMsg::Root1Missing;
    if (!FsIsDir(sFld2, true))
        return SyncMsg::Root2Missing;
    if (FsOverlap(sFld1, sFld2))
        return SyncMsg::Nested;
    return {};
}

// The history/backup folder's path below folder 2, "" when it lies
// elsewhere (real paths: links resolved).
QString historyBelow(const QString& sBkRt, const QString& sFld2)
{
    if (sBkRt.isEmpty())
        return {};
    const QString h = FsRealPath(sBkRt);
    const QString r = FsRealPath(sFld2);
    if (h.isEmpty() || r.isEmpty())
        return {};
    return pathBelow(h, r);
}

// Logs and backups are written below the history folder: never into
// folder 1, and never as folder 2 itself (every row would write into it).
bool historyInRoots(const QString& sBkRt, const QString& sFld1, const QString& sFld2)
{
    const QString h = FsRealPath(sBkRt);
    const QString r1 = FsRealPath(sFld1);
    if (h.isEmpty() || r1.isEmpty())
        return false;
    return !pathBelow(h, r1).isNull() || h == FsRealPath(sFld2);
}

bool hasWork(const ResultTable& t)
{
    for (const ResultRow& r : t.rows())
        if (r.flag == kFlagDo)
            return true;
    return false;
}

// Relative path of a file row: its folder + "/" + the file's exact name.
QString fileRel(const ResultRow& row)
{
    return row.path.isEmpty() ? row.fileName() : row.path + QLatin1Char('/') + row.fileName();
}

} // namespace

QString PickBackupFolder(const QString& sBkRt)
{
    const QString base = (sBkRt == QLatin1String("/") ? QString() : sBkRt) + QStringLiteral("/BackUp/");
    // The counter is 16-bit signed; past its range there is no name left.
    for (int n = 0; n <= std::numeric_limits<int16_t>::max(); ++n) {
        QString candidate = base + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        if (n > 0)
            candidate += QLatin1Char('~') + QString::number(n);
        struct stat st;
        if (::lstat(nameBytes(candidate).constData(), &st) != 0)
            return candidate + QLatin1Char('/');
    }
    return {};
}

SyncReport SyncRun(Session& s, const SyncHooks& hooks)
{
    SyncReport rep;
    FolderLock lock;
    if (s.bRunning || !TakeRunLock(lock)) {
        // The run in progress finishes on its own; a second one would walk
        // and change the same grid and folders underneath it.
        Usr::prompt().message(CmpMsg::Busy);
        rep.outcome = SyncReport::Outcome::Busy;
        return rep;
    }
    RunGuard running(s);
    HeadlessProgress noDialog;
    Progress& wait = s.progress ? *s.progress : noDialog;
    zLog log;

    s.yRt = GetOpt(s.panel);
    Usr::ChkFso();
    const bool wantLog = s.yRt[kSwLog] == 1;
    const bool wantBackup = s.yRt[kSwBackup] == 1;

    QString sBkRt;
    QString sBkFld;
    const auto refuse = [&](const QString& message, bool focusFold) {
        Usr::prompt().message(message);
        if (focusFold && hooks.focusFold)
            hooks.focusFold();
        rep.outcome = SyncReport::Outcome::Refused;
    };

    bool ready = true;
    if (wantLog || wantBackup) {
        sBkRt = s.panel.txFold;
        if (sBkRt.isEmpty()) {
            refuse(SyncMsg::NoHistory, true);
            ready = false;
        } else if (!FsIsDir(sBkRt, true)) {
            refuse(SyncMsg::HistoryMissing + sBkRt + SyncMsg::HistoryMissingTail, true);
            ready = false;
        } else {
            sBkRt = Usr::CutTail(sBkRt);
        }
    }
    if (ready && hasWork(s.vSpr)) {
        const QString problem = rootsProblem(s.sFld1, s.sFld2);
        if (!problem.isEmpty()) {
            refuse(problem, false);
            ready = false;
        }
    }
    if (ready && (wantLog || wantBackup) && historyInRoots(sBkRt, s.sFld1, s.sFld2)) {
        refuse(SyncMsg::HistoryInRoot, true);
        ready = false;
    }
    if (ready && wantBackup) {
        sBkFld = PickBackupFolder(sBkRt);
        if (sBkFld.isEmpty()) {
            refuse(SyncMsg::NoBackupName + sBkRt, true);
            ready = false;
        }
    }

    if (ready) {
        wait.cMsg(SyncMsg::Running, true);
        if (wantLog) {
            try {
                log.lgOn(sBkRt);
                rep.logFile = log.fileName();
            } catch (const std::exception& e) {
                // Nothing has been changed yet; without its log the run does not start.
                refuse(SyncMsg::LogFailed + QString::fromStdString(e.what()), true);
                ready = false;
            }
        }
    }

    if (ready) {
        rep.sBkFld = sBkFld;
        SyncCtx ctx;
        ctx.sFld1 = s.sFld1;
        ctx.sFld2 = s.sFld2;
        ctx.sBkFld = sBkFld;
        ctx.yRt = s.yRt;
        ctx.log = wantLog ? &log : nullptr;
        ctx.ptn = LstPtn(s.panel);
        ctx.tmpLeft = s.vTmpLeft;
        ctx.histRel = historyBelow(Usr::CutTail(s.panel.txFold), s.sFld2);
        ResultTable& grid = s.vSpr;
        const auto byNumber = [](const ResultRow& a, const ResultRow& b) { return a.no < b.no; };
        if (!std::is_sorted(grid.rows().begin(), grid.rows().end(), byNumber))
            grid.sortByNumber();
        for (ResultRow& row : grid.rows())
            row.red = false;
        if (hooks.gridReordered)
            hooks.gridReordered();

        rep.outcome = SyncReport::Outcome::Completed;
        const int count = grid.rowCount();
        for (int r = 0; r < count; ++r) {
            if (r >= grid.rowCount())  // the grid was emptied while events ran
                break;
            if (grid.row(r).flag == kFlagDo) {
                const ResultRow& in = grid.row(r);
                const QString status = EffectiveStatus(in.status);
                QString why;
                const QString result = in.isFolderRow() ? SyncFld(ctx, in.path, status, &why)
                                                        : SyncFile(ctx, fileRel(in), status, &why);
                ResultRow& out = grid.row(r);
                ++rep.processed;
                if (result.contains(QLatin1String("Err"))) {
                    out.red = true;
                    ++rep.failed;
                    if (hooks.rowFailed)
                        hooks.rowFailed(r, why);
                } else {
                    out.flag = kFlagDone;
                }
                out.result = result;
            }
            if (hooks.showRow)
                hooks.showRow(r);
            if (!wait.yield()) {
                rep.outcome = SyncReport::Outcome::Stopped;
                break;
            }
        }
        // Temporary files of a dead run go also where no row wrote.
        CleanLeftTemps(ctx);
        if (hooks.showRow && grid.rowCount() > 0)
            hooks.showRow(0);
        rep.leftOut = s.vUnread + ctx.leftOut;
        rep.leftOut.removeDuplicates();  // a folder copied again inside a copied one meets the same items
    }

    // Finish, on every path past the busy check.
    EnSync(s, true);
    if (wantLog)
        log.lgOff();
    s.ftpEnabled = true;
    if (s.commandsChanged)
        s.commandsChanged();
    wait.cEnd();
    ShowListMessage(SyncMsg::LeftOut, rep.leftOut);
    return rep;
}

} // namespace velmor
