#include "sync/SyncRun.h"

#include "sync/CopyAhead.h"
#include "sync/OpSupport.h"

#include "compare/Compare.h"
#include "compare/ResultCounts.h"
#include "compare/Session.h"
#include "env/FileMeta.h"
#include "env/FsDir.h"
#include "env/Parallel.h"
#include "env/FsList.h"
#include "env/Progress.h"
#include "env/Reasons.h"
#include "env/SysReason.h"
#include "env/Prompt.h"
#include "env/Usr.h"
#include "env/zLog.h"
#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/Retention.h"
#include "sync/SyncOps.h"
#include "sync/SyncPlan.h"

#include <QDate>
#include <QElapsedTimer>
#include <QHash>

#include <algorithm>
#include <deque>
#include <limits>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

namespace {

// Least time between two progress reports.
constexpr qint64 kProgressIntervalMs = 200;

// The roots as the run will act on them. Folder 1 is only ever read, and
// rows act on the two folders the comparison saw: both must still be
// folders (an unplugged drive must not get its folders re-created on the
// disk below), neither may hold the other (a change in folder 2 would change
// folder 1; decided by identity, so bind mounts and links count), and each
// must be the very folder the comparison opened: a root swapped for a link
// or another folder, or a mount point whose volume went away, is refused.
// Returns the message, or "" with both roots open.
QString openRoots(const Session& s, UniqueFd& f1, UniqueFd& f2)
{
    f1 = openDirPath(nameBytes(s.sFld1), true);
    if (!f1.valid())
        return SyncMsg::Root1Missing;
    f2 = openDirPath(nameBytes(s.sFld2), true);
    if (!f2.valid())
        return SyncMsg::Root2Missing;
    if (FsOverlapAt(f1.get(), f2.get()))
        return SyncMsg::Nested;
    if (!s.id1.valid() || FsIdOf(f1.get()) != s.id1)
        return SyncMsg::Root1Changed;
    if (!s.id2.valid() || FsIdOf(f2.get()) != s.id2)
        return SyncMsg::Root2Changed;
    return {};
}

// Logs and backups are written below the history folder: never into
// folder 1, and never as folder 2 itself (every row would write into it).
// Decided by identity on the open folders.
bool historyInRoots(int hist, int root1, int root2)
{
    if (root1 >= 0 && FsInsideAt(hist, root1))
        return true;
    return root2 >= 0 && FsIdOf(hist) == FsIdOf(root2);
}

bool hasWork(const ResultTable& t)
{
    for (const ResultRow& r : t.rows())
        if (r.flag == kFlagDo)
            return true;
    return false;
}

// True when rel lies below one of the folders in tops.
bool belowOneOf(const QSet<QString>& tops, const QString& rel)
{
    for (qsizetype at = rel.indexOf(QLatin1Char('/')); at >= 0; at = rel.indexOf(QLatin1Char('/'), at + 1))
        if (tops.contains(rel.left(at)))
            return true;
    return false;
}

// The file rows to carry out that delete their destination, by relative path.
QHash<QString, int> fileDeletions(const ResultTable& t)
{
    QHash<QString, int> out;
    for (int r = 0; r < t.rowCount(); ++r) {
        const ResultRow& row = t.row(r);
        if (!row.isFolderRow() && row.flag == kFlagDo && EffectiveStatus(row.status) == St::Del)
            out.insert(row.itemPath(), r);
    }
    return out;
}

// After the walk: the dated backup folders and logs beyond the task's
// limits go, each logged once it is gone. Not when the log already failed:
// what goes must be in it. This run's own folder and log always stay.
void pruneHistory(const Session& s, const SyncCtx& ctx, const QString& sBkRt, SyncReport& rep)
{
    const KeepLimits limits{s.panel.nKeepDays, s.panel.nKeepCount};
    if (!limits.any() || ctx.history() < 0 || !ctx.logError.isEmpty())
        return;
    const auto leaf = [](const QString& path) { return path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty); };
    const PruneReport pr = PruneHistory(ctx.history(), sBkRt, limits, QDate::currentDate(), leaf(ctx.sBkFld),
                                        leaf(rep.logFile), [&ctx](const QString& path) {
                                            opsupport::writeLog(ctx, logtx::expired(path));
                                            return ctx.logError.isEmpty();
                                        });
    rep.pruned = pr.removed;
    rep.pruneFailed = pr.failed;
    if (rep.logError.isEmpty())
        rep.logError = ctx.logError;
}

} // namespace

QString PickBackupFolder(const QString& sBkRt, int histFd)
{
    UniqueFd own;
    if (histFd < 0) {
        own = openDirPath(nameBytes(sBkRt), true);
        if (!own.valid())
            return {};
        histFd = own.get();
    }
    const QString base = (sBkRt == QLatin1String("/") ? QString() : sBkRt) + QStringLiteral("/");
    // The counter is 16-bit signed; past its range there is no name left.
    for (int n = 0; n <= std::numeric_limits<int16_t>::max(); ++n) {
        QString rel = QStringLiteral("BackUp/") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        if (n > 0)
            rel += QLatin1Char('~') + QString::number(n);
        struct stat st;
        if (::fstatat(histFd, nameBytes(rel).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return base + rel + QLatin1Char('/');
    }
    return {};
}

SyncReport SyncRun(Session& s, const SyncHooks& hooks)
{
    SyncReport rep;
    QElapsedTimer took;
    took.start();
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
    UniqueFd hist, root1, root2;
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
        } else if (hist = openDirPath(nameBytes(sBkRt), true); !hist.valid()) {
            refuse(SyncMsg::HistoryMissing + sBkRt + SyncMsg::HistoryMissingTail, true);
            ready = false;
        } else {
            sBkRt = Usr::CutTail(sBkRt);
        }
    }
    const QString rootProblem = ready ? openRoots(s, root1, root2) : QString();
    if (ready && hasWork(s.vSpr) && !rootProblem.isEmpty()) {
        refuse(rootProblem, false);
        ready = false;
    }
    if (ready && hist.valid() && historyInRoots(hist.get(), root1.get(), root2.get())) {
        refuse(SyncMsg::HistoryInRoot, true);
        ready = false;
    }
    if (ready && wantBackup) {
        sBkFld = PickBackupFolder(sBkRt, hist.get());
        if (sBkFld.isEmpty()) {
            refuse(SyncMsg::NoBackupName + sBkRt, true);
            ready = false;
        }
    }

    if (ready) {
        wait.cMsg(SyncMsg::Running, true);
        if (wantLog) {
            try {
                log.lgOn(hist.get(), sBkRt);
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
        ctx.followFileLinks = s.panel.chLinkTgt;
        ctx.volume = &s.caps2;
        ctx.owners = s.caps2.holdsOwners;
        ctx.meta = (s.panel.chAcls && s.caps2.holdsAcls ? unsigned(kMetaAcls) : 0u)
                   | (s.panel.chXattrs && s.caps2.holdsXattrs ? unsigned(kMetaXattrs) : 0u);
        fsops::HardLinks links;
        ctx.links = &links;
        ctx.verify = s.panel.chVerify;
        fsops::VerifyCounts verified;
        ctx.verified = &verified;
        ctx.match = {s.panel.nShift, s.caps2.twoSecondTimes};
        ctx.log = wantLog ? &log : nullptr;
        ctx.ptn = LstPtn(s.panel);
        ctx.tmpLeft = s.vTmpLeft;
        // Where the history folder lies below folder 2, by identity ("" when
        // it is elsewhere): nothing is written into it or removed with it.
        if (hist.valid() && root2.valid())
            ctx.histRel = FsBelowAt(hist.get(), FsIdOf(root2.get()));
        ctx.adoptRoots(std::move(root1), std::move(root2), std::move(hist));
        ResultTable& grid = s.vSpr;
        const auto byNumber = [](const ResultRow& a, const ResultRow& b) { return a.no < b.no; };
        if (!std::is_sorted(grid.rows().begin(), grid.rows().end(), byNumber))
            grid.sortByNumber();
        // A failure of an earlier run is forgotten; what the comparison
        // found stays (the row is tried again).
        for (ResultRow& row : grid.rows()) {
            if (row.red && row.result != kUnholdable) {
                row.red = false;
                row.setWhy(QString());
            }
        }
        if (hooks.gridReordered)
            hooks.gridReordered();
        for (int r = 0; r < grid.rowCount(); ++r)
            if (grid.row(r).isFolderRow() && grid.row(r).status == St::Add && grid.movePartner(r) >= 0)
                ctx.movesInto.insert(nameBytes(grid.row(r).path));
        // Rows whose move could not be made: carried out as a copy and a deletion.
        QSet<int> noMove;
        const auto moving = [&](int r) { return noMove.contains(r) ? -1 : grid.movePartner(r); };

        // Progress counts only numbers; the front end makes the texts.
        const ResultCounts todo = hooks.progress ? CountResults(grid) : ResultCounts();
        long long bytesDone = 0;
        int reported = -1;
        QElapsedTimer sinceReport;
        const auto report = [&] {
            reported = rep.processed;
            sinceReport.start();
            hooks.progress(rep.processed, todo.acting(), bytesDone, todo.copyBytes);
        };
        if (hooks.progress)
            report();

        // While a row is carried out, the copies of the next file rows are
        // written ahead on a helper thread (up to the next folder row, whose
        // work comes first); each is put in place at its own row's turn, and
        // those not reached are removed. A folder copied whole copies its
        // files several at a time on the same helpers.
        // Where folder 2 answers slowly, many operations are kept in flight.
        ctx.jobs = JobsFor(s.panel.nJobs, s.caps2);
        const int workers = std::max(ctx.jobs, ctx.verify ? CopyAhead::kVerifyWorkers : 1);
        CopyAhead ahead(workers, ctx.jobs > 1 ? 4 * workers : 0);
        ctx.ahead = &ahead;
        std::deque<std::pair<int, long long>> staged;  // row, key
        int looked = 0;  // rows before it were looked at for writing ahead
        // Once the destination ran out of space, copies wait for their turn:
        // space goes to the rows in their order.
        bool noAhead = false;
        const auto writeAhead = [&](int r) {
            if (noAhead || grid.row(r).isFolderRow())
                return;
            for (looked = std::max(looked, r + 1); looked < grid.rowCount() && !ahead.full(); ++looked) {
                const ResultRow& row = grid.row(looked);
                if (row.isFolderRow())
                    break;
                // Rows of a folder with temporaries of an earlier run wait
                // until their own turn has cleaned it.
                if (row.flag != kFlagDo || row.s1 < 0 || row.s1 > CopyAhead::kMaxBytes || row.result == kUnholdable
                    || row.result == kMetaOnly || moving(looked) >= 0
                    || !CopiesSource(ctx, EffectiveStatus(row.status)) || ctx.tmpLeft.contains(row.path))
                    continue;
                staged.emplace_back(looked, ahead.queue([&ctx, rel = row.itemPath()](fsops::StagedCopy& out) {
                    return StageFile(ctx, rel, CopyAhead::kMaxBytes, out);
                }));
            }
        };
        const auto stagedFor = [&](int r) {
            while (!staged.empty() && staged.front().first < r)
                staged.pop_front();
            fsops::StagedCopy copy;
            if (!staged.empty() && staged.front().first == r) {
                copy = ahead.take(staged.front().second);
                staged.pop_front();
            }
            return copy;
        };

        // The folders whose content or metadata the run changed: each gets
        // its source's times once everything in it is done.
        QSet<QString> touched;
        const auto touch = [&touched](const QString& rel) {
            if (!rel.isEmpty())
                touched.insert(rel);
        };

        std::vector<bool> doneEarly(size_t(grid.rowCount()), false);
        const auto markMoved = [&](int r) {
            ResultRow& out = grid.row(r);
            out.flag = kFlagDone;
            out.result = kMoved;
            ++rep.processed;
            doneEarly[size_t(r)] = true;
        };
        // Carries out the move of row r and its partner p at the first of the
        // two rows. Returns why it could not be made ("" once moved).
        const auto carryOutMove = [&](int r, int p) {
            const int to = grid.row(r).status == St::Del ? p : r;
            const int from = to == r ? p : r;
            const ResultRow& in = grid.row(to);
            const bool folder = in.isFolderRow();
            const QString toRel = in.itemPath();
            const QString fromRel = from == to ? in.moveRel() : grid.row(from).itemPath();
            const QString why = SyncMove(ctx, fromRel, toRel, folder);
            if (!why.isEmpty())
                return why;
            touch(opsupport::relDirOf(toRel));
            touch(opsupport::relDirOf(fromRel));
            if (folder) {
                touch(toRel);
                ctx.movedIn.insert(toRel);
                ctx.movedOut.insert(fromRel);
            }
            markMoved(to);
            if (from != to)
                markMoved(from);
            return QString();
        };

        // What carrying out a row came to: its result, why it failed, and
        // what it did to files where it counts them (files -1: nothing).
        struct Outcome {
            QString result;
            QString why;
            fsops::FileTally did{-1, 0};
        };
        // Row r's result into the grid, the counts and the progress; moveWhy:
        // why its move fell back to a copy and a deletion.
        const auto settle = [&](int r, Outcome o, const QString& moveWhy, bool metaOnly) {
            ResultRow& out = grid.row(r);
            if (o.did.files >= 0)
                out.setContent(o.did.files, o.did.bytes);
            ++rep.processed;
            bytesDone += CopyBytes(out);
            if (!moveWhy.isEmpty())
                o.why = o.why.isEmpty() ? moveWhy : o.why + QStringLiteral("; ") + moveWhy;
            if (o.result.contains(QLatin1String("Err"))) {
                out.red = true;
                out.setWhy(o.why);
                ++rep.failed;
                if (hooks.rowFailed)
                    hooks.rowFailed(r, o.why);
                out.result = o.result;
            } else {
                out.flag = kFlagDone;
                // A correction of metadata still says what it was.
                out.result = metaOnly ? kMetaOnly : CellText(o.result);
                if (!moveWhy.isEmpty())
                    out.setWhy(moveWhy);
            }
            if (hooks.progress && sinceReport.elapsed() >= kProgressIntervalMs)
                report();
        };
        // The folders whose times row r's work changes.
        const auto touchRow = [&](const ResultRow& in) {
            touch(in.path);
            if (in.isFolderRow())
                touch(in.path.section(QLatin1Char('/'), 0, -2));
        };

        // The folder or file operation of the row in (copy: its copy written
        // ahead, if any).
        const auto attempt = [&](const ResultRow& in, fsops::StagedCopy* copy) {
            Outcome o;
            const QString status = EffectiveStatus(in.status);
            o.result = in.isFolderRow() ? SyncFld(ctx, in.itemPath(), status, &o.why, &o.did)
                                        : SyncFile(ctx, in.itemPath(), status, &o.why, copy);
            return o;
        };

        // A row that found no space while work for later rows held some
        // (othersHeld): that work goes, the rest is carried out in turn, and
        // the row is tried once more.
        const auto retryAlone = [&](const ResultRow& in, Outcome& o, bool othersHeld) {
            if (!othersHeld || !o.result.endsWith(kErrSuffix) || !SaysNoSpace(o.why))
                return;
            ahead.dropAll();
            staged.clear();
            noAhead = true;
            o = attempt(in, nullptr);
        };

        // Carries out row r; copy: its copy written ahead, if any.
        const auto carryOut = [&](int r, fsops::StagedCopy* copy) {
            QString moveWhy;
            if (const int p = moving(r); p >= 0) {
                moveWhy = carryOutMove(r, p);
                if (moveWhy.isEmpty())
                    return;
                noMove.insert(r);
                noMove.insert(p);
                moveWhy = WhyText(Why::MoveFallsBack, moveWhy);
            }
            const ResultRow& in = grid.row(r);
            // Below a folder moved in this run: it came with that folder.
            if (in.isFolderRow() && ((in.status == St::Add && belowOneOf(ctx.movedIn, in.path))
                                     || (in.status == St::Del && belowOneOf(ctx.movedOut, in.path)))) {
                if (in.status == St::Add)
                    touch(in.path);  // it gets its folder-1 times, as a copy would
                markMoved(r);
                return;
            }
            const QString status = EffectiveStatus(in.status);
            const bool folder = in.isFolderRow();
            const QString rel = in.itemPath();
            const bool metaOnly = in.result == kMetaOnly;
            touchRow(in);
            Outcome o;
            if (in.result == kUnholdable) {
                // Folder 2's volume cannot take it (a refused name, one it
                // files under another's key): a flag set by hand does not try.
                o.why = in.why();
                o.result = status + kErrSuffix;
            } else if (metaOnly) {
                o.result = SyncMeta(ctx, rel, status, folder, &o.why);
            } else {
                o = attempt(in, copy);
            }
            retryAlone(in, o, !staged.empty());  // the copies written ahead
            settle(r, std::move(o), moveWhy, metaOnly);
        };

        // A folder that takes the place of a file: the file's deletion row
        // (a file row, so after the folder's) is carried out first, so that
        // one run makes the change.
        const QHash<QString, int> deletedFiles = fileDeletions(grid);
        const auto clearWayFor = [&](int r) {
            const ResultRow& in = grid.row(r);
            if (!in.isFolderRow() || deletedFiles.isEmpty())
                return;
            const FldOp op = DecideFld(EffectiveStatus(in.status), ctx.yRt);
            if (op != FldOp::CopyTree && op != FldOp::MakeDir)
                return;
            const int f = deletedFiles.value(in.path, -1);
            if (f > r && f < grid.rowCount() && grid.row(f).flag == kFlagDo && !doneEarly[size_t(f)]) {
                doneEarly[size_t(f)] = true;
                carryOut(f, nullptr);
            }
        };

        // Where folder 2 answers slowly, plain rows are carried out ahead of
        // their turn, many at a time: file copies, overwrites and deletions
        // (with their backups) on the helpers, new folders (one level) on
        // this thread when handed over, so that a folder is there before any
        // of its files is handed over. Each row is still settled at its own
        // turn, its log lines written then, in the grid's order. Any other
        // row (the trash, a move, a folder copied whole or deleted) waits
        // until every row before it is settled and is carried out alone, as
        // without helpers.
        struct Handed {
            int row;
            long long key;  // the helpers' job (-1: carried out when handed over)
            struct Done {
                bool ran = false;  // written by the thread that carried it out
                Outcome out;
                opsupport::Held held;  // its log lines and a full history volume, for its turn
            };
            std::shared_ptr<Done> done;
        };
        std::deque<Handed> handed;
        const bool pool = ctx.jobs > 1;
        const size_t maxHanded = size_t(8 * workers);
        int looked2 = 0;  // rows before it were looked at for handing over
        enum class Hand { No, File, Folder };
        const auto handKind = [&](int r) {
            const ResultRow& row = grid.row(r);
            if (row.result == kUnholdable || row.result == kMetaOnly || moving(r) >= 0)
                return Hand::No;
            const QString status = EffectiveStatus(row.status);
            if (row.isFolderRow()) {
                if (DecideFld(status, ctx.yRt) != FldOp::MakeDir || deletedFiles.contains(row.path)
                    || ctx.tmpLeft.contains(row.path) || ctx.tmpLeft.contains(opsupport::relDirOf(row.path))
                    || belowOneOf(ctx.movedIn, row.path) || belowOneOf(ctx.movedOut, row.path))
                    return Hand::No;
                return Hand::Folder;
            }
            if (ctx.tmpLeft.contains(row.path))
                return Hand::No;
            const FilePlan plan = DecideFile(status, ctx.yRt);
            // A copy, an overwrite, a deletion, or a deletion into the backup
            // (no operation besides it); the trash goes alone, and so do the
            // names of a source file of more than one (so that the later ones
            // find the first one's copy).
            const bool handable = plan.op == FileOp::Copy || plan.op == FileOp::Remove
                                  || (plan.backup && plan.op == FileOp::None);
            if (!handable
                || (plan.op == FileOp::Copy
                    && fsops::IsMultiNamedFile(ctx.root1(), nameBytes(row.itemPath()).constData(), ctx.followFileLinks)))
                return Hand::No;
            // The run's backup folder is made here, once, before any helper
            // saves into it; where it cannot be, the row says why at its turn.
            if (plan.backup && ctx.backupRoot() < 0)
                return Hand::No;
            return Hand::File;
        };
        const auto handOver = [&](int from) {
            for (looked2 = std::max(looked2, from); looked2 < grid.rowCount(); ++looked2) {
                const ResultRow& row = grid.row(looked2);
                if (row.flag != kFlagDo || doneEarly[size_t(looked2)])
                    continue;
                if (noAhead || ahead.full() || handed.size() >= maxHanded)
                    return;
                const Hand h = handKind(looked2);
                if (h == Hand::No)
                    return;  // its turn comes with nothing under way
                auto done = std::make_shared<Handed::Done>();
                const QString rel = row.itemPath();
                const QString status = EffectiveStatus(row.status);
                touchRow(row);
                long long key = -1;
                if (h == Hand::Folder) {
                    const opsupport::HeldCapture capture(done->held);
                    done->out.result = SyncFld(ctx, rel, status, &done->out.why, &done->out.did);
                    done->ran = true;
                } else {
                    key = ahead.queue([&ctx, rel, status, done](fsops::StagedCopy&) {
                        const opsupport::HeldCapture capture(done->held);
                        done->out.result = SyncFile(ctx, rel, status, &done->out.why);
                        done->ran = true;
                        return false;
                    });
                }
                handed.push_back({looked2, key, std::move(done)});
            }
        };
        // What a row handed over left for its turn: its log lines, and a
        // history volume found full (the run stops after this row).
        const auto takeHeld = [&](const Handed& h) {
            for (const QString& line : std::as_const(h.done->held.log))
                opsupport::writeLog(ctx, line);
            if (ctx.historyFull.isEmpty())
                ctx.historyFull = h.done->held.historyFull;
        };
        // Settles the first row handed over, once its operation is done;
        // one the helpers dropped is carried out now.
        const auto settleHanded = [&] {
            const Handed h = std::move(handed.front());
            handed.pop_front();
            if (h.key >= 0)
                ahead.take(h.key);
            if (!h.done->ran) {
                carryOut(h.row, nullptr);
                return;
            }
            takeHeld(h);
            Outcome o = std::move(h.done->out);
            retryAlone(grid.row(h.row), o, true);  // the rows under way after it may
            settle(h.row, std::move(o), QString(), false);
        };

        rep.outcome = SyncReport::Outcome::Completed;
        const int count = grid.rowCount();
        for (int r = 0; r < count; ++r) {
            if (r >= grid.rowCount())  // the grid was emptied while events ran
                break;
            if (doneEarly[size_t(r)])
                continue;
            if (pool)
                handOver(r);
            else
                writeAhead(r);
            while (!handed.empty() && handed.front().row < r)  // settled by another row meanwhile
                settleHanded();
            if (!handed.empty() && handed.front().row == r) {
                settleHanded();
            } else if (grid.row(r).flag == kFlagDo) {
                clearWayFor(r);
                if (ctx.logError.isEmpty() && ctx.historyFull.isEmpty()) {
                    fsops::StagedCopy copy = stagedFor(r);
                    carryOut(r, &copy);
                }
            }
            if (hooks.showRow)
                hooks.showRow(r);
            if (!ctx.logError.isEmpty() || !ctx.historyFull.isEmpty()) {
                // The log no longer tells what the run does, or no further
                // backup fits: nothing more is done.
                rep.logError = ctx.logError;
                rep.historyFull = ctx.historyFull;
                rep.outcome = SyncReport::Outcome::Stopped;
                break;
            }
            if (!wait.yield()) {
                rep.outcome = SyncReport::Outcome::Stopped;
                break;
            }
        }
        // A stop: the operations under way end, those not begun are not
        // begun, and every one that was carried out is settled and logged.
        ahead.dropAll();
        for (const Handed& h : handed) {
            if (!h.done->ran || h.row >= grid.rowCount())
                continue;
            takeHeld(h);
            settle(h.row, h.done->out, QString(), false);
            if (hooks.showRow)
                hooks.showRow(h.row);
        }
        handed.clear();
        if (hooks.progress && reported != rep.processed)
            report();
        ctx.ahead = nullptr;
        // Setting a folder's times changes nothing above or beside it, so
        // they are set in any order, on as many threads as the rows had (on
        // a slow volume the calls wait side by side); failures are told
        // deepest first.
        QStringList folders(touched.begin(), touched.end());
        std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
            const qsizetype da = a.count(QLatin1Char('/')), db = b.count(QLatin1Char('/'));
            return da != db ? da > db : a < b;
        });
        std::vector<QString> why(size_t(folders.size()));
        ForEachAtOnce(why.size(), ctx.jobs, [&](size_t k) { SyncFolderTimes(ctx, folders[qsizetype(k)], &why[k]); });
        for (const QString& w : why)
            if (!w.isEmpty())
                ctx.leftOut.append(w);
        // Temporary files of a dead run go also where no row wrote.
        CleanLeftTemps(ctx);
        pruneHistory(s, ctx, sBkRt, rep);
        if (hooks.showRow && grid.rowCount() > 0)
            hooks.showRow(0);
        if (ctx.verify) {
            rep.verified = logtx::verified(verified.readBack, verified.rewritten, verified.shared);
            opsupport::writeLog(ctx, rep.verified);
            if (rep.logError.isEmpty())
                rep.logError = ctx.logError;
        }
        rep.leftOut = s.vUnread + s.vNg + s.vLost + ctx.leftOut;
        rep.leftOut.removeDuplicates();  // a folder copied again inside a copied one meets the same items
    }

    // Finish, on every path past the busy check.
    rep.elapsedMs = took.elapsed();
    EnSync(s, true);
    if (wantLog)
        log.lgOff();
    s.ftpEnabled = true;
    if (s.commandsChanged)
        s.commandsChanged();
    wait.cEnd();
    if (!rep.logError.isEmpty())
        Notice(s, SyncMsg::LogWriteFailed + rep.logError);
    if (!rep.historyFull.isEmpty())
        Notice(s, SyncMsg::HistoryFull + rep.historyFull);
    ShowListMessage(s, SyncMsg::LeftOut, rep.leftOut);
    ShowListMessage(s, SyncMsg::PruneFailed, rep.pruneFailed);
    return rep;
}

} // namespace velmor
