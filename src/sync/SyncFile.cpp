// File rows: copy a new or changed file, or delete one that folder 1 no
// longer has; the old destination is first moved into the backup folder
// when the backup switch is on.
#include "sync/SyncOps.h"

#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

namespace velmor {

using namespace opsupport;
using fsops::Kind;
using fsops::native;

namespace {

// Moves the destination file (or link) to its backup target, replacing an
// earlier copy there.
fsops::FsResult backUp(const QString& dst, const QString& target)
{
    const fsops::NPath nd = native(dst);
    const Kind dk = fsops::kindOf(nd);
    if (dk == Kind::None)
        return fsops::FsResult::fail(QStringLiteral("%1 does not exist; there is nothing to back up").arg(dst));
    if (dk == Kind::Dir)
        return fsops::FsResult::fail(QStringLiteral("%1 is a folder, not a file").arg(dst));
    makeParent(target);
    return fsops::MoveItem(nd, native(target));
}

// Deletes the destination unless a folder has taken its name.
fsops::FsResult removeFile(const QString& dst, bool toTrash)
{
    const fsops::NPath nd = native(dst);
    const Kind k = fsops::kindOf(nd);
    if (k == Kind::Dir)
        return fsops::FsResult::fail(QStringLiteral("%1 is a folder, not a file").arg(dst));
    if (!toTrash)
        return fsops::RemoveItem(nd);  // a file already gone counts as deleted
    if (k == Kind::None)
        return {};
    return fsops::FsResult::fail(moveToTrash(dst));
}

} // namespace

QString SyncFile(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why)
{
    const FilePlan plan = DecideFile(status, ctx.yRt);
    if (!plan.backup && plan.op == FileOp::None)
        return status;

    const QString src = ctx.source(rel);
    const QString dst = ctx.destination(rel);
    QString err = checkRel(rel);
    if (err.isEmpty())
        err = checkNoLinkOnTheWay(ctx, rel);
    if (err.isEmpty() && plan.op == FileOp::Copy)
        err = checkSpelling(rel, src);
    if (err.isEmpty() && plan.op != FileOp::Copy)
        err = checkSpelling(rel, dst);
    if (!err.isEmpty())
        return failed(status, err, why);

    if (plan.backup) {
        if (ctx.sBkFld.isEmpty())
            return failed(status, QStringLiteral("no backup folder chosen for this run"), why);
        const QString target = ctx.backupTarget(rel);
        const fsops::FsResult r = backUp(dst, target);
        if (!r.ok())
            return failed(status, r.error, why);
        err = writeLog(ctx, logtx::moved(dst, target));
        if (!err.isEmpty())
            return failed(status, err, why);
    }

    fsops::FsResult r;
    QString line;
    switch (plan.op) {
    case FileOp::Copy:
        r = fsops::CopyItem(native(src), native(dst));
        line = status == St::Over ? logtx::overwritten(src, dst) : logtx::copied(src, dst);
        break;
    case FileOp::Trash:
        r = removeFile(dst, true);
        line = logtx::trashed(dst);
        break;
    case FileOp::Remove:
        r = removeFile(dst, false);
        line = logtx::deleted(dst);
        break;
    case FileOp::None:
        break;
    }
    if (!r.ok())
        return failed(status, r.error, why);
    if (!line.isEmpty()) {
        err = writeLog(ctx, line);
        if (!err.isEmpty())
            return failed(status, err, why);
    }
    return status;
}

} // namespace velmor
