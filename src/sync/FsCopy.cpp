// Copies of single files and links: the data, the temporary written beside
// the target, copies written ahead, and replacement keeping the old item.
#include "sync/FsInternal.h"

#include "env/SysReason.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace velmor::fsops {

using namespace detail;

// The folder held open for a staged copy (when the stager opened it), the
// temporary (it goes first) and the source as it was read.
struct StagedCopy::Data {
    UniqueFd hold;
    TmpGuard tmp;
    struct stat source {};
};

namespace {

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
// reflink where the file systems share data (*shared: so it was), otherwise
// the data ranges only, so the holes of a sparse file stay holes.
bool copyData(int in, int out, const struct stat& fs, bool& shared)
{
    shared = false;
    const off_t size = fs.st_size;
    if (size == 0)
        return true;
    std::vector<dev_t>& refused = cloneRefused();
    if (std::find(refused.begin(), refused.end(), fs.st_dev) == refused.end()) {
        if (::ioctl(out, FICLONE, in) == 0) {
            shared = true;
            return true;
        }
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
    return FsResult::fail(Why::NotFileOrLink, src.path);
}

FsResult sourceChanged(const At& src)
{
    return FsResult::fail(Why::SourceChanged, src.path);
}

FsResult readBackDiffers(const At& dst)
{
    return FsResult::fail(Why::ReadBackDiffers, dst.path);
}

// Reads up to n bytes at off; fewer only at the end of the file. -1: failed
// (errno tells why). direct: fd reads with O_DIRECT, where a short read is
// the end (reading on from there would not start at a block).
ssize_t readAt(int fd, char* buf, size_t n, off_t off, bool direct = false)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t k = ::pread(fd, buf + got, n - got, off + off_t(got));
        if (k == 0)
            break;
        if (k < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        got += size_t(k);
        if (direct)
            break;
    }
    return ssize_t(got);
}

// Compares size bytes of in (from 0) with what back reads; true when every
// byte is equal and back has nothing after them. direct: back was opened
// with O_DIRECT, so its reads start at multiples of the block and ask for
// whole blocks (the last one returns what is left). *err: the errno of a
// failed read of in (-1 when it was back's).
bool sameBytes(int in, int back, off_t size, bool direct, int& err)
{
    err = 0;
    constexpr size_t kBlock = 4096;
    constexpr off_t kChunk = off_t(1) << 20;
    const size_t chunk = size_t(std::min(size, kChunk));
    const size_t room = (chunk + kBlock) / kBlock * kBlock;  // also holds what may follow
    const std::unique_ptr<char, decltype(&std::free)> a(static_cast<char*>(std::aligned_alloc(kBlock, room)), &std::free);
    const std::unique_ptr<char, decltype(&std::free)> b(static_cast<char*>(std::aligned_alloc(kBlock, room)), &std::free);
    if (!a || !b) {
        err = ENOMEM;
        return false;
    }
    for (off_t at = 0; at < size; at += kChunk) {
        const size_t want = size_t(std::min(size - at, kChunk));
        // Asking for one block more than is left shows whatever follows.
        const size_t ask = direct ? (want + kBlock) / kBlock * kBlock : want;
        const ssize_t na = readAt(in, a.get(), want, at);
        if (na < 0) {
            err = errno;
            return false;
        }
        const ssize_t nb = readAt(back, b.get(), ask, at, direct);
        if (nb < 0) {
            err = -1;
            return false;
        }
        if (na != ssize_t(want) || nb < ssize_t(want) || std::memcmp(a.get(), b.get(), want) != 0)
            return false;
        if (direct && at + kChunk >= size)
            return nb == ssize_t(want);
    }
    // Nothing may follow what was compared.
    char extra;
    const ssize_t more = readAt(back, &extra, 1, size);
    if (more < 0) {
        err = -1;
        return false;
    }
    return more == 0;
}

// Reads the temporary (written through out from in, size bytes) back from
// its volume and compares it with the source, read again, 1 MiB at a time.
// Its data is flushed to the volume first; it is read with O_DIRECT where
// the volume allows, else its pages are dropped from the kernel's cache
// first, so what is read is what the volume holds, not what was handed to
// it. *same: every byte was equal.
FsResult readBack(const At& src, const At& dst, const TmpGuard& tmp, int in, int out, off_t size, bool& same)
{
    same = false;
    // The data goes to the volume's blocks and is waited for; no journal
    // commit or cache flush of the device is asked for (fdatasync would),
    // which makes no difference to what is read back and costs a multiple.
    if (::sync_file_range(out, 0, 0,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
        != 0)
        return FsResult::fail(Why::Write, dst.path, errno);
    // A descriptor of its own to read with (the written one is write-only),
    // of the very file written.
    struct stat ws {};
    if (::fstat(out, &ws) != 0)
        return FsResult::fail(Why::ReadBack, dst.path, errno);
    UniqueFd back;
    const auto open = [&](bool direct) {
        back = UniqueFd(::openat(tmp.dir, tmp.name.constData(),
                                 O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (direct ? O_DIRECT : 0)));
        if (!back.valid())
            return false;
        struct stat rs {};
        if (::fstat(back.get(), &rs) != 0)
            return false;
        if (ws.st_dev != rs.st_dev || ws.st_ino != rs.st_ino) {
            errno = ESTALE;  // its temporary file was replaced
            return false;
        }
        return true;
    };
    // A volume without O_DIRECT says EINVAL.
    bool direct = open(true);
    if (!direct && (errno != EINVAL || !open(false)))
        return FsResult::fail(Why::ReadBack, dst.path, errno);
    for (;;) {
        // The pages are clean after the flush, so they can all be dropped.
        if (!direct)
            if (const int err = ::posix_fadvise(back.get(), 0, 0, POSIX_FADV_DONTNEED); err != 0)
                return FsResult::fail(Why::DropCache, dst.path, err);
        fsHook("copy:verify");
        int err = 0;
        same = sameBytes(in, back.get(), size, direct, err);
        if (err > 0)
            return FsResult::fail(Why::Read, src.path, err);
        if (err == 0)
            return {};
        // A volume that opens with O_DIRECT but asks for another alignment
        // is read through the cache, emptied first.
        if (!direct || errno != EINVAL)
            return FsResult::fail(Why::ReadBack, dst.path, errno);
        direct = false;
        if (!open(false))
            return FsResult::fail(Why::ReadBack, dst.path, errno);
    }
}

// True when fstat shows the same version of a file twice: same size,
// modification and change time (nanoseconds).
bool sameVersion(const struct stat& a, const struct stat& b)
{
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
           && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Writes the regular file (already open as in, described by fs) to a
// temporary entry of dst's folder, with exactly the source's permission bits
// (the umask does not apply), owner and attributes as opt asks. *changed:
// the source was written to meanwhile, so the temporary may hold parts of
// two versions and must not be used. *differs (opt.verify): the temporary
// read back differently from its source, which had not changed; it must
// not be used either.
FsResult writeRegular(const At& src, const At& dst, int in, const struct stat& fs, TmpGuard& tmp, bool& changed,
                      bool& differs, const CopyOptions& opt)
{
    changed = differs = false;
    const mode_t mode = fs.st_mode & 07777;
    UniqueFd o;
    struct stat made {};
    // Until the copy is complete a half-written copy is never a program (no
    // execute or set-ID bit), nor open to anyone the source keeps out: to
    // its owner, and to others only as the source is to everyone (so also
    // to a group that may not be the source's). Where that is the source's
    // mode already, no further round trip sets it.
    const mode_t everyone = mode & (S_IROTH | S_IWOTH);
    const mode_t early = S_IRUSR | S_IWUSR | everyone | (everyone << 3);
    // Marked once it is written (the first write would take a mark away),
    // empty or not: until then it is unmarked and no cleaner takes it.
    FsResult r = createTemp(dst, early, tmp, o, &made);
    if (!r.ok())
        return r;
    bool shared = false;
    if (!copyData(in, o.get(), fs, shared)) {
        // A full volume is the destination's: the reason names it.
        const int err = errno;
        return IsNoSpace(err) ? FsResult::fail(Why::Write, dst.path, err) : FsResult::fail(Why::Copy, src.path, err);
    }
    fsHook("copy:data-written");
    // A reflink shares the source's very blocks: nothing was written that
    // could read back differently.
    if (opt.verify && shared && opt.verified)
        ++opt.verified->shared;
    if (opt.verify && !shared && fs.st_size > 0) {
        bool same = false;
        if (r = readBack(src, dst, tmp, in, o.get(), fs.st_size, same); !r.ok())
            return r;
        if (opt.verified)
            ++opt.verified->readBack;
        if (!same) {
            // A source written to meanwhile explains the difference.
            struct stat now {};
            if (::fstat(in, &now) != 0)
                return FsResult::fail(Why::Read, src.path, errno);
            changed = !sameVersion(fs, now);
            differs = !changed;
            if (differs && opt.verified)
                ++opt.verified->rewritten;
            return {};
        }
    }
    // The new file's owner and mode are still those it was made with, unless
    // an owner or attributes are given now (a new owner takes the set-ID
    // bits, an ACL the group's): looking at it again would be a round trip
    // more per file on a network volume.
    if (r = giveOwnerAndAttrs(in, fs, At{dst.dir, tmp.name, dst.path}, opt, o.get(), &made); !r.ok())
        return r;
    if (!setExactMode(o.get(), mode, modeAsMade(made, fs, opt)))
        return FsResult::fail(Why::SetPermissions, dst.path, errno);
    tmp.times[0] = fs.st_atim;
    tmp.times[1] = fs.st_mtim;
    // Marked now (writing the data took away any mark), or given the source's
    // times where it is put in place at once. Set through the written
    // descriptor before it is closed: a network volume then has its data
    // in by the time it answers, and the close waits for nothing more.
    if (::futimens(o.get(), tmp.placeNow ? tmp.times : kTmpMarkTimes) != 0)
        return FsResult::fail(tmp.placeNow ? Why::SetTimes : Why::MarkTempFile, dst.path, errno);
    if (o.close() != 0)
        return FsResult::fail(Why::Write, dst.path, errno);
    tmp.timesGiven = tmp.placeNow;
    tmp.source = fs;
    struct stat now {};
    if (::fstat(in, &now) != 0)
        return FsResult::fail(Why::Read, src.path, errno);
    changed = !sameVersion(fs, now);
    return {};
}

// Copies the regular file src to a temporary entry beside dst: opened first,
// then size and times are taken from the open file (a link or a pipe swapped
// in meanwhile is never read). A source that changed while it was copied is
// copied once more; when it changed again the copy fails, so a copy never
// mixes two versions. *isLink: a link is at src now; nothing was done.
// follow: src is a link to the file, which is opened through it.
// A copy that reads back differently (opt.verify) is written once more
// too; when that one does as well the copy fails.
FsResult writeFile(const At& src, const At& dst, TmpGuard& tmp, bool& isLink, const CopyOptions& opt,
                   bool follow = false)
{
    int changes = 0, differences = 0;
    for (;;) {
        UniqueFd in(::openat(src.dir, src.name.constData(),
                             O_RDONLY | (follow ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC));
        if (!in.valid()) {
            isLink = errno == ELOOP && !follow;
            return isLink ? FsResult{} : FsResult::fail(Why::Open, src.path, errno);
        }
        struct stat fs {};
        if (::fstat(in.get(), &fs) != 0)
            return FsResult::fail(Why::Read, src.path, errno);
        if (!S_ISREG(fs.st_mode))
            return notCopyable(src);
        bool changed = false, differs = false;
        const FsResult r = writeRegular(src, dst, in.get(), fs, tmp, changed, differs, opt);
        if (!r.ok() || (!changed && !differs))
            return r;
        tmp.discard();
        if (changed && ++changes == 2)
            return sourceChanged(src);
        if (differs && ++differences == 2)
            return readBackDiffers(dst);
    }
}

// Creates the link (a copy of the source link ss) as a temporary entry,
// with the source's owner and attributes as opt asks.
FsResult writeLink(const At& src, const At& dst, const struct stat& ss, TmpGuard& tmp, const CopyOptions& opt)
{
    std::vector<char> target(size_t(ss.st_size > 0 ? ss.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
        n = ::readlinkat(src.dir, src.name.constData(), target.data(), target.size());
        if (n < 0)
            return FsResult::fail(Why::ReadLink, src.path, errno);
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
            return FsResult::fail(Why::CreateTempLink, dst.path, errno);
        }
    }
    tmp.times[0] = ss.st_atim;
    tmp.times[1] = ss.st_mtim;
    if (::utimensat(dst.dir, tmp.name.constData(), tmp.placeNow ? tmp.times : kTmpMarkTimes, AT_SYMLINK_NOFOLLOW)
        != 0)
        return FsResult::fail(tmp.placeNow ? Why::SetTimes : Why::MarkTempLink, dst.path, errno);
    tmp.timesGiven = tmp.placeNow;
    UniqueFd from;
    if (opt.meta) {
        from = UniqueFd(::openat(src.dir, src.name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!from.valid())
            return FsResult::fail(Why::Read, src.path, errno);
    }
    return giveOwnerAndAttrs(from.get(), ss, At{dst.dir, tmp.name, dst.path}, opt);
}

// Writes a copy of src (type: the listing's DT_*, DT_UNKNOWN for "look") as
// a temporary entry beside dst; tmp names it. Every copy of the program
// goes through here. opt.followFileLinks: a link to a regular file is
// copied as that file (only src is followed; dst is written as a new entry).
FsResult writeTemp(const At& src, const At& dst, unsigned char type, TmpGuard& tmp, const CopyOptions& opt)
{
    bool isLink = false;
    if (type == DT_REG) {
        const FsResult r = writeFile(src, dst, tmp, isLink, opt);
        if (!isLink)
            return r;
    }
    struct stat ss {};
    if (::fstatat(src.dir, src.name.constData(), &ss, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail(Why::Read, src.path, errno);
    struct stat ts {};
    if (S_ISLNK(ss.st_mode) && opt.followFileLinks && ::fstatat(src.dir, src.name.constData(), &ts, 0) == 0
        && S_ISREG(ts.st_mode))
        return writeFile(src, dst, tmp, isLink, opt, true);
    if (S_ISLNK(ss.st_mode))
        return writeLink(src, dst, ss, tmp, opt);
    if (S_ISDIR(ss.st_mode))
        return FsResult::fail(Why::Copy, src.path, EISDIR);
    if (!S_ISREG(ss.st_mode))
        return notCopyable(src);
    if (isLink)  // a file again: swapped back and forth while it was looked at
        return sourceChanged(src);
    const FsResult r = writeFile(src, dst, tmp, isLink, opt);
    return isLink ? sourceChanged(src) : r;
}

// Puts the complete temporary in dst's place: it gets its real times (which
// take its mark away) just before it is renamed over dst, and once more
// after where the volume gives a renamed entry the time of the rename.
FsResult putInPlace(TmpGuard& tmp, const At& dst, const CopyOptions& opt)
{
    if (!tmp.timesGiven && ::utimensat(tmp.dir, tmp.name.constData(), tmp.times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail(Why::SetTimes, dst.path, errno);
    if (::renameat(tmp.dir, tmp.name.constData(), dst.dir, dst.name.constData()) != 0)
        return FsResult::fail(Why::Replace, dst.path, errno);
    const struct timespec times[2] = {tmp.times[0], tmp.times[1]};
    tmp.release();
    if (opt.volume && opt.volume->twoSecondTimes
        && ::utimensat(dst.dir, dst.name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail(Why::SetTimes, dst.path, errno);
    return {};
}

// True when src is still the very file of version was (the same device
// and inode, size, modification and change time).
bool isSameFile(const At& src, const struct stat& was)
{
    struct stat now {};
    return ::fstatat(src.dir, src.name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode)
           && now.st_dev == was.st_dev && now.st_ino == was.st_ino && sameVersion(was, now);
}

// Makes the temporary tmp beside dst a second name of the copy this run
// made of src's file earlier, when src is a file of more than one name
// (opt.links) and that copy is still there. *linked: done so; otherwise
// nothing was made and the data is copied.
FsResult linkToCopy(const At& src, const At& dst, const CopyOptions& opt, TmpGuard& tmp, bool& linked)
{
    linked = false;
    if (!opt.links || dst.root < 0)
        return {};
    struct stat ss {};
    // A source that cannot be looked at is copied, and the copy says why.
    if (!IsMultiNamedFile(src.dir, src.name.constData(), opt.followFileLinks, &ss))
        return {};
    HardLinks::Place first;
    if (!opt.links->find(ss.st_dev, ss.st_ino, first))
        return {};
    const qsizetype slash = first.rel.lastIndexOf('/');
    const UniqueFd dir = openBeneath(first.root, slash < 0 ? QByteArrayView() : QByteArrayView(first.rel).first(slash));
    const NPath name = first.rel.mid(slash + 1);
    struct stat cs {}, ds {};
    if (!dir.valid() || ::fstatat(dir.get(), name.constData(), &cs, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(cs.st_mode))
        return {};  // the first copy is gone: this one is copied
    // dst is that copy already: a rename onto it would do nothing.
    if (::fstatat(dst.dir, dst.name.constData(), &ds, AT_SYMLINK_NOFOLLOW) == 0 && ds.st_dev == cs.st_dev
        && ds.st_ino == cs.st_ino)
        return {};
    for (int tries = 0; tmp.name.isEmpty(); ++tries) {
        const NPath t = tmpNameFor(dst.name);
        if (::linkat(dir.get(), name.constData(), dst.dir, t.constData(), 0) == 0) {
            tmp.dir = dst.dir;
            tmp.name = t;
        } else if (errno != EEXIST || tries >= 100) {
            // Another volume, too many names, no hard links there, the copy
            // gone meanwhile: a copy of the data does without.
            return {};
        }
    }
    // Held as a copy's temporary is; a file its owner may not read cannot
    // be opened to hold it, and its mark alone names it then.
    tmp.lock = UniqueFd(::openat(dst.dir, tmp.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (tmp.lock.valid() && ::flock(tmp.lock.get(), LOCK_EX) != 0 && errno != EOPNOTSUPP && errno != ENOLCK)
        return FsResult::fail(Why::LockTempFile, dst.path, errno);
    if (::utimensat(dst.dir, tmp.name.constData(), kTmpMarkTimes, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail(Why::MarkTempFile, dst.path, errno);
    tmp.times[0] = ss.st_atim;
    tmp.times[1] = ss.st_mtim;
    linked = true;
    return {};
}

// Notes where the copy of a multi-named source file went (opt.links), once
// it is in place at dst.
void noteCopy(const struct stat& source, const At& dst, const CopyOptions& opt)
{
    if (opt.links && dst.root >= 0 && S_ISREG(source.st_mode) && source.st_nlink > 1)
        opt.links->put(source.st_dev, source.st_ino, {dst.root, dst.rel});
}

// The temporary that goes to dst's place: a second name of an earlier copy
// of src's file (linkToCopy), else the copy written ahead when there is
// one, else a copy of src written now into own. *fresh: data was copied
// (its source is then in tmp->source). placeNow: the caller renames it into
// place straight after, with nothing slow in between.
FsResult newTemp(const At& src, const At& dst, unsigned char type, StagedCopy* staged, TmpGuard& own,
                 TmpGuard*& tmp, const CopyOptions& opt, bool& fresh, bool placeNow)
{
    tmp = &own;
    fresh = false;
    bool linked = false;
    if (FsResult r = linkToCopy(src, dst, opt, own, linked); !r.ok() || linked) {
        if (staged)
            *staged = StagedCopy();  // not needed: the data is there already
        return r;
    }
    fresh = true;
    if (staged && staged->valid()) {
        if (isSameFile(src, staged->d->source)) {
            tmp = &staged->d->tmp;
            return {};
        }
        // The source was removed, replaced or written to since: the copy
        // ahead is dropped and the copy made as if there had been none.
        *staged = StagedCopy();
    }
    own.placeNow = placeNow;
    return writeTemp(src, dst, type, own, opt);
}

} // namespace

namespace detail {

FsResult copyEntry(const At& src, const At& dst, unsigned char type, bool dstMissing, const CopyOptions& opt,
                   StagedCopy* staged, long long* wrote)
{
    if (!dstMissing) {
        struct stat ds {};
        if (::fstatat(dst.dir, dst.name.constData(), &ds, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(ds.st_mode))
                return FsResult::fail(Why::Replace, dst.path, EISDIR);
            if (S_ISREG(ds.st_mode) && opt.refuseReadOnlyTarget && isReadOnly(ds))
                return FsResult::fail(Why::ReadOnlyTarget, dst.path);
        }
    }
    TmpGuard own, *tmp = nullptr;
    bool fresh = false;
    if (const FsResult r = newTemp(src, dst, type, staged, own, tmp, opt, fresh, true); !r.ok())
        return r;
    const struct stat source = tmp->source;
    if (const FsResult r = putInPlace(*tmp, dst, opt); !r.ok())
        return r;
    if (fresh)
        noteCopy(source, dst, opt);
    if (wrote)
        *wrote = fresh && S_ISREG(source.st_mode) ? static_cast<long long>(source.st_size) : 0;
    return {};
}

} // namespace detail

StagedCopy::StagedCopy() = default;
StagedCopy::~StagedCopy() = default;
StagedCopy::StagedCopy(StagedCopy&&) noexcept = default;
StagedCopy& StagedCopy::operator=(StagedCopy&&) noexcept = default;

bool StageCopy(const At& src, const At& dst, long long maxBytes, UniqueFd hold, StagedCopy& out,
               const CopyOptions& opt)
{
    out = StagedCopy();
    auto d = std::make_unique<StagedCopy::Data>();
    d->hold = std::move(hold);
    UniqueFd in(::openat(src.dir, src.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat fs {};
    if (!in.valid() || ::fstat(in.get(), &fs) != 0 || !S_ISREG(fs.st_mode) || fs.st_size > maxBytes)
        return false;
    bool changed = false, differs = false;
    // A copy that read back differently is made again at its turn.
    if (!writeRegular(src, dst, in.get(), fs, d->tmp, changed, differs, opt).ok() || changed || differs)
        return false;  // d's temporary goes with it
    d->source = fs;
    out.d = std::move(d);
    return true;
}

bool IsMultiNamedFile(int dir, const char* name, bool follow, struct stat* st)
{
    struct stat own {};
    struct stat& s = st ? *st : own;
    return ::fstatat(dir, name, &s, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(s.st_mode) && s.st_nlink > 1;
}

FsResult CopyItem(const At& src, const At& dst, const CopyOptions& opt, StagedCopy* staged)
{
    if (src.name.isEmpty() || dst.name.isEmpty())
        return FsResult::fail(Why::Copy, src.path, EINVAL);
    return copyEntry(src, dst, DT_UNKNOWN, false, opt, staged);
}

FsResult ReplaceKeepingOld(const At& src, const At& dst, const At& keep, StagedCopy* staged,
                           const CopyOptions& opt)
{
    struct stat ds {};
    const Kind dk = kindOf(dst, &ds);
    if (dk == Kind::None)
        return FsResult::fail(Why::NothingToBackUp, dst.path);
    if (dk == Kind::Dir)
        return FsResult::fail(Why::FolderNotFile, dst.path);

    TmpGuard own, *tmp = nullptr;
    bool fresh = false;
    // The old item is kept before the new one goes in, which may take long
    // (a copy to another volume): the new one waits marked.
    FsResult r = newTemp(src, dst, DT_UNKNOWN, staged, own, tmp, opt, fresh, false);
    if (!r.ok())
        return r;
    const struct stat source = tmp->source;
    fsHook("replace:new-written");

    switch (kindOf(keep)) {
    case Kind::None: break;
    case Kind::Dir: return FsResult::fail(Why::BackupIsFolder, keep.path);
    default:
        r = RemoveItem(keep);
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

    if (r = putInPlace(*tmp, dst, opt); !r.ok()) {
        ::unlinkat(keep.dir, keep.name.constData(), 0);  // dst is unchanged: no backup of it is due
        return r;
    }
    if (fresh)
        noteCopy(source, dst, opt);
    fsHook("replace:done");
    return {};
}

} // namespace velmor::fsops
