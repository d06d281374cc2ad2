#include "sync/FsOps.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace velmor::fsops {

namespace {

constexpr size_t kNameMax = 255;          // bytes in one name (NAME_MAX)
constexpr const char kTmpTag[] = ".velmor~";

QString show(const NPath& p) { return QString::fromUtf8(p); }

// Closes a file descriptor on scope exit.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Closes now and reports the close error (data may be lost on close).
    int closeNow()
    {
        const int r = ::close(fd);
        fd = -1;
        return r;
    }
};

// Removes the temporary entry on scope exit unless it was renamed into place.
struct TmpGuard {
    int dir = -1;
    NPath name;
    ~TmpGuard()
    {
        if (!name.isEmpty())
            ::unlinkat(dir, name.constData(), 0);
    }
    void release() { name.clear(); }
};

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

// Entries of a folder given by path (see listDirAt).
bool listDir(const NPath& dir, std::vector<NPath>& out)
{
    Fd d(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (d.fd < 0)
        return false;
    std::vector<Entry> entries;
    if (!listDirAt(d.fd, entries))
        return false;
    for (Entry& e : entries)
        out.push_back(std::move(e.name));
    return true;
}

// Lets the owner read, write and enter a folder so that its entries can be
// removed or moved out (a no-op when it already may). Failure is left to the
// following operation to report.
void widenFolder(const NPath& dir, const struct stat& st)
{
    const mode_t need = S_IRUSR | S_IWUSR | S_IXUSR;
    if ((st.st_mode & need) != need)
        ::chmod(dir.constData(), (st.st_mode & 07777) | need);
}

// The process's umask, read without changing it; all bits when unknown (so
// that permissions are always set explicitly).
mode_t currentUmask()
{
    static const mode_t mask = [] {
        FILE* f = std::fopen("/proc/self/status", "re");
        mode_t m = 07777;
        if (f) {
            char line[256];
            while (std::fgets(line, sizeof line, f)) {
                unsigned v = 0;
                if (std::sscanf(line, "Umask: %o", &v) == 1) {
                    m = mode_t(v);
                    break;
                }
            }
            std::fclose(f);
        }
        return m;
    }();
    return mask;
}

// A temporary name beside an entry: "." + name + ".velmor~" + 6 random
// characters, the name part shortened so the whole stays within NAME_MAX.
// entry may be a bare name or a path (the folder part is kept).
NPath tmpNameFor(const NPath& entry)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const qsizetype slash = entry.lastIndexOf('/');
    NPath base = entry.mid(slash + 1);
    const size_t fixed = 1 + sizeof(kTmpTag) - 1 + 6;
    if (size_t(base.size()) + fixed > kNameMax)
        base.truncate(qsizetype(kNameMax - fixed));
    NPath tail(6, 'x');
    for (char& c : tail)
        c = chars[QRandomGenerator::global()->bounded(int(sizeof(chars) - 1))];
    return entry.left(slash + 1) + '.' + base + kTmpTag + tail;
}

// Copies size bytes (fewer when the file shrinks meanwhile) of in to out:
// copy_file_range (in-kernel, reflinks where possible), then sendfile, then
// read/write, whichever the file systems support.
bool copyData(int in, int out, off_t size)
{
    constexpr size_t chunk = size_t(1) << 30;
    off_t done = 0;
    bool first = true;
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::min<size_t>(chunk, size_t(size - done)), 0);
        if (n > 0) {
            done += n;
            first = false;
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (first && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
                      || errno == EBADF))
            break;
        return false;
    }
    while (done < size) {
        const ssize_t n = ::sendfile(out, in, nullptr, std::min<size_t>(chunk, size_t(size - done)));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EINVAL || errno == ENOSYS)
            break;
        return false;
    }
    if (done >= size)
        return true;
    std::vector<char> buf(size_t(1) << 20);
    while (done < size) {
        const ssize_t n = ::read(in, buf.data(), std::min(buf.size(), size_t(size - done)));
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t w = 0; w < n;) {
            const ssize_t k = ::write(out, buf.data() + w, size_t(n - w));
            if (k < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            w += k;
        }
        done += n;
    }
    return true;
}

// One entry being copied: folder fds, the entry's name and, for messages,
// the full paths of both sides.
struct CopyJob {
    int sdir;
    int ddir;
    const NPath& sname;  // entry name in sdir
    const NPath& dname;  // entry name in ddir
    const NPath& srcPath;
    const NPath& dstPath;
};

// Writes the regular file (already open as in, described by fs) to a
// temporary entry of the destination folder.
FsResult writeRegular(const CopyJob& j, int in, const struct stat& fs, TmpGuard& tmp)
{
    const mode_t mode = fs.st_mode & 0777;
    int out = -1;
    for (int tries = 0; out < 0; ++tries) {
        const NPath name = tmpNameFor(j.dname);
        out = ::openat(j.ddir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (out >= 0) {
            tmp.dir = j.ddir;
            tmp.name = name;
        } else if (errno != EEXIST || tries >= 100) {
            return FsResult::fail("create a temporary file for", j.dstPath, errno);
        }
    }
    Fd o(out);
    if (!copyData(in, o.fd, fs.st_size))
        return FsResult::fail("copy", j.srcPath, errno);
    if ((mode & ~currentUmask()) != mode && ::fchmod(o.fd, mode) != 0)
        return FsResult::fail("set permissions of", j.dstPath, errno);
    const struct timespec times[2] = {fs.st_atim, fs.st_mtim};
    if (::futimens(o.fd, times) != 0)
        return FsResult::fail("set times of", j.dstPath, errno);
    if (o.closeNow() != 0)
        return FsResult::fail("write", j.dstPath, errno);
    return {};
}

// Creates the link (a copy of the source link ss) as a temporary entry.
FsResult writeLink(const CopyJob& j, const struct stat& ss, TmpGuard& tmp)
{
    std::vector<char> target(size_t(ss.st_size > 0 ? ss.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
        n = ::readlinkat(j.sdir, j.sname.constData(), target.data(), target.size());
        if (n < 0)
            return FsResult::fail("read link", j.srcPath, errno);
        if (size_t(n) < target.size())
            break;
        target.resize(target.size() * 2);  // the link grew meanwhile
    }
    target[size_t(n)] = 0;
    for (int tries = 0; tmp.name.isEmpty(); ++tries) {
        const NPath name = tmpNameFor(j.dname);
        if (::symlinkat(target.data(), j.ddir, name.constData()) == 0) {
            tmp.dir = j.ddir;
            tmp.name = name;
        } else if (errno != EEXIST || tries >= 100) {
            return FsResult::fail("create a temporary link for", j.dstPath, errno);
        }
    }
    const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
    if (::utimensat(j.ddir, tmp.name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail("set times of", j.dstPath, errno);
    return {};
}

// Copies one non-folder entry. type is the listing's DT_* (DT_UNKNOWN for
// "look"); dstMissing skips the look at the destination (a folder just made).
FsResult copyEntryAt(const CopyJob& j, unsigned char type, bool dstMissing, const CopyOptions& opt)
{
    if (!dstMissing) {
        struct stat ds {};
        if (::fstatat(j.ddir, j.dname.constData(), &ds, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(ds.st_mode))
                return FsResult::fail("replace", j.dstPath, EISDIR);
            if (S_ISREG(ds.st_mode) && opt.refuseReadOnlyTarget && isReadOnly(ds))
                return FsResult::fail(QStringLiteral("cannot replace %1: it is read-only").arg(show(j.dstPath)));
        }
    }
    TmpGuard tmp;
    FsResult r;
    if (type == DT_REG) {
        // The common case: open first, then learn size and times from the
        // open file (a link swapped in meanwhile makes the open fail).
        Fd in(::openat(j.sdir, j.sname.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (in.fd < 0 && errno != ELOOP)
            return FsResult::fail("open", j.srcPath, errno);
        if (in.fd >= 0) {
            struct stat fs {};
            if (::fstat(in.fd, &fs) != 0)
                return FsResult::fail("read", j.srcPath, errno);
            if (!S_ISREG(fs.st_mode))
                return FsResult::fail(QStringLiteral("cannot copy %1: not a regular file or link").arg(show(j.srcPath)));
            r = writeRegular(j, in.fd, fs, tmp);
        } else {
            type = DT_UNKNOWN;
        }
    }
    if (type != DT_REG) {
        struct stat ss {};
        if (::fstatat(j.sdir, j.sname.constData(), &ss, AT_SYMLINK_NOFOLLOW) != 0)
            return FsResult::fail("read", j.srcPath, errno);
        if (S_ISDIR(ss.st_mode))
            return FsResult::fail("copy", j.srcPath, EISDIR);
        if (S_ISLNK(ss.st_mode)) {
            r = writeLink(j, ss, tmp);
        } else if (S_ISREG(ss.st_mode)) {
            return copyEntryAt(j, DT_REG, dstMissing, opt);
        } else {
            return FsResult::fail(QStringLiteral("cannot copy %1: not a regular file or link").arg(show(j.srcPath)));
        }
    }
    if (!r.ok())
        return r;
    if (::renameat(j.ddir, tmp.name.constData(), j.ddir, j.dname.constData()) != 0)
        return FsResult::fail("replace", j.dstPath, errno);
    tmp.release();
    return {};
}

// True when the regular destination entry matches the source's size,
// permission bits and modification time.
bool sameFileAt(int sdir, int ddir, const NPath& name)
{
    struct stat ss {}, ds {};
    return ::fstatat(sdir, name.constData(), &ss, AT_SYMLINK_NOFOLLOW) == 0
           && ::fstatat(ddir, name.constData(), &ds, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(ss.st_mode)
           && S_ISREG(ds.st_mode) && ss.st_size == ds.st_size && (ss.st_mode & 0777) == (ds.st_mode & 07777)
           && ss.st_mtim.tv_sec == ds.st_mtim.tv_sec && ss.st_mtim.tv_nsec == ds.st_mtim.tv_nsec;
}

// Copies the content of the open source folder sfd (stat ss) into the open
// destination folder dfd, created says dfd was just made (empty).
FsResult copyTreeAt(int sfd, const struct stat& ss, int dfd, bool created, const CopyOptions& opt,
                    const NPath& srcPath, const NPath& dstPath)
{
    std::vector<Entry> entries;
    if (!listDirAt(sfd, entries))
        return FsResult::fail("list", srcPath, errno);
    for (const Entry& e : entries) {
        const NPath s = join(srcPath, e.name);
        const NPath d = join(dstPath, e.name);
        unsigned char type = e.type;
        struct stat es {};
        if (type == DT_UNKNOWN || type == DT_DIR) {
            if (::fstatat(sfd, e.name.constData(), &es, AT_SYMLINK_NOFOLLOW) != 0)
                return FsResult::fail("read", s, errno);
            type = S_ISDIR(es.st_mode) ? DT_DIR : S_ISREG(es.st_mode) ? DT_REG : S_ISLNK(es.st_mode) ? DT_LNK : DT_UNKNOWN;
            if (type == DT_UNKNOWN)
                return FsResult::fail(QStringLiteral("cannot copy %1: not a regular file or link").arg(show(s)));
        }
        if (type != DT_DIR) {
            if (opt.skipUnchanged && !created && type == DT_REG && sameFileAt(sfd, dfd, e.name))
                continue;
            const FsResult r = copyEntryAt(CopyJob{sfd, dfd, e.name, e.name, s, d}, type, created, opt);
            if (!r.ok())
                return r;
            continue;
        }
        bool childNew = created;
        if (!created) {
            struct stat ds {};
            if (::fstatat(dfd, e.name.constData(), &ds, AT_SYMLINK_NOFOLLOW) != 0)
                childNew = true;
            else if (!S_ISDIR(ds.st_mode))
                return FsResult::fail("create folder", d, EEXIST);
        }
        // Owner-writable while we fill it; its own permissions are set at the end.
        if (childNew && ::mkdirat(dfd, e.name.constData(), 0700) != 0)
            return FsResult::fail("create folder", d, errno);
        Fd cs(::openat(sfd, e.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (cs.fd < 0)
            return FsResult::fail("open folder", s, errno);
        Fd cd(::openat(dfd, e.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (cd.fd < 0)
            return FsResult::fail("open folder", d, errno);
        const FsResult r = copyTreeAt(cs.fd, es, cd.fd, childNew, opt, s, d);
        if (!r.ok())
            return r;
    }
    if (created && ::fchmod(dfd, ss.st_mode & 07777) != 0)
        return FsResult::fail("set permissions of", dstPath, errno);
    const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
    if (::futimens(dfd, times) != 0)
        return FsResult::fail("set times of", dstPath, errno);
    return {};
}

FsResult mergeInto(const NPath& src, const NPath& dst);

FsResult moveOne(const NPath& src, Kind sk, const NPath& dst)
{
    if (::rename(src.constData(), dst.constData()) == 0)
        return {};
    const int err = errno;
    // Across file systems (or out of a folder we may not rename) fall back
    // to copy-then-remove: the source is removed only after a complete copy.
    if (err != EXDEV && !(sk == Kind::Dir && (err == EACCES || err == EPERM)))
        return FsResult::fail("move", src, err);
    CopyOptions own;
    own.refuseReadOnlyTarget = false;
    FsResult r = sk == Kind::Dir ? CopyTree(src, dst, own) : CopyItem(src, dst, own);
    if (!r.ok())
        return r;
    return RemoveItem(src);
}

FsResult mergeInto(const NPath& src, const NPath& dst)
{
    struct stat st {};
    if (kindOf(src, &st) != Kind::Dir)
        return FsResult::fail("merge", src, ENOTDIR);
    widenFolder(src, st);
    std::vector<NPath> names;
    if (!listDir(src, names))
        return FsResult::fail("list", src, errno);
    for (const NPath& n : names) {
        const NPath s = join(src, n);
        const NPath d = join(dst, n);
        const Kind sk = kindOf(s);
        const Kind dk = kindOf(d);
        FsResult r;
        if (sk == Kind::Dir && dk == Kind::Dir) {
            r = mergeInto(s, d);
        } else {
            // A folder never silently becomes a file or the reverse: the
            // entry of dst is cleared first, then src's entry takes its place.
            if (dk != Kind::None && (sk == Kind::Dir || dk == Kind::Dir))
                r = RemoveItem(d);
            if (r.ok())
                r = moveOne(s, sk, d);
        }
        if (!r.ok())
            return r;
    }
    if (::rmdir(src.constData()) != 0)
        return FsResult::fail("remove folder", src, errno);
    return {};
}

} // namespace

NPath native(const QString& path) { return QFile::encodeName(path); }

NPath join(const NPath& dir, const NPath& name)
{
    if (dir.endsWith('/'))
        return dir + name;
    return dir + '/' + name;
}

NPath parentOf(const NPath& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return NPath(".");
    if (slash == 0)
        return NPath("/");
    return path.left(slash);
}

FsResult FsResult::fail(const char* step, const NPath& path, int err)
{
    return {QStringLiteral("cannot %1 %2: %3")
                .arg(QLatin1String(step), show(path), QString::fromLocal8Bit(std::strerror(err)))};
}

FsResult FsResult::fail(const QString& text) { return {text}; }

Kind kindOf(const NPath& path, struct stat* st)
{
    struct stat local {};
    struct stat& s = st ? *st : local;
    if (::lstat(path.constData(), &s) != 0)
        return Kind::None;
    if (S_ISREG(s.st_mode))
        return Kind::File;
    if (S_ISDIR(s.st_mode))
        return Kind::Dir;
    if (S_ISLNK(s.st_mode))
        return Kind::Link;
    return Kind::Other;
}

FsResult CopyItem(const NPath& src, const NPath& dst, const CopyOptions& opt)
{
    if (src.isEmpty() || dst.isEmpty() || src.endsWith('/') || dst.endsWith('/'))
        return FsResult::fail("copy", src, EINVAL);
    // Whole paths relative to the working directory: the temporary entry is
    // made beside dst all the same.
    return copyEntryAt(CopyJob{AT_FDCWD, AT_FDCWD, src, dst, src, dst}, DT_UNKNOWN, false, opt);
}

FsResult CopyTree(const NPath& src, const NPath& dst, const CopyOptions& opt)
{
    struct stat ss {};
    const Kind sk = kindOf(src, &ss);
    if (sk == Kind::None)
        return FsResult::fail("read", src, errno);
    if (sk != Kind::Dir)
        return FsResult::fail("copy folder", src, ENOTDIR);
    const Kind dk = kindOf(dst);
    const bool created = dk == Kind::None;
    if (created) {
        if (::mkdir(dst.constData(), 0700) != 0)
            return FsResult::fail("create folder", dst, errno);
    } else if (dk != Kind::Dir) {
        return FsResult::fail("create folder", dst, EEXIST);
    }
    Fd sfd(::open(src.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sfd.fd < 0)
        return FsResult::fail("open folder", src, errno);
    Fd dfd(::open(dst.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dfd.fd < 0)
        return FsResult::fail("open folder", dst, errno);
    return copyTreeAt(sfd.fd, ss, dfd.fd, created, opt, src, dst);
}

FsResult RemoveItem(const NPath& path)
{
    struct stat st {};
    const Kind k = kindOf(path, &st);
    if (k == Kind::None)
        return errno == ENOENT ? FsResult{} : FsResult::fail("read", path, errno);
    if (k != Kind::Dir) {
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            return FsResult::fail("delete", path, errno);
        return {};
    }
    widenFolder(path, st);
    std::vector<NPath> names;
    if (!listDir(path, names))
        return FsResult::fail("list", path, errno);
    for (const NPath& n : names) {
        const FsResult r = RemoveItem(join(path, n));
        if (!r.ok())
            return r;
    }
    if (::rmdir(path.constData()) != 0 && errno != ENOENT)
        return FsResult::fail("remove folder", path, errno);
    return {};
}

int RemoveFilesIn(const NPath& dir)
{
    std::vector<NPath> names;
    if (kindOf(dir) != Kind::Dir || !listDir(dir, names))
        return 0;
    int left = 0;
    for (const NPath& n : names) {
        const NPath p = join(dir, n);
        const Kind k = kindOf(p);
        if (k == Kind::Dir || k == Kind::None)
            continue;
        if (::unlink(p.constData()) != 0)
            ++left;
    }
    return left;
}

FsResult MakeDir(const NPath& path)
{
    if (::mkdir(path.constData(), 0777) != 0)
        return FsResult::fail("create folder", path, errno);
    return {};
}

FsResult MoveItem(const NPath& src, const NPath& dst)
{
    const Kind sk = kindOf(src);
    if (sk == Kind::None)
        return FsResult::fail("move", src, ENOENT);
    const Kind dk = kindOf(dst);
    if (sk == Kind::Dir && dk == Kind::Dir)
        return mergeInto(src, dst);
    if (sk == Kind::Dir && dk != Kind::None)
        return FsResult::fail("move folder onto", dst, EEXIST);
    if (sk != Kind::Dir && dk == Kind::Dir)
        return FsResult::fail("move onto", dst, EISDIR);
    return moveOne(src, sk, dst);
}

} // namespace velmor::fsops
