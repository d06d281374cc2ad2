#include "env/VolumeCaps.h"

#include "env/FsDir.h"
#include "env/Reasons.h"
#include "env/FsList.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace velmor {

namespace {

constexpr long kExfatMagic = 0x2011BAB0;   // exFAT (kernel driver)
constexpr long kNtfsMagic = 0x5346544e;    // NTFS (ntfs3, old ntfs)

// Answers from the file system's type, where nothing could be tried.
VolumeCaps byType(int dirFd)
{
    VolumeCaps c;
    struct statfs sf {};
    if (::fstatfs(dirFd, &sf) != 0)
        return c;
    const long type = long(sf.f_type);
    const bool fat = FsKeepsTwoSecondTimes(dirFd);
    if (fat || type == kExfatMagic) {
        c.foldsCase = c.windowsNames = true;
        c.holdsLinks = c.keepsModes = false;
        c.holdsOwners = c.holdsXattrs = c.holdsAcls = false;
        c.twoSecondTimes = fat;
    } else if (type == kNtfsMagic) {
        c.windowsNames = true;
        c.keepsModes = false;
        c.holdsOwners = c.holdsAcls = false;
    }
    c.holdsOwners = c.holdsOwners && ::geteuid() == 0;
    return c;
}

// The probe's entries, removed and the folder's times put back at the end
// whatever happened: probing is not a change of folder 2.
struct ProbeNames {
    int dir;
    struct timespec times[2];
    QByteArray file, link, odd;
    ~ProbeNames()
    {
        for (const QByteArray* n : {&file, &link, &odd})
            if (!n->isEmpty())
                ::unlinkat(dir, n->constData(), 0);  // best effort: a leftover is named as the probe's
        if (!file.isEmpty())
            ::futimens(dir, times);  // best effort: only the folder's time would differ
    }
};

// True when an access ACL with an entry of its own for another user can be
// set on the open file and reads back.
bool holdsAcl(int fd)
{
    // The kernel's layout: a version, then (tag, permissions, id) entries in
    // tag order: the owner rw-, user 1 r--, the group r--, the mask r--,
    // others ---.
    struct Entry {
        uint16_t tag, perm;
        uint32_t id;
    };
    struct {
        uint32_t version = 2;
        Entry e[5] = {{0x01, 6, ~0u}, {0x02, 4, 1}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
    } acl;
    return ::fsetxattr(fd, "system.posix_acl_access", &acl, sizeof acl, 0) == 0
           && ::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0;
}

} // namespace

QString VolumeCaps::refusal(QStringView name, bool link) const
{
    QString why = refusal(name);
    if (why.isEmpty() && link && !holdsLinks)
        why = WhyText(Why::LinkUnheld, QString());
    return why;
}

QString VolumeCaps::clashWith(const QString& other)
{
    return WhyText(Why::CaseClash, other);
}

QString VolumeCaps::refusal(QStringView name) const
{
    // A UTF-16 unit is at most three bytes of UTF-8: most names need no look.
    if (!windowsNames && name.size() * 3 <= nameMax)
        return QString();
    const QByteArray bytes = name.toUtf8();
    if (windowsNames) {
        for (const QChar ch : name) {
            if (ch.unicode() < 0x20 || QStringView(u"\\:*?\"<>|").contains(ch))
                return WhyText(Why::BadChar, ch.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'))
                                                                 : QString(ch));
        }
        if (name.endsWith(QLatin1Char(' ')) || name.endsWith(QLatin1Char('.')))
            return WhyText(Why::EndsBlankOrDot, QString());
        if (name.size() > nameMax)
            return WhyText(Why::NameTooLongChars, QString::number(nameMax));
    } else if (bytes.size() > nameMax) {
        return WhyText(Why::NameTooLongBytes, QString::number(nameMax));
    }
    return QString();
}

int ProbeJobs(int dirFd)
{
    // The quickest of a few answers, so one late answer on a busy machine
    // does not count. A local file system answers in a few microseconds, a
    // volume served by a local process (FUSE) in tens; a server across a
    // network or a secure channel takes a round trip of its own.
    constexpr int kTries = 5;
    constexpr auto kLocal = std::chrono::microseconds(150);
    auto best = std::chrono::steady_clock::duration::max();
    for (int k = 0; k < kTries; ++k) {
        struct statfs sf {};
        const auto t0 = std::chrono::steady_clock::now();
        if (::fstatfs(dirFd, &sf) != 0)
            return 1;
        best = std::min(best, std::chrono::steady_clock::now() - t0);
    }
    if (best < kLocal)
        return 1;
    // Beyond a millisecond a round trip leaves room for more requests.
    return best < std::chrono::milliseconds(1) ? 16 : 32;
}

VolumeCaps ProbeVolume(int dirFd)
{
    VolumeCaps c = byType(dirFd);
    c.jobs = ProbeJobs(dirFd);
    const long max = ::fpathconf(dirFd, _PC_NAME_MAX);
    if (max > 0)
        c.nameMax = max;
    struct stat dirSt {};
    if (::fstat(dirFd, &dirSt) != 0)
        return c;

    const QByteArray tag = QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    ProbeNames n{dirFd, {dirSt.st_atim, dirSt.st_mtim}, ".velmor-probe~Ab" + tag, {}, {}};
    const UniqueFd fd(::openat(dirFd, n.file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.valid()) {
        n.file.clear();
        return c;  // nothing can be made here: the type has to do
    }

    // The name with its letters' case changed reaches an entry: the name is
    // a random one of ours, so it can only be the same entry (FUSE volumes
    // do not always give it the same inode number).
    struct stat other {};
    c.foldsCase = ::fstatat(dirFd, n.file.toUpper().constData(), &other, AT_SYMLINK_NOFOLLOW) == 0;
    // Such a volume may also list every name in one case of its own.
    if (c.foldsCase) {
        bool listed = false;
        try {
            const QString made = QString::fromUtf8(n.file);
            for (const FsEntry& e : FsListAt(dirFd, QString(), FsKind::Files))
                listed = listed || e.name == made;
        } catch (const FsError&) {
            listed = true;  // unknown: take the case as kept
        }
        c.preservesCase = listed;
    }

    // A mode is kept when it reads back as set (some volumes accept the
    // call and keep nothing).
    struct stat after {};
    c.keepsModes = ::fchmod(fd.get(), 0604) == 0 && ::fstat(fd.get(), &after) == 0 && (after.st_mode & 07777) == 0604;

    // An odd second reads back even where times are kept to two seconds.
    const struct timespec odd[2] = {{315619201, 0}, {315619201, 0}};
    c.twoSecondTimes = ::futimens(fd.get(), odd) == 0 && ::fstatat(dirFd, n.file.constData(), &after, AT_SYMLINK_NOFOLLOW) == 0
                       && after.st_mtim.tv_sec != 315619201;

    // Owners: only root gives files away, and the volume must keep what it
    // is given (FUSE volumes of other systems show one owner for all).
    c.holdsOwners = ::geteuid() == 0 && ::fchown(fd.get(), 1, 1) == 0 && ::fstat(fd.get(), &after) == 0
                    && after.st_uid == 1 && after.st_gid == 1;
    c.holdsXattrs = ::fsetxattr(fd.get(), "user.velmor-probe", "1", 1, 0) == 0
                    && ::fgetxattr(fd.get(), "user.velmor-probe", nullptr, 0) == 1;
    c.holdsAcls = holdsAcl(fd.get());

    n.link = n.file + "-l";
    c.holdsLinks = ::symlinkat("x", dirFd, n.link.constData()) == 0;
    if (!c.holdsLinks)
        n.link.clear();

    // A question mark is the one character every such volume refuses.
    n.odd = n.file + "?";
    c.windowsNames = !UniqueFd(::openat(dirFd, n.odd.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)).valid();
    if (c.windowsNames) {
        n.odd.clear();
        c.nameMax = 255;  // UTF-16 units on every volume that refuses those names
    }

    return c;
}

} // namespace velmor
