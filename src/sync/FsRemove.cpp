// Removal and moves: removing an entry with everything in it, and moving or
// merging one entry into another's place.
#include "sync/FsInternal.h"
#include "env/FsList.h"

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>

namespace velmor::fsops {

using namespace detail;

namespace {

// Lets the owner read, write and enter the open folder so that its entries
// can be removed or moved out (a no-op when it already may). Failure is left
// to the following operation to report.
void widenFolder(int fd, const struct stat& st)
{
    const mode_t need = S_IRUSR | S_IWUSR | S_IXUSR;
    if ((st.st_mode & need) != need)
        ::fchmod(fd, (st.st_mode & 07777) | need);
}

FsResult removeAt(const At& e)
{
    struct stat st {};
    if (::fstatat(e.dir, e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FsResult{} : FsResult::fail(Why::Read, e.path, errno);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(e.dir, e.name.constData(), 0) != 0 && errno != ENOENT)
            return FsResult::fail(Why::Delete, e.path, errno);
        return {};
    }
    {
        UniqueFd fd = openSubdir(e);
        if (!fd.valid())
            return FsResult::fail(Why::OpenFolder, e.path, errno);
        widenFolder(fd.get(), st);
        std::vector<Entry> entries;
        if (!listDirAt(fd.get(), entries))
            return FsResult::fail(Why::List, e.path, errno);
        for (const Entry& c : entries) {
            const FsResult r = removeAt({fd.get(), c.name, child(e.path, c.name)});
            if (!r.ok())
                return r;
        }
    }
    if (::unlinkat(e.dir, e.name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return FsResult::fail(Why::RemoveFolder, e.path, errno);
    return {};
}

FsResult mergeInto(const At& src, const At& dst);

FsResult moveOne(const At& src, Kind sk, const At& dst)
{
    const bool copyFolder = sk == Kind::Dir && FsLosesRenamedFolders(src.dir);
    if (!copyFolder && ::renameat(src.dir, src.name.constData(), dst.dir, dst.name.constData()) == 0)
        return {};
    const int err = copyFolder ? EXDEV : errno;
    // Across file systems (or out of a folder we may not rename) fall back
    // to copy-then-remove: the source is removed only after a complete copy.
    if (err != EXDEV && !(sk == Kind::Dir && (err == EACCES || err == EPERM)))
        return FsResult::fail(Why::Move, src.path, err);
    CopyOptions own;
    own.refuseReadOnlyTarget = false;
    QStringList skipped;
    FsResult r = sk == Kind::Dir ? CopyTree(src, dst, own, &skipped) : CopyItem(src, dst, own);
    if (!r.ok())
        return r;
    if (!skipped.isEmpty())  // what could not be copied must not be removed
        return FsResult::fail(Why::HoldsSpecialFiles, src.path);
    return RemoveItem(src);
}

FsResult mergeInto(const At& src, const At& dst)
{
    struct stat st {};
    if (kindOf(src, &st) != Kind::Dir)
        return FsResult::fail(Why::Merge, src.path, ENOTDIR);
    {
        UniqueFd sfd = openSubdir(src);
        if (!sfd.valid())
            return FsResult::fail(Why::OpenFolder, src.path, errno);
        UniqueFd dfd = openSubdir(dst);
        if (!dfd.valid())
            return FsResult::fail(Why::OpenFolder, dst.path, errno);
        widenFolder(sfd.get(), st);
        std::vector<Entry> entries;
        if (!listDirAt(sfd.get(), entries))
            return FsResult::fail(Why::List, src.path, errno);
        for (const Entry& e : entries) {
            const At s{sfd.get(), e.name, child(src.path, e.name)};
            const At d{dfd.get(), e.name, child(dst.path, e.name)};
            const Kind sk = kindOf(s);
            const Kind dk = kindOf(d);
            FsResult r;
            if (sk == Kind::Dir && dk == Kind::Dir) {
                r = mergeInto(s, d);
            } else {
                // A folder never silently becomes a file or the reverse: the
                // entry of dst is cleared first, then src's entry takes its place.
                if (dk != Kind::None && (sk == Kind::Dir || dk == Kind::Dir))
                    r = removeAt(d);
                if (r.ok())
                    r = moveOne(s, sk, d);
            }
            if (!r.ok())
                return r;
        }
    }
    if (::unlinkat(src.dir, src.name.constData(), AT_REMOVEDIR) != 0)
        return FsResult::fail(Why::RemoveFolder, src.path, errno);
    return {};
}

// renameat2 with RENAME_NOREPLACE; where the file system does not know the
// flag, the same after a look that nothing is at dst (a name taken between
// the look and the rename is replaced: no other call can tell).
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat st {};
    if (::fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT)
        return -1;
    return ::renameat(fromDir, from, toDir, to);
}

} // namespace

FsResult RenameItem(const At& src, const At& dst)
{
    if (renameNoReplace(src.dir, src.name.constData(), dst.dir, dst.name.constData()) == 0)
        return {};
    const int err = errno;
    // dst may name src itself: the two names differ in letter case only, in
    // one folder (a volume that ignores case; some tell no inode numbers
    // that say so). Where dst is another item, the second step below fails
    // and src gets its name back.
    const bool caseOnly = err == EEXIST && src.name != dst.name && FsIdOf(src.dir) == FsIdOf(dst.dir)
                          && nameText(src.name).toCaseFolded() == nameText(dst.name).toCaseFolded();
    if (!caseOnly)
        return FsResult::fail(Why::Rename, src.path, err);
    const NPath tmp = tmpNameFor(dst.name);
    if (renameNoReplace(src.dir, src.name.constData(), dst.dir, tmp.constData()) != 0)
        return FsResult::fail(Why::Rename, src.path, errno);
    if (renameNoReplace(dst.dir, tmp.constData(), dst.dir, dst.name.constData()) != 0) {
        const int e = errno;
        // Back to the old name: the item is never left under the temporary one.
        if (renameNoReplace(dst.dir, tmp.constData(), src.dir, src.name.constData()) != 0)
            return FsResult::fail(Why::LeftAsTemp, src.path, e, {child(dst.path.section(QLatin1Char('/'), 0, -2), tmp)});
        return FsResult::fail(Why::Rename, src.path, e);
    }
    return {};
}

FsResult RemoveItem(const At& e) { return removeAt(e); }

FsResult MoveItem(const At& src, const At& dst)
{
    const Kind sk = kindOf(src);
    if (sk == Kind::None)
        return FsResult::fail(Why::Move, src.path, ENOENT);
    const Kind dk = kindOf(dst);
    if (sk == Kind::Dir && dk == Kind::Dir)
        return mergeInto(src, dst);
    if (sk == Kind::Dir && dk != Kind::None)
        return FsResult::fail(Why::MoveFolderOnto, dst.path, EEXIST);
    if (sk != Kind::Dir && dk == Kind::Dir)
        return FsResult::fail(Why::MoveOnto, dst.path, EISDIR);
    return moveOne(src, sk, dst);
}

} // namespace velmor::fsops
