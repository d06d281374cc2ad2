// Moves: an item that folder 1 has under a new name is renamed in folder 2.
#include "sync/SyncOps.h"

#include "compare/Moves.h"
#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <sys/stat.h>

namespace velmor {

using namespace opsupport;
using fsops::At;
using fsops::Kind;

namespace {

FileTime timeOf(const struct stat& st) { return {st.st_mtim.tv_sec, st.st_mtim.tv_nsec}; }

// Why the folder-1 item src (stat ss) is no longer what folder 2 holds at
// old (stat os); "" while it is.
QString changed(const SyncCtx& ctx, const At& src, const struct stat& ss, const At& old, const struct stat& os,
                const QString& from, const QString& to, bool folder)
{
    const QString why = WhyText(Why::ChangedSinceCompare, old.path, 0, {src.path});
    if (folder) {
        std::vector<TreeItem> a, b;
        if (!S_ISDIR(ss.st_mode) || !S_ISDIR(os.st_mode) || !ListTree(ctx.root1(), to, a)
            || !ListTree(ctx.root2(), from, b) || !SameTrees(a, b, ctx.match))
            return why;
        return {};
    }
    if (!S_ISREG(ss.st_mode) || !S_ISREG(os.st_mode) || ss.st_size != os.st_size
        || !SameFileTime(timeOf(ss), timeOf(os), ctx.match))
        return why;
    return {};
}

} // namespace

QString SyncMove(const SyncCtx& ctx, const QString& from, const QString& to, bool folder)
{
    QString err = checkRel(from);
    if (err.isEmpty())
        err = checkRel(to);
    if (err.isEmpty())
        err = checkHistory(ctx, from, true);
    if (err.isEmpty())
        err = checkHistory(ctx, to, false);
    if (!err.isEmpty())
        return err;
    UniqueFd dir1, dirOld, dirNew;
    At src, old, dst;
    if (!entryOf(ctx, Side::One, to, false, dir1, src, err) || !entryOf(ctx, Side::Two, from, false, dirOld, old, err))
        return err;
    struct stat ss {}, os {};
    if (fsops::kindOf(src, &ss) == Kind::None)
        return fsops::FsResult::fail(Why::Read, src.path, errno).error;
    if (fsops::kindOf(old, &os) == Kind::None)
        return fsops::FsResult::fail(Why::Read, old.path, errno).error;
    if (err = changed(ctx, src, ss, old, os, from, to, folder); !err.isEmpty())
        return err;
    if (!entryOf(ctx, Side::Two, to, true, dirNew, dst, err))
        return err;
    fsHook("move:resolved");
    if (const fsops::FsResult r = fsops::RenameItem(old, dst); !r.ok())
        return r.error;
    // Moved: what is left to do cannot undo it, and is named if it fails.
    if (const fsops::FsResult m = fsops::FixMeta(src, dst, copyOptions(ctx), false); !m.ok())
        ctx.leftOut.append(m.error);
    writeLog(ctx, logtx::moved(old.path, dst.path));
    return {};
}

} // namespace velmor
