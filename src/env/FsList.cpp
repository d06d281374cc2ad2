#include "env/FsList.h"

#include "env/FsDir.h"
#include "env/Reasons.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmor {

namespace {

[[noreturn]] void raise(const QString& path, int err)
{
    throw FsError(WhyText(Why::PathError, path, err).toStdString());
}

bool wanted(FsKind kind, mode_t m)
{
    if (kind == FsKind::Folders)
        return S_ISDIR(m);
    return S_ISREG(m) || S_ISLNK(m);
}

// Skips the lstat of entries whose type the listing already rules out
// (special files are looked at when their names are wanted).
bool mayWant(FsKind kind, unsigned char type, bool wantSpecial)
{
    switch (type) {
    case DT_UNKNOWN: return true;
    case DT_DIR: return kind == FsKind::Folders;
    case DT_REG:
    case DT_LNK: return kind == FsKind::Files;
    default: return kind == FsKind::Files && wantSpecial;
    }
}

long long nsOf(const struct stat& st)
{
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// The entry name as st describes it.
FsEntry entryOf(const QString& name, const struct stat& st)
{
    return {name, static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec), nsOf(st),
            long(st.st_mtim.tv_nsec), st.st_mode, st.st_dev, st.st_ino, st.st_uid, st.st_gid, st.st_nlink};
}

} // namespace

bool FsEntry::isDir() const { return S_ISDIR(mode); }

// Trusted when the link count of every folder on the file system is two plus
// its subfolders (one on ext4 past 65,000 of them). Other file systems
// (btrfs, overlays, network and FUSE mounts) are never trusted with it.
FsLinkCounts FsLinkCountsOf(int fd)
{
    struct statfs fs;
    struct stat st;
    if (fstatfs(fd, &fs) != 0 || fstat(fd, &st) != 0)
        return {};
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case TMPFS_MAGIC: return {st.st_dev, true};
    default: return {st.st_dev, false};
    }
}

bool nameLess(const QString& a, const QString& b)
{
    // Names in ASCII (the usual case) are ordered here with the same result
    // as the general comparison below: for ASCII, ignoring case is folding
    // A-Z to a-z, and both comparisons go code unit by code unit.
    const char16_t* pa = reinterpret_cast<const char16_t*>(a.constData());
    const char16_t* pb = reinterpret_cast<const char16_t*>(b.constData());
    const qsizetype n = std::min(a.size(), b.size());
    int firstDiff = 0;  // the first code unit that differs, ignoring nothing
    bool ascii = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ca = pa[i], cb = pb[i];
        if (ca >= 0x80 || cb >= 0x80) {
            ascii = false;
            break;
        }
        if (ca == cb)
            continue;
        const char16_t la = ca >= u'A' && ca <= u'Z' ? char16_t(ca + 32) : ca;
        const char16_t lb = cb >= u'A' && cb <= u'Z' ? char16_t(cb + 32) : cb;
        if (la != lb)
            return la < lb;
        if (firstDiff == 0)
            firstDiff = ca < cb ? -1 : 1;
    }
    if (ascii) {
        if (a.size() != b.size())
            return a.size() < b.size();
        return firstDiff < 0;
    }
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

std::vector<FsEntry> FsListAt(int dirFd, const QString& folder, FsKind kind, FsLeftOut* left,
                              const FsLinkCounts* counts)
{
    // The folder is read from its start through dirFd itself, with a buffer
    // of this thread's that every listing reuses.
    if (::lseek(dirFd, 0, SEEK_SET) < 0)
        raise(folder, errno);
    thread_local std::vector<char> buffer(64 * 1024);
    FsLinkCounts asked;
    if (kind == FsKind::Folders && !counts) {
        asked = FsLinkCountsOf(dirFd);
        counts = &asked;
    }
    const bool links = kind == FsKind::Folders && counts->trusted;
    const dev_t dirDev = links ? counts->dev : 0;
    std::vector<FsEntry> out;
    out.reserve(32);
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dirFd, buffer.data(), buffer.size());
        if (got < 0)
            raise(folder, errno);
        if (got == 0)
            break;
        for (long at = 0; at < got;) {
            const auto* e = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
            at += e->d_reclen;
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                continue;
            if (!mayWant(kind, e->d_type, left != nullptr)) {
                if (left && kind == FsKind::Folders && (e->d_type == DT_REG || e->d_type == DT_LNK))
                    ++left->files;
                continue;
            }
            struct stat st;
            if (fstatat(dirFd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    continue;  // vanished since the listing: it is not there
                raise(folder + QLatin1Char('/') + nameText(n), errno);
            }
            if (kind == FsKind::Files && isOwnTemp(n, st)) {
                if (left)
                    left->temps = true;
                continue;
            }
            if (!wanted(kind, st.st_mode)) {
                if (left && kind == FsKind::Files && !S_ISDIR(st.st_mode))
                    left->special.append(nameText(n));
                else if (left && kind == FsKind::Folders && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
                    ++left->files;
                continue;
            }
            out.push_back(entryOf(nameText(n), st));
            out.back().noSubfolders = links && S_ISDIR(st.st_mode) && st.st_dev == dirDev && st.st_nlink == 2;
        }
    }
    // Sorted through pointers, then moved once into place.
    std::vector<FsEntry*> order(out.size());
    for (size_t i = 0; i < out.size(); ++i)
        order[i] = &out[i];
    std::sort(order.begin(), order.end(), [](const FsEntry* a, const FsEntry* b) { return nameLess(a->name, b->name); });
    std::vector<FsEntry> sorted;
    sorted.reserve(out.size());
    for (FsEntry* e : order)
        sorted.push_back(std::move(*e));
    return sorted;
}

std::vector<FsEntry> FsList(const QString& folder, FsKind kind, FsLeftOut* left)
{
    const UniqueFd fd = openDirPath(nameBytes(folder), true);
    if (!fd.valid())
        raise(folder, errno);
    return FsListAt(fd.get(), folder, kind, left);
}

FsEntry FsStatAt(int dirFd, const QString& name, const QString& path)
{
    struct stat st;
    if (fstatat(dirFd, nameBytes(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        raise(path, errno);
    return entryOf(name, st);
}

void FollowFileLinks(int dirFd, std::vector<FsEntry>& files)
{
    for (FsEntry& e : files) {
        struct stat st;
        if (!S_ISLNK(e.mode) || fstatat(dirFd, nameBytes(e.name).constData(), &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        e = entryOf(e.name, st);
    }
}

FsEntry FsStat(const QString& path)
{
    QByteArray last;
    const UniqueFd parent = openParentOf(nameBytes(path), last);
    if (!parent.valid())
        raise(path, errno);
    return FsStatAt(parent.get(), nameText(last), path);
}

bool FsIsDir(const QString& path, bool followLink)
{
    if (path.isEmpty())
        return false;
    const QByteArray p = nameBytes(path);
    struct stat st;
    if (p.size() < PATH_MAX) {
        const int rc = followLink ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st);
        return rc == 0 && S_ISDIR(st.st_mode);
    }
    return openDirPath(p, followLink).valid();
}

FsId FsIdOf(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return {};
    return {st.st_dev, st.st_ino};
}

namespace {

// The name under which the folder with identity id is listed in the open
// folder parent; a null text when none is. A mount point's entry shows the
// mounted folder, as the walk up through ".." does.
QString nameIn(int parent, const FsId& id)
{
    const int dup = ::fcntl(parent, F_DUPFD_CLOEXEC, 0);
    if (dup < 0)
        return {};
    DIR* d = ::fdopendir(dup);
    if (!d) {
        ::close(dup);
        return {};
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> guard(d, ::closedir);
    ::rewinddir(d);
    while (const dirent* e = ::readdir(d)) {
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)
            continue;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        struct stat st;
        if (::fstatat(parent, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == id.dev
            && st.st_ino == id.ino)
            return nameText(QByteArrayView(e->d_name, qsizetype(std::strlen(e->d_name))));
    }
    return {};
}

} // namespace

QString FsBelowAt(int inner, const FsId& outer, bool withNames)
{
    if (!outer.valid())
        return {};
    FsId cur = FsIdOf(inner);
    if (!cur.valid())
        return {};
    QStringList names;  // innermost first
    UniqueFd level(::fcntl(inner, F_DUPFD_CLOEXEC, 0));
    while (level.valid()) {
        if (cur == outer) {
            std::reverse(names.begin(), names.end());
            return names.isEmpty() ? QStringLiteral("") : names.join(QLatin1Char('/'));
        }
        UniqueFd parent(::openat(level.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parent.valid())
            return {};
        const FsId up = FsIdOf(parent.get());
        if (!up.valid() || up == cur)
            return {};  // the file-system root: outer was not on the way
        if (withNames) {
            const QString name = nameIn(parent.get(), cur);
            if (name.isNull())
                return {};
            names.append(name);
        }
        cur = up;
        level = std::move(parent);
    }
    return {};
}

bool FsOverlap(const QString& a, const QString& b)
{
    const UniqueFd fa = openDirPath(nameBytes(a), true);
    const UniqueFd fb = openDirPath(nameBytes(b), true);
    if (!fa.valid() || !fb.valid())
        return true;
    return FsOverlapAt(fa.get(), fb.get());
}

} // namespace velmor
