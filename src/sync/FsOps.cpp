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

// Removes the temporary item on scope exit unless it was renamed into place.
struct TmpGuard {
    NPath path;
    ~TmpGuard()
    {
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    void release() { path.clear(); }
};

// Entries of a folder (without "." and ".."), bytewise sorted so that work
// and failures happen in a stable order. Returns false with errno set.
bool listDir(const NPath& dir, std::vector<NPath>& out)
{
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return false;
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        out.emplace_back(n);
        errno = 0;
    }
    const int err = errno;
    ::closedir(d);
    if (err) {
        errno = err;
        return false;
    }
    std::sort(out.begin(), out.end());
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

// A free temporary name beside dst: "." + name + ".velmor~" + 6 random
// characters, the name part shortened so the whole stays within NAME_MAX.
NPath tmpNameFor(const NPath& dst)
{
    static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const qsizetype slash = dst.lastIndexOf('/');
    const NPath dir = slash < 0 ? NPath() : dst.left(slash + 1);
    NPath name = slash < 0 ? dst : dst.mid(slash + 1);
    const size_t fixed = 1 + sizeof(kTmpTag) - 1 + 6;
    if (size_t(name.size()) + fixed > kNameMax)
        name.truncate(qsizetype(kNameMax - fixed));
    NPath tail(6, 'x');
    for (char& c : tail)
        c = chars[QRandomGenerator::global()->bounded(int(sizeof(chars) - 1))];
    return dir + '.' + name + kTmpTag + tail;
}

// Copies all bytes of in to out: copy_file_range (reflink/in-kernel), then
// sendfile, then read/write, whichever the file systems support.
bool copyData(int in, int out)
{
    constexpr size_t chunk = size_t(1) << 30;
    bool first = true;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (n > 0) {
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
    for (;;) {
        const ssize_t n = ::sendfile(out, in, nullptr, chunk);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EINVAL || errno == ENOSYS)
            break;
        return false;
    }
    std::vector<char> buf(size_t(1) << 20);
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += w;
        }
    }
}

FsResult copyRegular(const NPath& src, const struct stat& ss, const NPath& dst, TmpGuard& tmp)
{
    Fd in(::open(src.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.fd < 0)
        return FsResult::fail("open", src, errno);
    struct stat fs {};
    if (::fstat(in.fd, &fs) != 0)
        return FsResult::fail("stat", src, errno);
    if (!S_ISREG(fs.st_mode) || fs.st_ino != ss.st_ino || fs.st_dev != ss.st_dev)
        return FsResult::fail(QStringLiteral("%1 changed while being copied").arg(show(src)));

    int out = -1;
    for (int tries = 0; out < 0 && tries < 100; ++tries) {
        const NPath name = tmpNameFor(dst);
        out = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out >= 0)
            tmp.path = name;
        else if (errno != EEXIST)
            return FsResult::fail("create temporary for", dst, errno);
    }
    if (out < 0)
        return FsResult::fail("create temporary for", dst, EEXIST);
    Fd o(out);
    if (!copyData(in.fd, o.fd))
        return FsResult::fail("copy", src, errno);
    if (::fchmod(o.fd, fs.st_mode & 0777) != 0)
        return FsResult::fail("set permissions of", dst, errno);
    const struct timespec times[2] = {fs.st_atim, fs.st_mtim};
    if (::futimens(o.fd, times) != 0)
        return FsResult::fail("set times of", dst, errno);
    if (o.closeNow() != 0)
        return FsResult::fail("write", dst, errno);
    return {};
}

FsResult copyLink(const NPath& src, const struct stat& ss, const NPath& dst, TmpGuard& tmp)
{
    std::vector<char> target(size_t(ss.st_size > 0 ? ss.st_size : 255) + 1);
    ssize_t n;
    for (;;) {
        n = ::readlink(src.constData(), target.data(), target.size());
        if (n < 0)
            return FsResult::fail("read link", src, errno);
        if (size_t(n) < target.size())
            break;
        target.resize(target.size() * 2);  // the link grew meanwhile
    }
    target[size_t(n)] = 0;
    for (int tries = 0; tmp.path.isEmpty(); ++tries) {
        const NPath name = tmpNameFor(dst);
        if (::symlink(target.data(), name.constData()) == 0)
            tmp.path = name;
        else if (errno != EEXIST || tries >= 100)
            return FsResult::fail("create link temporary for", dst, errno);
    }
    const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
    if (::utimensat(AT_FDCWD, tmp.path.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail("set times of", dst, errno);
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
    struct stat ss {};
    const Kind sk = kindOf(src, &ss);
    if (sk == Kind::None)
        return FsResult::fail("read", src, errno);
    if (sk == Kind::Dir)
        return FsResult::fail("copy", src, EISDIR);
    if (sk == Kind::Other)
        return FsResult::fail(QStringLiteral("cannot copy %1: not a regular file or link").arg(show(src)));

    struct stat ds {};
    const Kind dk = kindOf(dst, &ds);
    if (dk == Kind::Dir)
        return FsResult::fail("replace", dst, EISDIR);
    if (dk == Kind::File && opt.refuseReadOnlyTarget && isReadOnly(ds))
        return FsResult::fail(QStringLiteral("cannot replace %1: it is read-only").arg(show(dst)));

    TmpGuard tmp;
    FsResult r = sk == Kind::Link ? copyLink(src, ss, dst, tmp) : copyRegular(src, ss, dst, tmp);
    if (!r.ok())
        return r;
    if (::rename(tmp.path.constData(), dst.constData()) != 0)
        return FsResult::fail("replace", dst, errno);
    tmp.release();
    return {};
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
        // Owner-writable while we fill it; its own permissions are set at the end.
        if (::mkdir(dst.constData(), 0700) != 0)
            return FsResult::fail("create folder", dst, errno);
    } else if (dk != Kind::Dir) {
        return FsResult::fail("create folder", dst, EEXIST);
    }

    std::vector<NPath> names;
    if (!listDir(src, names))
        return FsResult::fail("list", src, errno);
    for (const NPath& n : names) {
        const NPath s = join(src, n);
        const NPath d = join(dst, n);
        const FsResult r = kindOf(s) == Kind::Dir ? CopyTree(s, d, opt) : CopyItem(s, d, opt);
        if (!r.ok())
            return r;
    }
    if (created && ::chmod(dst.constData(), ss.st_mode & 07777) != 0)
        return FsResult::fail("set permissions of", dst, errno);
    const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
    if (::utimensat(AT_FDCWD, dst.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail("set times of", dst, errno);
    return {};
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
