// Folder rows: empty a container, create it, copy a new folder whole, or
// remove a folder (saved into the backup folder, into the trash, or deleted).
#include "sync/SyncOps.h"

#include "compare/FsList.h"
#include "env/FsList.h"
#include "env/Trash.h"
#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <cerrno>
#include <sys/stat.h>

namespace velmor {

using namespace opsupport;
using fsops::At;
using fsops::Kind;

namespace {

// Saves the destination below the backup folder and removes it from folder 2.
fsops::FsResult saveAndRemove(const At& dst, const At& keep)
{
    switch (fsops::kindOf(keep)) {
    case Kind::None:
        return fsops::MoveItem(dst, keep);  // fails when the destination is missing
    case Kind::Dir:
        // Saved already, usually together with an enclosing folder earlier in
        // this run; whatever is still in folder 2 is merged into that copy.
        return fsops::kindOf(dst) != Kind::None ? fsops::MoveItem(dst, keep) : fsops::FsResult{};
    default:
        return fsops::FsResult::fail(Why::BackupNotFolder, keep.path);
    }
}

// True when a folder above rel was copied whole earlier in this run (the
// grid lists a folder before the folders below it): rel came with that copy.
bool copiedWithAncestor(const SyncCtx& ctx, const QString& rel)
{
    for (qsizetype at = rel.indexOf(QLatin1Char('/')); at >= 0; at = rel.indexOf(QLatin1Char('/'), at + 1))
        if (ctx.copiedFolders.contains(rel.left(at)))
            return true;
    return false;
}

// Removes one file of an emptied container as a file deletion would: into
// the backup folder, into the trash, or deleted.
QString removeContained(const SyncCtx& ctx, const QString& rel, const At& file)
{
    if (ctx.yRt[kSwBackup] == 1) {
        UniqueFd dir;
        At keep;
        QString err;
        if (!entryOf(ctx, Side::Backup, rel, true, dir, keep, err))
            return err;
        if (fsops::kindOf(keep) == Kind::Dir)
            return WhyText(Why::BackupIsFolder, keep.path);
        return fsops::MoveItem(file, keep).error;
    }
    if (ctx.yRt[kSwTrash] == 1)
        return TrashAt(file.dir, file.name, file.path);
    return fsops::RemoveItem(file).error;
}

// The attribute switches or the protection patterns keep the file name (of
// mode) in the folder folderRel from being removed. Throws as ChkPtn does.
bool guarded(const SyncCtx& ctx, const QString& folderRel, const QString& name, mode_t mode)
{
    if (!ChkAttr(ctx.yRt, AttrText(name, mode)))
        return true;
    QString base, ext, status = St::Del;
    SplitName(name, base, ext);
    ChkPtn(ctx.ptn, folderRel, base, ext, status);
    return status == St::Prot;
}

// "空": the files directly inside the destination go, except those that the
// attribute switches or the protection patterns guard. Subfolders stay.
// Files that cannot be removed stay and are named in ctx.leftOut; the row
// still succeeds (emptying a container is a clean-up, not a promise).
// removed: counts the files that went (none: not counted).
QString emptyContainer(const SyncCtx& ctx, const QString& rel, fsops::FileTally* removed)
{
    int root = ctx.root2();
    if (root < 0)
        return fsops::FsResult::fail(Why::Open, ctx.sFld2, errno).error;
    const QString path = ctx.destination(rel);
    const UniqueFd dir = openBeneath(root, nameBytes(rel));
    if (!dir.valid()) {
        if (errno == ENOENT)
            return {};  // nothing there to empty
        return fsops::FsResult::fail(Why::OpenFolder, path, errno).error;
    }
    FsLeftOut left;
    std::vector<FsEntry> files;
    try {
        files = FsListAt(dir.get(), path, FsKind::Files, &left);
    } catch (const FsError& e) {
        return QString::fromUtf8(e.what());
    }
    for (const QString& name : std::as_const(left.special))
        ctx.leftOut.append(WhyText(Why::SpecialNotRemoved, path + QLatin1Char('/') + name));
    for (const FsEntry& f : files) {
        try {
            if (guarded(ctx, rel, f.name, f.mode))
                continue;
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        const QString fileRel = rel + QLatin1Char('/') + f.name;
        const QString why = removeContained(ctx, fileRel, {dir.get(), nameBytes(f.name), ctx.destination(fileRel)});
        if (!why.isEmpty())
            ctx.leftOut.append(why);
        else if (removed)
            ++removed->files;
    }
    return {};
}

// A file, link or special file where a new folder goes. In folder 2's root
// it takes no part, and a special file (pipe, socket, device) is never
// compared: no row removes either, so with the delete switch it goes as a
// deleted file would (saved first with backups on, into the trash, or
// deleted), unless the attribute switches or the protection patterns guard
// it. Any other file has a row of its own that removes it first. "" when
// the way is clear.
QString clearTheWay(const SyncCtx& ctx, const QString& rel, const At& dst)
{
    struct stat st {};
    const Kind k = fsops::kindOf(dst, &st);
    if (k == Kind::None || k == Kind::Dir)
        return {};
    const QString inTheWay = WhyText(Why::InTheWay, dst.path);
    if ((rel.contains(QLatin1Char('/')) && k != Kind::Other) || ctx.yRt[1] != 1)
        return inTheWay;
    try {
        if (guarded(ctx, relDirOf(rel), nameText(dst.name), st.st_mode))
            return WhyText(Why::InTheWayProtected, dst.path);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    const QString err = removeContained(ctx, rel, dst);
    if (!err.isEmpty())
        return err;
    writeLog(ctx, ctx.yRt[kSwBackup] == 1  ? logtx::moved(dst.path, ctx.backupTarget(rel))
                  : ctx.yRt[kSwTrash] == 1 ? logtx::trashed(dst.path)
                                           : logtx::deleted(dst.path));
    return {};
}

} // namespace

QString SyncFld(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why, fsops::FileTally* did)
{
    const FldOp op = DecideFld(status, ctx.yRt);
    if (op == FldOp::None)
        return status;

    const bool removes = op == FldOp::SaveAndRemove || op == FldOp::Trash || op == FldOp::Remove;
    QString err = checkRel(rel);
    if (err.isEmpty())
        err = checkHistory(ctx, rel, removes);
    if (!err.isEmpty())
        return failed(status, err, why);

    const QString dstPath = ctx.destination(rel);
    QString line;
    if (op == FldOp::DeleteFiles) {
        if (did)
            *did = {};
        err = emptyContainer(ctx, rel, did);
        line = logtx::filesDeleted(dstPath);
    } else {
        UniqueFd dir2;
        At dst;
        // A new folder's missing parents are made below; a folder whose
        // parent is gone is gone itself.
        bool gone = false;
        if (!entryOf(ctx, Side::Two, rel, false, dir2, dst, err)) {
            if (errno != ENOENT || op == FldOp::MakeDir)
                return failed(status, err, why);
            gone = true;
            err.clear();
        }
        fsops::FsResult r;
        switch (op) {
        case FldOp::MakeDir: {
            // The new folder takes the permissions of its folder in folder 1
            // when that is there to read.
            UniqueFd dir1;
            At src;
            struct stat ss {};
            const bool like = entryOf(ctx, Side::One, rel, false, dir1, src, err)
                              && fsops::kindOf(src, &ss) == Kind::Dir;
            err = clearTheWay(ctx, rel, dst);
            if (!err.isEmpty())
                return failed(status, err, why);
            fsHook("folder:resolved");
            r = like ? fsops::MakeDirLike(dst, src, copyOptions(ctx)) : fsops::MakeDir(dst);
            line = logtx::created(dstPath);
            break;
        }
        case FldOp::CopyTree: {
            UniqueFd dir1;
            At src;
            // The source is checked first so that a vanished source leaves
            // no new parent folders behind in folder 2.
            if (!entryOf(ctx, Side::One, rel, false, dir1, src, err))
                return failed(status, err, why);
            if (fsops::kindOf(src) != Kind::Dir)
                return failed(status, WhyText(Why::SourceFolderMissing, src.path), why);
            if (gone && !entryOf(ctx, Side::Two, rel, true, dir2, dst, err))
                return failed(status, err, why);
            if (err = clearTheWay(ctx, rel, dst); !err.isEmpty())
                return failed(status, err, why);
            fsHook("folder:resolved");
            line = logtx::copied(src.path, dstPath);
            if (did)
                *did = {};
            // Copied a moment ago with the folder above it, in this run: a
            // second copy would only read and compare every file again.
            if (copiedWithAncestor(ctx, rel) && fsops::kindOf(dst) == Kind::Dir)
                break;
            QStringList skipped;
            std::vector<fsops::FsResult> notCopied;
            fsops::CopyOptions opt = copyOptions(ctx);
            opt.ahead = ctx.ahead;
            opt.tally = did;
            // As the file rows: the program's own files take no part.
            opt.leaveOut = [](const fsops::NPath& name) { return IsOwnFile(nameText(name)); };
            if (!ctx.movesInto.isEmpty())
                opt.leaveFolder = [&ctx](const fsops::NPath& below) { return ctx.movesInto.contains(below); };
            r = fsops::CopyTree(src, dst, opt, &skipped, &notCopied);
            for (const QString& p : std::as_const(skipped))
                ctx.leftOut.append(WhyText(Why::SpecialNotCopied, p));
            // Each item that could not be copied is named; the row fails,
            // and what was copied stays.
            for (const fsops::FsResult& f : notCopied)
                ctx.leftOut.append(f.error);
            // Gone through (in part): the folders below need no copy again.
            if (r.ok() || !notCopied.empty())
                ctx.copiedFolders.insert(rel);
            break;
        }
        case FldOp::SaveAndRemove: {
            UniqueFd dirBk;
            At keep;
            if (!entryOf(ctx, Side::Backup, rel, true, dirBk, keep, err))
                return failed(status, err, why);
            fsHook("folder:resolved");
            if (!gone)
                r = saveAndRemove(dst, keep);
            else if (fsops::kindOf(keep) != Kind::Dir)  // saved with an enclosing folder, or never there
                r = fsops::FsResult::fail(Why::Move, dstPath, ENOENT);
            if (!r.ok())
                return backupFailed(ctx, status, r, why);
            line = logtx::moved(dstPath, keep.path);
            break;
        }
        case FldOp::Trash:
            fsHook("folder:resolved");
            // Already gone (with a folder trashed earlier in this run) is done.
            if (!gone && fsops::kindOf(dst) != Kind::None)
                r.error = TrashAt(dst.dir, dst.name, dstPath);
            line = logtx::trashed(dstPath);
            break;
        case FldOp::Remove:
            fsHook("folder:resolved");
            if (!gone)
                r = fsops::RemoveItem(dst);
            line = logtx::deleted(dstPath);
            break;
        case FldOp::DeleteFiles:
        case FldOp::None:
            break;
        }
        err = r.error;
    }
    if (!err.isEmpty())
        return failed(status, err, why);
    writeLog(ctx, line);
    return status;
}

} // namespace velmor
