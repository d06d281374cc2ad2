#include "sync/SyncRun.h"

#include "env/FsList.h"

#include "compare/Compare.h"
#include "compare/Session.h"
#include "env/Progress.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "env/zLog.h"
#include "sync/FsOps.h"
#include "sync/SyncOps.h"
#include "sync/SyncPlan.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

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

bool hasWork(const ResultTable& t)
{
    for (const ResultRow& r : t.rows())
        if (r.flag == kFlagDo)
            return true;
    return false;
}

// Relative path of a file row: path + "/" + name, then "." + extension.
QString fileRel(const ResultRow& row)
{
    QString rel = row.path.isEmpty() ? row.name : row.path + QLatin1Char('/') + row.name;
    if (!row.ext.isEmpty())
        rel += QLatin1Char('.') + row.ext;
    return rel;
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
        if (!fsops::exists(fsops::native(candidate)))
            return candidate + QLatin1Char('/');
    }
    return {};
}

SyncReport SyncRun(Session& s, const SyncHooks& hooks)
{
    SyncReport rep;
    if (s.bRunning) {
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
        } else if (!QFileInfo(sBkRt).isDir()) {
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
        if (hooks.showRow && grid.rowCount() > 0)
            hooks.showRow(0);
    }

    // Finish, on every path past the busy check.
    EnSync(s, true);
    if (wantLog)
        log.lgOff();
    s.ftpEnabled = true;
    if (s.commandsChanged)
        s.commandsChanged();
    wait.cEnd();
    return rep;
}

} // namespace velmor
