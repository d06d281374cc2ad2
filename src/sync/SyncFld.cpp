// Folder rows: empty a container, create it, copy a new folder whole, or
// remove a folder (saved into the backup folder, into the trash, or deleted).
#include "sync/SyncOps.h"

#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

namespace velmor {

using namespace opsupport;
using fsops::Kind;
using fsops::native;

namespace {

// Saves the destination below the backup folder and removes it from folder 2.
fsops::FsResult saveAndRemove(const QString& dst, const QString& target)
{
    makeParent(target);
    const fsops::NPath nd = native(dst);
    const fsops::NPath nt = native(target);
    switch (fsops::kindOf(nt)) {
    case Kind::None:
        return fsops::MoveItem(nd, nt);  // fails when the destination is missing
    case Kind::Dir:
        // Saved already, usually together with an enclosing folder earlier in
        // this run; whatever is still in folder 2 is merged into that copy.
        return fsops::exists(nd) ? fsops::MoveItem(nd, nt) : fsops::FsResult{};
    default:
        return fsops::FsResult::fail(QStringLiteral("backup target %1 exists and is not a folder").arg(target));
    }
}

// A folder below one this run copied whole (ancestors come first in the
// grid) was copied with it: only files that differ from that copy are copied again.
fsops::CopyOptions copyOptions(const SyncCtx& ctx, const QString& rel)
{
    fsops::CopyOptions opt;
    for (const QString& done : ctx.copiedFolders)
        if (rel.startsWith(done + QLatin1Char('/')))
            opt.skipUnchanged = true;
    return opt;
}

} // namespace

QString SyncFld(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why)
{
    const FldOp op = DecideFld(status, ctx.yRt);
    if (op == FldOp::None)
        return status;

    const QString src = ctx.source(rel);
    const QString dst = ctx.destination(rel);
    ctx.realFolders.clear();  // folder operations reshape the tree
    QString err = checkRel(rel);
    if (err.isEmpty())
        err = checkNoLinkOnTheWay(ctx, rel);
    if (err.isEmpty())
        err = checkSpelling(rel, op == FldOp::MakeDir || op == FldOp::CopyTree ? src : dst);
    if (!err.isEmpty())
        return failed(status, err, why);

    fsops::FsResult r;
    QString line;
    switch (op) {
    case FldOp::DeleteFiles:
        // Files of a container that cannot be deleted stay, and the row still
        // succeeds: emptying a container is a clean-up, not a promise.
        fsops::RemoveFilesIn(native(dst));
        line = logtx::filesDeleted(dst);
        break;
    case FldOp::MakeDir:
        r = fsops::MakeDir(native(dst));
        line = logtx::created(dst);
        break;
    case FldOp::CopyTree:
        // The source is checked first so that a vanished source leaves no
        // new parent folders behind in folder 2.
        if (fsops::kindOf(native(src)) != Kind::Dir) {
            r = fsops::FsResult::fail(QStringLiteral("source folder %1 does not exist").arg(src));
            break;
        }
        makeParent(dst);
        r = fsops::CopyTree(native(src), native(dst), copyOptions(ctx, rel));
        if (r.ok())
            ctx.copiedFolders.push_back(rel);
        line = logtx::copied(src, dst);
        break;
    case FldOp::SaveAndRemove: {
        if (ctx.sBkFld.isEmpty()) {
            r = fsops::FsResult::fail(QStringLiteral("no backup folder chosen for this run"));
            break;
        }
        const QString target = ctx.backupTarget(rel);
        r = saveAndRemove(dst, target);
        line = logtx::moved(dst, target);
        break;
    }
    case FldOp::Trash:
        r.error = moveToTrash(dst);
        line = logtx::trashed(dst);
        break;
    case FldOp::Remove:
        r = fsops::RemoveItem(native(dst));
        line = logtx::deleted(dst);
        break;
    case FldOp::None:
        break;
    }
    if (!r.ok())
        return failed(status, r.error, why);
    err = writeLog(ctx, line);
    if (!err.isEmpty())
        return failed(status, err, why);
    return status;
}

} // namespace velmor
