#include "sync/FsOps.h"

#include "sync/CopyAhead.h"

#include "env/FsList.h"
#include "env/SysReason.h"

#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmor::fsops {

namespace {

constexpr size_t kNameMax = 255;  // bytes in one name (NAME_MAX)

QString child(const QString& dir, const NPath& name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + nameText(name) : dir + QLatin1Char('/') + nameText(name);
}

// The temporary entry being written: removed on scope exit unless it was
// renamed into place. A temporary file stays flocked (LOCK_EX, held through
// lock) until then, which tells a cleaner that a live run still writes it.
struct TmpGuard {
    int dir = -1;
    NPath name;
    UniqueFd lock;
    ~TmpGuard() { discard(); }
    // Removes the entry now. Its name goes before its lock, so no cleaner
    // ever finds it unlocked.
    void discard()
    {
        if (!name.isEmpty())
            ::unlinkat(dir, name.constData(), 0);
        release();
    }
    void release()
    {
        name.clear();
        lock.reset();
    }
};

} // namespace

// The folder held open for a staged copy (when the stager opened it) and the
// temporary; the temporary goes first.
struct StagedCopy::Data {
    UniqueFd hold;
    TmpGuard tmp;
};

namespace {

struct Entry {
    NPath name;
    unsigned char type;  // DT_* of the listing (DT_UNKNOWN when the file system does not say)
};

// Entries of the open folder dfd (without "." and ".."), bytewise sorted so
// that work and failures happen in a stable order. Returns false with errno set.
bool listDirAt(int dfd, std::vector<Entry>& out)
{
    const int fd = ::fcntl(dfd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    ::rewinddir(d);
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        out.push_back({NPath(n), e->d_type});
        errno = 0;
    }
    const int err = errno;
    ::closedir(d);
    if (err) {
        errno = err;
        return false;
    }
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

UniqueFd openSubdir(const At& e)
{
    return UniqueFd(::openat(e.dir, e.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Lets the owner read, write and enter the open folder so that its entries
// can be removed or moved out (a no-op when it already may). Failure is left
// to the following operation to report.
void widenFolder(int fd, const struct stat& st)
{
    const mode_t need = S_IRUSR | S_IWUSR | S_IXUSR;
    if ((st.st_mode & need) != need)
        ::fchmod(fd, (st.st_mode & 07777) | need);
}

// A temporary name beside an entry: "." + name + ".velmor~" + 6 random
// characters, the name part shortened so the whole stays within NAME_MAX.
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

// Copies [from, to) of in to the same place in out: in-kernel where the
// file systems allow, read/write otherwise. A source that shrank meanwhile
// ends the range early.
bool copyRange(int in, int out, off_t from, off_t to)
{
    off_t inOff = from, outOff = from;
    // A small range is cheaper through a buffer than through the kernel's
    // copy machinery (sharing of data is asked for before, by FICLONE).
    constexpr off_t kSmall = 64 * 1024;
    bool kernel = to - from > kSmall;
    while (inOff < to && kernel) {
        const size_t want = size_t(std::min<off_t>(to - inOff, off_t(1) << 30));
        const ssize_t n = ::copy_file_range(in, &inOff, out, &outOff, want, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EBADF)
            return false;
        kernel = false;
    }
    char small[kSmall];
    std::vector<char> big;
    std::span<char> buf(small);
    if (to - inOff > kSmall) {
        big.resize(size_t(1) << 20);
        buf = big;
    }
    while (inOff < to) {
        const ssize_t n = ::pread(in, buf.data(), size_t(std::min<off_t>(to - inOff, off_t(buf.size()))), inOff);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t w = 0; w < n;) {
            const ssize_t k = ::pwrite(out, buf.data() + w, size_t(n - w), outOff + w);
            if (k < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            w += k;
        }
        inOff += n;
        outOff += n;
    }
    return true;
}

// Source devices whose files could not be shared (FICLONE) with the
// destination: after the first refusal the process stops asking for them. A
// run writes below one destination root, so the source device decides.
std::vector<dev_t>& cloneRefused()
{
    static thread_local std::vector<dev_t> devices;
    return devices;
}

// Copies the data of in (described by fs) into the empty file out: a
// reflink where the file systems share data, otherwise the data ranges only,
// so the holes of a sparse file stay holes.
bool copyData(int in, int out, const struct stat& fs)
{
    const off_t size = fs.st_size;
    if (size == 0)
        return true;
    std::vector<dev_t>& refused = cloneRefused();
    if (std::find(refused.begin(), refused.end(), fs.st_dev) == refused.end()) {
        if (::ioctl(out, FICLONE, in) == 0)
            return true;
        if (errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL || errno == ENOTTY || errno == ENOSYS)
            refused.push_back(fs.st_dev);
    }
    // A file whose blocks cover its size has no holes to look for.
    if (off_t(fs.st_blocks) * 512 >= size)
        return copyRange(in, out, 0, size);
    off_t at = 0;
    while (at < size) {
        const off_t data = ::lseek(in, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break;  // only a hole is left
            // No hole information here: everything counts as data.
            if (!copyRange(in, out, at, size))
                return false;
            at = size;
            break;
        }
        if (data >= size)
            break;
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > size)
            hole = size;
        if (!copyRange(in, out, data, hole))
            return false;
        at = hole;
    }
    return ::ftruncate(out, size) == 0;
}

FsResult notCopyable(const At& src)
{
    return FsResult::fail(QStringLiteral("cannot copy %1: not a regular file or link").arg(src.path));
}

FsResult sourceChanged(const At& src)
{
    return FsResult::fail(QStringLiteral("%1: the source changed while it was copied").arg(src.path));
}

// A file system that keeps no flock locks (some network and FUSE ones):
// there a temporary cannot say that a live run holds it, and is taken as
// nobody's, as when no run locked at all.
bool locksUnsupported(int err) { return err == EOPNOTSUPP || err == ENOLCK || err == ENOSYS || err == EINVAL; }

// True when fstat shows the same version of a file twice: same size,
// modification and change time (nanoseconds).
bool sameVersion(const struct stat& a, const struct stat& b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
           && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Creates a new temporary file beside dst with mode and takes its lock
// (tmp names and holds it). Returns the descriptor to write through.
FsResult createTemp(const At& dst, mode_t mode, TmpGuard& tmp, UniqueFd& out)
{
    for (int tries = 0; !out.valid(); ++tries) {
        if (tries > 100)
            return FsResult::fail("create a temporary file for", dst.path, EEXIST);
        const NPath name = tmpNameFor(dst.name);
        UniqueFd fd(::openat(dst.dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd.valid()) {
            if (errno == EEXIST)
                continue;
            return FsResult::fail("create a temporary file for", dst.path, errno);
        }
        tmp.dir = dst.dir;
        tmp.name = name;
        if (::flock(fd.get(), LOCK_EX) != 0 && !locksUnsupported(errno))
            return FsResult::fail("lock the temporary file for", dst.path, errno);
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
            return FsResult::fail("lock the temporary file for", dst.path, errno);
        out = std::move(fd);
    }
    return {};
}

// Writes the regular file (already open as in, described by fs) to a
// temporary entry of dst's folder, with exactly the source's permission bits
// (the umask does not apply). *changed: the source was written to meanwhile,
// so the temporary may hold parts of two versions and must not be used.
FsResult writeRegular(const At& src, const At& dst, int in, const struct stat& fs, TmpGuard& tmp, bool& changed)
{
    const mode_t mode = fs.st_mode & 07777;
    UniqueFd o;
    // Set-user-ID and set-group-ID come only once the content is complete:
    // a half-written copy is never a privileged program.
    FsResult r = createTemp(dst, mode & 0777, tmp, o);
    if (!r.ok())
        return r;
    if (!copyData(in, o.get(), fs)) {
        // A full volume is the destination's: the reason names it.
        const int err = errno;
        return IsNoSpace(err) ? FsResult::fail("write", dst.path, err) : FsResult::fail("copy", src.path, err);
    }
    fsHook("copy:data-written");
    if (!setExactMode(o.get(), mode))
        return FsResult::fail("set permissions of", dst.path, errno);
    const struct timespec times[2] = {fs.st_atim, fs.st_mtim};
    if (::futimens(o.get(), times) != 0)
        return FsResult::fail("set times of", dst.path, errno);
    if (o.close() != 0)
        return FsResult::fail("write", dst.path, errno);
    struct stat now {};
    if (::fstat(in, &now) != 0)
        return FsResult::fail("read", src.path, errno);
    changed = !sameVersion(fs, now);
    return {};
}

// Copies the regular file src to a temporary entry beside dst: opened first,
// then size and times are taken from the open file (a link or a pipe swapped
// in meanwhile is never read). A source that changed while it was copied is
// copied once more; when it changed again the copy fails, so a copy never
// mixes two versions. *isLink: a link is at src now; nothing was done.
// follow: src is a link to the file, which is opened through it.
FsResult writeFile(const At& src, const At& dst, TmpGuard& tmp, bool& isLink, bool follow = false)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd in(::openat(src.dir, src.name.constData(),
                             O_RDONLY | (follow ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC));
        if (!in.valid()) {
            isLink = errno == ELOOP && !follow;
            return isLink ? FsResult{} : FsResult::fail("open", src.path, errno);
        }
        struct stat fs {};
        if (::fstat(in.get(), &fs) != 0)
            return FsResult::fail("read", src.path, errno);
        if (!S_ISREG(fs.st_mode))
            return notCopyable(src);
        bool changed = false;
        const FsResult r = writeRegular(src, dst, in.get(), fs, tmp, changed);
        if (!r.ok() || !changed)
            return r;
        tmp.discard();
    }
    return sourceChanged(src);
}

// Creates the link (a copy of the source link ss) as a temporary entry.
FsResult writeLink(const At& src, const At& dst, const struct stat& ss, TmpGuard& tmp)
{
    std::vector<char> target(size_t(ss.st_size > 0 ? ss.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
        n = ::readlinkat(src.dir, src.name.constData(), target.data(), target.size());
        if (n < 0)
            return FsResult::fail("read link", src.path, errno);
        if (size_t(n) < target.size())
            break;
        target.resize(target.size() * 2);  // the link grew meanwhile
    }
    target[size_t(n)] = 0;
    for (int tries = 0; tmp.name.isEmpty(); ++tries) {
        const NPath name = tmpNameFor(dst.name);
        if (::symlinkat(target.data(), dst.dir, name.constData()) == 0) {
            tmp.dir = dst.dir;
            tmp.name = name;
        } else if (errno != EEXIST || tries >= 100) {
            return FsResult::fail("create a temporary link for", dst.path, errno);
        }
    }
    const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
    if (::utimensat(dst.dir, tmp.name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail("set times of", dst.path, errno);
    return {};
}

// Writes a copy of src (type: the listing's DT_*, DT_UNKNOWN for "look") as
// a temporary entry beside dst; tmp names it. Every copy of the program
// goes through here. followFileLinks: a link to a regular file is copied as
// that file (only src is followed; dst is written as a new entry).
FsResult writeTemp(const At& src, const At& dst, unsigned char type, TmpGuard& tmp, bool followFileLinks = false)
{
    bool isLink = false;
    if (type == DT_REG) {
        const FsResult r = writeFile(src, dst, tmp, isLink);
        if (!isLink)
            return r;
    }
    struct stat ss {};
    if (::fstatat(src.dir, src.name.constData(), &ss, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail("read", src.path, errno);
    struct stat ts {};
    if (S_ISLNK(ss.st_mode) && followFileLinks && ::fstatat(src.dir, src.name.constData(), &ts, 0) == 0
        && S_ISREG(ts.st_mode))
        return writeFile(src, dst, tmp, isLink, true);
    if (S_ISLNK(ss.st_mode))
        return writeLink(src, dst, ss, tmp);
    if (S_ISDIR(ss.st_mode))
        return FsResult::fail("copy", src.path, EISDIR);
    if (!S_ISREG(ss.st_mode))
        return notCopyable(src);
    if (isLink)  // a file again: swapped back and forth while it was looked at
        return sourceChanged(src);
    const FsResult r = writeFile(src, dst, tmp, isLink);
    return isLink ? sourceChanged(src) : r;
}

// The temporary that goes to dst's place: the copy written ahead when there
// is one, else a copy of src written now into own.
FsResult newTemp(const At& src, const At& dst, unsigned char type, StagedCopy* staged, TmpGuard& own,
                 TmpGuard*& tmp, bool followFileLinks = false)
{
    if (staged && staged->valid()) {
        tmp = &staged->d->tmp;
        return {};
    }
    tmp = &own;
    return writeTemp(src, dst, type, own, followFileLinks);
}

// Copies one non-folder entry; dstMissing skips the look at the destination
// (a folder just made). staged: the copy written ahead, used when valid.
FsResult copyEntry(const At& src, const At& dst, unsigned char type, bool dstMissing, const CopyOptions& opt,
                   StagedCopy* staged = nullptr)
{
    if (!dstMissing) {
        struct stat ds {};
        if (::fstatat(dst.dir, dst.name.constData(), &ds, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(ds.st_mode))
                return FsResult::fail("replace", dst.path, EISDIR);
            if (S_ISREG(ds.st_mode) && opt.refuseReadOnlyTarget && isReadOnly(ds))
                return FsResult::fail(QStringLiteral("cannot replace %1: it is read-only").arg(dst.path));
        }
    }
    TmpGuard own, *tmp = nullptr;
    if (const FsResult r = newTemp(src, dst, type, staged, own, tmp, opt.followFileLinks); !r.ok())
        return r;
    if (::renameat(tmp->dir, tmp->name.constData(), dst.dir, dst.name.constData()) != 0)
        return FsResult::fail("replace", dst.path, errno);
    tmp->release();
    return {};
}

// Creates the folder e with exactly mode (the umask does not apply) and
// opens it. The mode is set on the open folder right after its creation, so
// the folder never holds a mode of another item.
FsResult makeFolder(const At& e, mode_t mode, UniqueFd& fd)
{
    if (::mkdirat(e.dir, e.name.constData(), mode & 07777) != 0)
        return FsResult::fail("create folder", e.path, errno);
    fd = openSubdir(e);
    if (!fd.valid())
        return FsResult::fail("open folder", e.path, errno);
    if (!setExactMode(fd.get(), mode))
        return FsResult::fail("set permissions of", e.path, errno);
    return {};
}

// The mode a copy creates the folder of source mode ss with: the source's
// own, plus the owner's write and search permission while the content goes
// in when the source lacks them (*widened: FolderFinish takes them away).
mode_t fillMode(const struct stat& ss, bool& widened)
{
    const mode_t need = S_IWUSR | S_IXUSR;
    widened = (ss.st_mode & need) != need;
    return (ss.st_mode & 07777) | need;
}

// Opens the folder d that a copy of the source folder ss fills: made anew
// (isNew) with the mode of fillMode, else the folder that is there.
FsResult openFillTarget(const At& d, bool isNew, const struct stat& ss, UniqueFd& fd, bool& widened)
{
    widened = false;
    if (isNew)
        return makeFolder(d, fillMode(ss, widened), fd);
    fd = openSubdir(d);
    return fd.valid() ? FsResult{} : FsResult::fail("open folder", d.path, errno);
}

// Gives a copied folder the source's times, and the source's exact mode
// when it was widened for the copy, when the copy of its content ends,
// however it ends. A folder that was there before keeps its permissions.
struct FolderFinish {
    int fd;
    const struct stat& ss;
    bool widened;
    FsResult finish(const QString& path) const
    {
        if (widened && !setExactMode(fd, ss.st_mode))
            return FsResult::fail("set permissions of", path, errno);
        const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
        if (::futimens(fd, times) != 0)
            return FsResult::fail("set times of", path, errno);
        return {};
    }
};

// The destination folders a copy is filling, innermost first. A source
// folder that is one of them is the copy itself: the destination lies inside
// the folder copied (seen through a mount), and going into it would never end.
struct Filling {
    FsId id;
    const Filling* up = nullptr;
    bool holds(const FsId& x) const
    {
        for (const Filling* f = this; f; f = f->up)
            if (f->id == x)
                return true;
        return false;
    }
};

FsResult copyTreeAt(int sfd, const QString& srcPath, int dfd, const QString& dstPath, bool created,
                    const CopyOptions& opt, QStringList* skipped, const Filling& filling);

// Copies the content of the open source folder sfd (stat ss) into the open
// destination folder dfd (created: by this copy, so empty), then finishes
// dfd (see FolderFinish). up: the folders being filled above dfd.
FsResult copyFolder(int sfd, const struct stat& ss, const QString& srcPath, int dfd, const QString& dstPath,
                    bool created, bool widened, const CopyOptions& opt, QStringList* skipped,
                    const Filling* up = nullptr)
{
    const FolderFinish fin{dfd, ss, widened};
    const Filling here{FsIdOf(dfd), up};
    const FsResult r = copyTreeAt(sfd, srcPath, dfd, dstPath, created, opt, skipped, here);
    const FsResult f = fin.finish(dstPath);
    return r.ok() ? f : r;
}

// Copies the files and links of a folder (files: their entries, typed) from
// sfd into dfd. With a helper, its thread and this one take them in turns,
// so two are written at a time. Stops at the first failure; the failure of
// the earliest entry is returned.
FsResult copyFiles(int sfd, const QString& srcPath, int dfd, const QString& dstPath, bool created,
                   const CopyOptions& opt, const std::vector<const Entry*>& files)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    size_t firstFailed = files.size();
    FsResult first;
    const auto work = [&] {
        for (size_t k = 0; !failed.load() && (k = next.fetch_add(1)) < files.size();) {
            const Entry& e = *files[k];
            const FsResult r = copyEntry(At{sfd, e.name, child(srcPath, e.name)},
                                         At{dfd, e.name, child(dstPath, e.name)}, e.type, created, opt);
            if (!r.ok()) {
                const std::lock_guard g(lock);
                if (k < firstFailed) {
                    firstFailed = k;
                    first = r;
                }
                failed = true;
            }
        }
    };
    constexpr size_t kShareFrom = 4;  // fewer files are not worth the hand-over
    if (opt.ahead && files.size() >= kShareFrom) {
        const long long key = opt.ahead->queue([&work](StagedCopy&) {
            work();
            return false;
        });
        work();
        opt.ahead->take(key);  // waits for the helper's share
    } else {
        work();
    }
    return first;
}

FsResult copyTreeAt(int sfd, const QString& srcPath, int dfd, const QString& dstPath, bool created,
                    const CopyOptions& opt, QStringList* skipped, const Filling& filling)
{
    std::vector<Entry> entries;
    if (!listDirAt(sfd, entries))
        return FsResult::fail("list", srcPath, errno);
    // The files and links first, then the folders, each in name order.
    std::vector<const Entry*> files;
    std::vector<std::pair<const Entry*, struct stat>> folders;
    for (Entry& e : entries) {
        struct stat es {};
        if (e.type == DT_UNKNOWN || e.type == DT_DIR) {
            if (::fstatat(sfd, e.name.constData(), &es, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    continue;  // gone since the listing: nothing to copy
                return FsResult::fail("read", child(srcPath, e.name), errno);
            }
            e.type = S_ISDIR(es.st_mode)   ? DT_DIR
                     : S_ISREG(es.st_mode) ? DT_REG
                     : S_ISLNK(es.st_mode) ? DT_LNK
                                           : DT_FIFO;
        }
        if (e.type != DT_DIR && e.type != DT_REG && e.type != DT_LNK) {
            // A pipe, socket or device: no copy can take it, and opening a
            // pipe would wait for a writer. It is named, not copied.
            if (skipped)
                skipped->append(child(srcPath, e.name));
        } else if (e.type == DT_DIR) {
            folders.emplace_back(&e, es);
        } else if (!isTempName(e.name)  // a temporary file of an earlier run is not data
                   && !(opt.leaveOut && opt.leaveOut(e.name))) {
            files.push_back(&e);
        }
    }
    if (const FsResult r = copyFiles(sfd, srcPath, dfd, dstPath, created, opt, files); !r.ok())
        return r;
    for (const auto& [e, es] : folders) {
        const At s{sfd, e->name, child(srcPath, e->name)};
        const At d{dfd, e->name, child(dstPath, e->name)};
        if (filling.holds({es.st_dev, es.st_ino}))
            return FsResult::fail(
                QStringLiteral("%1 is the copy's own destination: the destination lies inside the folder copied")
                    .arg(s.path));
        bool childNew = created;
        if (!created) {
            struct stat ds {};
            if (::fstatat(dfd, e->name.constData(), &ds, AT_SYMLINK_NOFOLLOW) != 0)
                childNew = true;
            else if (!S_ISDIR(ds.st_mode))
                return FsResult::fail("create folder", d.path, EEXIST);
        }
        UniqueFd cs = openSubdir(s);
        if (!cs.valid())
            return FsResult::fail("open folder", s.path, errno);
        UniqueFd cd;
        bool widened = false;
        FsResult r = openFillTarget(d, childNew, es, cd, widened);
        if (r.ok())
            r = copyFolder(cs.get(), es, s.path, cd.get(), d.path, childNew, widened, opt, skipped, &filling);
        if (!r.ok())
            return r;
    }
    return {};
}

FsResult removeAt(const At& e)
{
    struct stat st {};
    if (::fstatat(e.dir, e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FsResult{} : FsResult::fail("read", e.path, errno);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(e.dir, e.name.constData(), 0) != 0 && errno != ENOENT)
            return FsResult::fail("delete", e.path, errno);
        return {};
    }
    {
        UniqueFd fd = openSubdir(e);
        if (!fd.valid())
            return FsResult::fail("open folder", e.path, errno);
        widenFolder(fd.get(), st);
        std::vector<Entry> entries;
        if (!listDirAt(fd.get(), entries))
            return FsResult::fail("list", e.path, errno);
        for (const Entry& c : entries) {
            const FsResult r = removeAt({fd.get(), c.name, child(e.path, c.name)});
            if (!r.ok())
                return r;
        }
    }
    if (::unlinkat(e.dir, e.name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return FsResult::fail("remove folder", e.path, errno);
    return {};
}

FsResult mergeInto(const At& src, const At& dst);

FsResult moveOne(const At& src, Kind sk, const At& dst)
{
    if (::renameat(src.dir, src.name.constData(), dst.dir, dst.name.constData()) == 0)
        return {};
    const int err = errno;
    // Across file systems (or out of a folder we may not rename) fall back
    // to copy-then-remove: the source is removed only after a complete copy.
    if (err != EXDEV && !(sk == Kind::Dir && (err == EACCES || err == EPERM)))
        return FsResult::fail("move", src.path, err);
    CopyOptions own;
    own.refuseReadOnlyTarget = false;
    QStringList skipped;
    FsResult r = sk == Kind::Dir ? CopyTree(src, dst, own, &skipped) : CopyItem(src, dst, own);
    if (!r.ok())
        return r;
    if (!skipped.isEmpty())  // what could not be copied must not be removed
        return FsResult::fail(QStringLiteral("cannot move %1: it holds special files").arg(src.path));
    return RemoveItem(src);
}

FsResult mergeInto(const At& src, const At& dst)
{
    struct stat st {};
    if (kindOf(src, &st) != Kind::Dir)
        return FsResult::fail("merge", src.path, ENOTDIR);
    {
        UniqueFd sfd = openSubdir(src);
        if (!sfd.valid())
            return FsResult::fail("open folder", src.path, errno);
        UniqueFd dfd = openSubdir(dst);
        if (!dfd.valid())
            return FsResult::fail("open folder", dst.path, errno);
        widenFolder(sfd.get(), st);
        std::vector<Entry> entries;
        if (!listDirAt(sfd.get(), entries))
            return FsResult::fail("list", src.path, errno);
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
        return FsResult::fail("remove folder", src.path, errno);
    return {};
}

} // namespace

FsResult FsResult::fail(const char* step, const QString& path, int err)
{
    return {QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(step), path, SysReason(err, path)), err, path};
}

FsResult FsResult::fail(const QString& text) { return {text, 0, QString()}; }

Kind kindOf(const At& e, struct stat* st)
{
    struct stat local {};
    struct stat& s = st ? *st : local;
    if (::fstatat(e.dir, e.name.constData(), &s, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::None;
    if (S_ISREG(s.st_mode))
        return Kind::File;
    if (S_ISDIR(s.st_mode))
        return Kind::Dir;
    if (S_ISLNK(s.st_mode))
        return Kind::Link;
    return Kind::Other;
}

StagedCopy::StagedCopy() = default;
StagedCopy::~StagedCopy() = default;
StagedCopy::StagedCopy(StagedCopy&&) noexcept = default;
StagedCopy& StagedCopy::operator=(StagedCopy&&) noexcept = default;

bool StageCopy(const At& src, const At& dst, long long maxBytes, UniqueFd hold, StagedCopy& out)
{
    out = StagedCopy();
    auto d = std::make_unique<StagedCopy::Data>();
    d->hold = std::move(hold);
    UniqueFd in(::openat(src.dir, src.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat fs {};
    if (!in.valid() || ::fstat(in.get(), &fs) != 0 || !S_ISREG(fs.st_mode) || fs.st_size > maxBytes)
        return false;
    bool changed = false;
    if (!writeRegular(src, dst, in.get(), fs, d->tmp, changed).ok() || changed)
        return false;  // d's temporary goes with it
    out.d = std::move(d);
    return true;
}

FsResult CopyItem(const At& src, const At& dst, const CopyOptions& opt, StagedCopy* staged)
{
    if (src.name.isEmpty() || dst.name.isEmpty())
        return FsResult::fail("copy", src.path, EINVAL);
    return copyEntry(src, dst, DT_UNKNOWN, false, opt, staged);
}

FsResult ReplaceKeepingOld(const At& src, const At& dst, const At& keep, StagedCopy* staged,
                           const CopyOptions& opt)
{
    struct stat ds {};
    const Kind dk = kindOf(dst, &ds);
    if (dk == Kind::None)
        return FsResult::fail(QStringLiteral("%1 does not exist; there is nothing to back up").arg(dst.path));
    if (dk == Kind::Dir)
        return FsResult::fail(QStringLiteral("%1 is a folder, not a file").arg(dst.path));

    TmpGuard own, *tmp = nullptr;
    FsResult r = newTemp(src, dst, DT_UNKNOWN, staged, own, tmp, opt.followFileLinks);
    if (!r.ok())
        return r;
    fsHook("replace:new-written");

    switch (kindOf(keep)) {
    case Kind::None: break;
    case Kind::Dir: return FsResult::fail(QStringLiteral("backup target %1 is a folder").arg(keep.path));
    default:
        r = removeAt(keep);
        if (!r.ok())
            return r;
    }
    // The old item stays in place while it gets its second name; across file
    // systems it is copied there whole first.
    if (::linkat(dst.dir, dst.name.constData(), keep.dir, keep.name.constData(), 0) != 0) {
        CopyOptions own;
        own.refuseReadOnlyTarget = false;
        r = copyEntry(dst, keep, DT_UNKNOWN, true, own);
        if (!r.ok())
            return r;
    }
    fsHook("replace:old-kept");

    if (::renameat(tmp->dir, tmp->name.constData(), dst.dir, dst.name.constData()) != 0) {
        const int err = errno;
        ::unlinkat(keep.dir, keep.name.constData(), 0);  // dst is unchanged: no backup of it is due
        return FsResult::fail("replace", dst.path, err);
    }
    tmp->release();
    fsHook("replace:done");
    return {};
}

FsResult CopyTree(const At& src, const At& dst, const CopyOptions& opt, QStringList* skipped)
{
    struct stat ss {};
    const Kind sk = kindOf(src, &ss);
    if (sk == Kind::None)
        return FsResult::fail("read", src.path, errno);
    if (sk != Kind::Dir)
        return FsResult::fail("copy folder", src.path, ENOTDIR);
    UniqueFd sfd = openSubdir(src);
    if (!sfd.valid())
        return FsResult::fail("open folder", src.path, errno);
    const Kind dk = kindOf(dst);
    const bool created = dk == Kind::None;
    if (!created && dk != Kind::Dir)
        return FsResult::fail("create folder", dst.path, EEXIST);
    UniqueFd dfd;
    bool widened = false;
    const FsResult r = openFillTarget(dst, created, ss, dfd, widened);
    if (!r.ok())
        return r;
    // Leftovers that stay do not spoil this copy; the run names them when it
    // cleans the folders the comparison saw them in.
    if (!created)
        RemoveTempsIn(dfd.get());
    return copyFolder(sfd.get(), ss, src.path, dfd.get(), dst.path, created, widened, opt, skipped);
}

FsResult RemoveItem(const At& e) { return removeAt(e); }

FsResult MakeDir(const At& e, const struct stat* like)
{
    if (!like) {
        if (::mkdirat(e.dir, e.name.constData(), 0777) != 0)
            return FsResult::fail("create folder", e.path, errno);
        return {};
    }
    UniqueFd fd;
    return makeFolder(e, like->st_mode, fd);
}

FsResult MoveItem(const At& src, const At& dst)
{
    const Kind sk = kindOf(src);
    if (sk == Kind::None)
        return FsResult::fail("move", src.path, ENOENT);
    const Kind dk = kindOf(dst);
    if (sk == Kind::Dir && dk == Kind::Dir)
        return mergeInto(src, dst);
    if (sk == Kind::Dir && dk != Kind::None)
        return FsResult::fail("move folder onto", dst.path, EEXIST);
    if (sk != Kind::Dir && dk == Kind::Dir)
        return FsResult::fail("move onto", dst.path, EISDIR);
    return moveOne(src, sk, dst);
}

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
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
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
