// Temporary entries: their names, their creation under a lock, and the
// removal of those an earlier run left behind.
#include "sync/FsInternal.h"

#include <QRandomGenerator>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>

namespace velmor::fsops {

using namespace detail;

namespace {

constexpr size_t kNameMax = 255;  // bytes in one name (NAME_MAX)

// A file system that keeps no flock locks (some network and FUSE ones):
// there a temporary cannot say that a live run holds it, and is taken as
// nobody's, as when no run locked at all.
bool locksUnsupported(int err) { return err == EOPNOTSUPP || err == ENOLCK || err == ENOSYS || err == EINVAL; }

} // namespace

namespace detail {

NPath tmpNameFor(const NPath& name)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    NPath base = name;
    const size_t fixed = 1 + sizeof(kTmpTag) - 1 + 6;
    if (size_t(base.size()) + fixed > kNameMax)
        base.truncate(qsizetype(kNameMax - fixed));
    NPath tail(6, 'x');
    for (char& c : tail)
        c = chars[QRandomGenerator::global()->bounded(int(sizeof(chars) - 1))];
    return '.' + base + kTmpTag + tail;
}

FsResult createTemp(const At& dst, mode_t mode, TmpGuard& tmp, UniqueFd& out, struct stat* made)
{
    for (int tries = 0; !out.valid(); ++tries) {
        if (tries > 100)
            return FsResult::fail(Why::CreateTempFile, dst.path, EEXIST);
        const NPath name = tmpNameFor(dst.name);
        UniqueFd fd(::openat(dst.dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return FsResult::fail(Why::CreateTempFile, dst.path, errno);
        }
        tmp.dir = dst.dir;
        tmp.name = name;
        if (::flock(fd.get(), LOCK_EX) != 0 && !locksUnsupported(errno))
            return FsResult::fail(Why::LockTempFile, dst.path, errno);
        // A cleaner may have removed the name between its creation and the
        // lock: then the file is nobody's, and another name is taken.
        struct stat mine {}, there {};
        if (::fstat(fd.get(), &mine) != 0 || ::fstatat(dst.dir, name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0
            || mine.st_ino != there.st_ino || mine.st_dev != there.st_dev) {
            tmp.name.clear();
            continue;
        }
        // A second descriptor of the same open file keeps the lock once the
        // written one is closed (its close reports late write errors).
        tmp.lock = UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
        if (!tmp.lock.valid())
            return FsResult::fail(Why::LockTempFile, dst.path, errno);
        if (made)
            *made = mine;
        out = std::move(fd);
    }
    return {};
}

} // namespace detail

int RemoveTempsIn(int dirFd)
{
    std::vector<Entry> entries;
    if (!listDirAt(dirFd, entries))
        return 1;
    int left = 0;
    for (const Entry& e : entries) {
        if (!isTempName(e.name) || e.type == DT_DIR)
            continue;
        const char* name = e.name.constData();
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            left += errno != ENOENT;
            continue;
        }
        if (!isOwnTemp(e.name, st))
            continue;  // not one of ours, whatever its name
        UniqueFd held;
        if (S_ISREG(st.st_mode)) {
            // A live run holds its temporary file locked until it is renamed
            // or removed. A link cannot be locked; a run makes and renames
            // one at once.
            held = UniqueFd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (!held.valid()) {
                left += errno != ENOENT;
                continue;
            }
            if (::flock(held.get(), LOCK_EX | LOCK_NB) != 0 && !locksUnsupported(errno)) {
                left += errno != EWOULDBLOCK;
                continue;
            }
        }
        if (::unlinkat(dirFd, name, 0) != 0 && errno != ENOENT)
            ++left;
    }
    return left;
}

} // namespace velmor::fsops
