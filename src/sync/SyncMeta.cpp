// Rows whose data is equal but whose metadata differs: folder 2's item gets
// the mode, owner, attributes and times of its folder-1 twin in place; and
// the times of folders, given once their content is done.
#include "sync/SyncOps.h"

#include "sync/FsOps.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

using namespace opsupport;
using fsops::At;
using fsops::Kind;

QString SyncMeta(const SyncCtx& ctx, const QString& rel, const QString& status, bool folder, QString* why)
{
    QString err = checkRel(rel);
    if (err.isEmpty())
        err = checkHistory(ctx, rel, false);
    UniqueFd dir1, dir2;
    At src, dst;
    if (err.isEmpty())
        entryOf(ctx, Side::One, rel, false, dir1, src, err) && entryOf(ctx, Side::Two, rel, false, dir2, dst, err);
    if (!err.isEmpty())
        return failed(status, err, why);
    QString what;
    const fsops::FsResult r = fsops::FixMeta(src, dst, copyOptions(ctx), !folder, &what);
    if (!r.ok())
        return failed(status, r.error, why);
    writeLog(ctx, logtx::metaFixed(dst.path, what));
    return status;
}

QString SyncFolderTimes(const SyncCtx& ctx, const QString& rel, QString* why)
{
    QString err = checkRel(rel);
    UniqueFd dir1, dir2;
    At src, dst;
    if (err.isEmpty() && !(entryOf(ctx, Side::One, rel, false, dir1, src, err)
                           && entryOf(ctx, Side::Two, rel, false, dir2, dst, err))
        && errno == ENOENT)
        return {};  // a folder on the way is gone on one side: no twin to take times from
    struct stat st {};
    if (err.isEmpty() && (fsops::kindOf(src, &st) != Kind::Dir || fsops::kindOf(dst) != Kind::Dir))
        return {};
    // Times only: a folder's other metadata are corrected by its own row,
    // which the user may have cleared.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (err.isEmpty() && ::utimensat(dst.dir, dst.name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        err = fsops::FsResult::fail(Why::SetTimes, dst.path, errno).error;
    if (!err.isEmpty() && why)
        *why = err;
    return err;
}

} // namespace velmor
