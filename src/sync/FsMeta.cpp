// What an item is beyond its data: owner and group, ACLs and extended
// attributes, given to a copy as it is made and corrected on an item that
// is there (FixMeta); and where the copies of multi-named files went.
#include "sync/FsInternal.h"

#include "env/FileMeta.h"
#include "env/Reasons.h"

#include <QList>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/xattr.h>

namespace velmor::fsops {

using namespace detail;

void HardLinks::put(dev_t dev, ino_t ino, const Place& place)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    m_places.insert_or_assign({dev, ino}, place);
}

bool HardLinks::find(dev_t dev, ino_t ino, Place& out) const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_places.find({dev, ino});
    if (it == m_places.end())
        return false;
    out = it->second;
    return true;
}

namespace {

FsResult attrFailed(Why step, const QByteArray& name, const QString& path, int err)
{
    return FsResult::fail(step, path, err, {QString::fromUtf8(name)});
}

// A security label (security.selinux and its kind) that the volume's
// security module does not hold: the kernel answers "not supported" for it
// there, and the volume keeps no such label for any item, so the item goes
// without it. A file capability is no label: refused, it fails.
bool unheldLabel(const QByteArray& name, int err)
{
    return (err == EOPNOTSUPP || err == ENOTSUP) && name.startsWith("security.") && name != "security.capability";
}

const XattrPair* pairNamed(const QList<XattrPair>& pairs, const QByteArray& name)
{
    const auto it = std::find_if(pairs.begin(), pairs.end(), [&](const XattrPair& p) { return p.name == name; });
    return it == pairs.end() ? nullptr : &*it;
}

// Makes the attributes of the kinds asked for of the item open as fd (an
// O_PATH descriptor does) those of want: what differs is set, what the item
// has and want lacks removed. A link holds no user.* attributes: they are
// left out for one. *changed: something was set or removed.
FsResult matchXattrs(int fd, const FileXattrs& want, unsigned kinds, bool link, const QString& shown,
                     bool* changed = nullptr)
{
    FileXattrs have;
    if (!ReadXattrs(fd, {}, kinds, have))
        return FsResult::fail(Why::ReadAttrs, shown, errno);
    // The kernel's own link to the item, followed: the item itself, a link
    // too, never a link's target.
    const QByteArray path = procPath(fd, {});
    for (const auto& [w, h] : {std::pair(&want.acl, &have.acl), std::pair(&want.other, &have.other)}) {
        if (*w == *h)
            continue;
        QList<XattrPair> wp, hp;
        if (!SplitXattrs(*w, wp) || !SplitXattrs(*h, hp))
            return FsResult::fail(Why::AttrsMalformed, shown);
        for (const XattrPair& p : std::as_const(wp)) {
            if (link && p.name.startsWith("user."))
                continue;
            const XattrPair* there = pairNamed(hp, p.name);
            if (there && there->value == p.value)
                continue;
            if (::setxattr(path.constData(), p.name.constData(), p.value.constData(), size_t(p.value.size()), 0) != 0) {
                if (!unheldLabel(p.name, errno))
                    return attrFailed(Why::SetAttr, p.name, shown, errno);
                continue;
            }
            if (changed)
                *changed = true;
        }
        for (const XattrPair& p : std::as_const(hp)) {
            if (pairNamed(wp, p.name))
                continue;
            if (::removexattr(path.constData(), p.name.constData()) != 0) {
                // ENODATA: gone meanwhile, which is what was wanted.
                if (errno != ENODATA && !unheldLabel(p.name, errno))
                    return attrFailed(Why::RemoveAttr, p.name, shown, errno);
                continue;
            }
            if (changed)
                *changed = true;
        }
    }
    return {};
}

UniqueFd openPath(const At& e) { return UniqueFd(::openat(e.dir, e.name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC)); }

// Appends a word to a blank-separated text.
void addWord(QString* text, const QString& word)
{
    if (text)
        *text += (text->isEmpty() ? QString() : QStringLiteral(" ")) + word;
}

} // namespace

namespace detail {

const struct stat* modeAsMade(const struct stat& made, const struct stat& ss, const CopyOptions& opt)
{
    const bool ownerKept = !opt.owners || (made.st_uid == ss.st_uid && made.st_gid == ss.st_gid);
    return opt.meta == 0 && ownerKept ? &made : nullptr;
}

FsResult giveOwnerAndAttrs(int srcFd, const struct stat& ss, const At& made, const CopyOptions& opt, int madeFd,
                           const struct stat* madeSt)
{
    if (!opt.owners && opt.meta == 0)
        return {};
    if (opt.meta == 0 && madeFd >= 0 && madeSt) {
        if ((madeSt->st_uid != ss.st_uid || madeSt->st_gid != ss.st_gid)
            && ::fchownat(madeFd, "", ss.st_uid, ss.st_gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
            return FsResult::fail(Why::SetOwner, made.path, errno);
        return {};
    }
    const UniqueFd fd = openPath(made);
    if (!fd.valid())
        return FsResult::fail(Why::Open, made.path, errno);
    struct stat ms {};
    if (opt.owners && ::fstat(fd.get(), &ms) != 0)
        return FsResult::fail(Why::Read, made.path, errno);
    // An item made with the source's owner already is left as it is made.
    if (opt.owners && (ms.st_uid != ss.st_uid || ms.st_gid != ss.st_gid)
        && ::fchownat(fd.get(), "", ss.st_uid, ss.st_gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult::fail(Why::SetOwner, made.path, errno);
    if (opt.meta == 0)
        return {};
    FileXattrs want;
    if (!ReadXattrs(srcFd, {}, opt.meta, want))
        return FsResult::fail(Why::ReadAttrs, made.path, errno);
    return matchXattrs(fd.get(), want, opt.meta, S_ISLNK(ss.st_mode), made.path);
}

} // namespace detail

FsResult FixMeta(const At& src, const At& dst, const CopyOptions& opt, bool times, QString* what)
{
    const UniqueFd s = openPath(src);
    if (!s.valid())
        return FsResult::fail(Why::Read, src.path, errno);
    const UniqueFd d = openPath(dst);
    if (!d.valid())
        return FsResult::fail(Why::Open, dst.path, errno);
    struct stat ss {}, ds {};
    if (::fstat(s.get(), &ss) != 0)
        return FsResult::fail(Why::Read, src.path, errno);
    if (::fstat(d.get(), &ds) != 0)
        return FsResult::fail(Why::Read, dst.path, errno);
    const mode_t type = ss.st_mode & S_IFMT;
    if (type != (ds.st_mode & S_IFMT))
        return FsResult::fail(Why::KindsDiffer, src.path, 0, {dst.path});
    if (type != S_IFREG && type != S_IFDIR && type != S_IFLNK)
        return FsResult::fail(Why::NotFileLinkFolder, src.path);
    const bool link = type == S_IFLNK;
    const QByteArray path = procPath(d.get(), {});
    if (opt.owners && (ss.st_uid != ds.st_uid || ss.st_gid != ds.st_gid)) {
        if (::fchownat(d.get(), "", ss.st_uid, ss.st_gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
            return FsResult::fail(Why::SetOwner, dst.path, errno);
        addWord(what, QStringLiteral("所有者"));
    }
    if (opt.meta) {
        FileXattrs want;
        if (!ReadXattrs(s.get(), {}, opt.meta, want))
            return FsResult::fail(Why::ReadAttrs, src.path, errno);
        bool changed = false;
        if (FsResult r = matchXattrs(d.get(), want, opt.meta, link, dst.path, &changed); !r.ok())
            return r;
        if (changed)
            addWord(what, QStringLiteral("ACL・拡張属性"));
    }
    // A link has no permissions of its own. The mode is looked at again: a
    // new owner took the set-ID bits, a new ACL the group's.
    if (!link && (!opt.volume || opt.volume->keepsModes)) {
        if (::fstat(d.get(), &ds) != 0)
            return FsResult::fail(Why::Read, dst.path, errno);
        if ((ds.st_mode & 07777) != (ss.st_mode & 07777)) {
            if (::chmod(path.constData(), ss.st_mode & 07777) != 0)
                return FsResult::fail(Why::SetPermissions, dst.path, errno);
            addWord(what, QStringLiteral("ｱｸｾｽ権"));
        }
    }
    if (times) {
        const struct timespec t[2] = {ss.st_atim, ss.st_mtim};
        if (::utimensat(AT_FDCWD, path.constData(), t, 0) != 0)
            return FsResult::fail(Why::SetTimes, dst.path, errno);
    }
    return {};
}

} // namespace velmor::fsops
