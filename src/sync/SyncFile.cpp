// File rows: copy a new or changed file, or delete one that folder 1 no
// longer has; the old destination is kept in the backup folder when the
// backup switch is on.
#include "sync/SyncOps.h"

#include "env/Trash.h"
#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <cerrno>

namespace velmor {

using namespace opsupport;
using fsops::At;
using fsops::Kind;

namespace {

// Deletes the destination (into the trash when asked) unless a folder has
// taken its name. A file already gone counts as deleted.
fsops::FsResult removeFile(const At& dst, bool toTrash)
{
    const Kind k = fsops::kindOf(dst);
    if (k == Kind::Dir)
        return fsops::FsResult::fail(Why::FolderNotFile, dst.path);
    if (k == Kind::None)
        return {};
    if (toTrash)
        return fsops::FsResult::fail(TrashAt(dst.dir, dst.name, dst.path));
    return fsops::RemoveItem(dst);
}

// Why the destination cannot be backed up (it must be a file or a link).
QString notBackable(const At& dst)
{
    switch (fsops::kindOf(dst)) {
    case Kind::None: return WhyText(Why::NothingToBackUp, dst.path);
    case Kind::Dir: return WhyText(Why::FolderNotFile, dst.path);
    default: return {};
    }
}

} // namespace

bool CopiesSource(const SyncCtx& ctx, const QString& status)
{
    return DecideFile(status, ctx.yRt).op == FileOp::Copy;
}

bool StageFile(const SyncCtx& ctx, const QString& rel, long long maxBytes, fsops::StagedCopy& out)
{
    if (!checkRel(rel).isEmpty() || !checkHistory(ctx, rel, false).isEmpty())
        return false;
    UniqueFd dir1, dir2;
    At src, dst;
    QString err;
    if (!entryOf(ctx, Side::One, rel, false, dir1, src, err) || !entryOf(ctx, Side::Two, rel, false, dir2, dst, err))
        return false;
    return fsops::StageCopy(src, dst, maxBytes, std::move(dir2), out, copyOptions(ctx));
}

QString SyncFile(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why,
                 fsops::StagedCopy* staged)
{
    const FilePlan plan = DecideFile(status, ctx.yRt);
    if (!plan.backup && plan.op == FileOp::None)
        return status;

    QString err = checkRel(rel);
    if (err.isEmpty())
        err = checkHistory(ctx, rel, false);
    if (!err.isEmpty())
        return failed(status, err, why);

    UniqueFd dir2;
    At dst;
    if (!entryOf(ctx, Side::Two, rel, false, dir2, dst, err)) {
        // A file whose folder is gone is gone too: nothing is left to delete.
        if (errno == ENOENT && !plan.backup && plan.op != FileOp::Copy)
            return status;
        return failed(status, err, why);
    }
    UniqueFd dir1, dirBk;
    At src, keep;
    if (plan.op == FileOp::Copy && !entryOf(ctx, Side::One, rel, false, dir1, src, err))
        return failed(status, err, why);
    if (plan.backup) {
        err = notBackable(dst);
        if (err.isEmpty())
            entryOf(ctx, Side::Backup, rel, true, dirBk, keep, err);
        if (!err.isEmpty())
            return failed(status, err, why);
    }
    if (plan.op == FileOp::Copy)
        cleanTemps(ctx, relDirOf(rel), dir2.get());
    fsHook("file:resolved");

    if (plan.backup) {
        const fsops::FsResult r = plan.op == FileOp::Copy ? fsops::ReplaceKeepingOld(src, dst, keep, staged, copyOptions(ctx))
                                                               : fsops::MoveItem(dst, keep);
        if (!r.ok())
            return backupFailed(ctx, status, r, why);
        writeLog(ctx, logtx::moved(dst.path, keep.path));
        if (plan.op == FileOp::Copy)
            writeLog(ctx, logtx::overwritten(src.path, dst.path));
        return status;
    }

    fsops::FsResult r;
    QString line;
    switch (plan.op) {
    case FileOp::Copy:
        r = fsops::CopyItem(src, dst, copyOptions(ctx), staged);
        line = status == St::Over ? logtx::overwritten(src.path, dst.path) : logtx::copied(src.path, dst.path);
        break;
    case FileOp::Trash:
        r = removeFile(dst, true);
        line = logtx::trashed(dst.path);
        break;
    case FileOp::Remove:
        r = removeFile(dst, false);
        line = logtx::deleted(dst.path);
        break;
    case FileOp::None:
        break;
    }
    if (!r.ok())
        return failed(status, r.error, why);
    if (!line.isEmpty())
        writeLog(ctx, line);
    return status;
}

} // namespace velmor
