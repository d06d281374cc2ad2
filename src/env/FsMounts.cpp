// Other views of a folder through the mount table: a bind mount shows a
// folder of its file system under another path, and a FUSE mirror (bindfs)
// shows a folder of another file system. Walking up from such a view by ".."
// leads to the mount point's parent, never to the folder it shows, so "one
// folder inside the other" also asks where each view comes from.
#include "env/FsDir.h"
#include "env/FsList.h"

#include <QFile>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

struct MountLine {
    QByteArray id;
    QByteArray device;  // "major:minor"
    QByteArray root;    // the folder of its file system that the mount shows
    QByteArray point;   // where it is mounted
    QByteArray type;
    QByteArray source;
};

// A mount table field with its octal escapes ("\040" for a space) undone.
QByteArray unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray oct = field.mid(i + 1, 3);
            bool ok = false;
            const int c = oct.toInt(&ok, 8);
            if (ok) {
                out += char(c);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<MountLine> mountTable()
{
    std::vector<MountLine> out;
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        const qsizetype dash = w.indexOf("-");
        if (w.size() < 5 || dash < 6 || dash + 2 >= w.size())
            continue;
        out.push_back({w[0], w[2], unescape(w[3]), unescape(w[4]), w[dash + 1], unescape(w[dash + 2])});
    }
    return out;
}

// The mount that holds the open item fd (its id in the mount table).
QByteArray mountIdOf(int fd)
{
    QFile f(QStringLiteral("/proc/self/fdinfo/%1").arg(fd));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("mnt_id:"))
            return line.mid(7).trimmed();
    return {};
}

// The path of the open item fd as this process sees it; empty when unknown.
QByteArray pathOf(int fd)
{
    QByteArray buf(4096, Qt::Uninitialized);
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    for (;;) {
        const ssize_t n = ::readlink(link.constData(), buf.data(), size_t(buf.size()));
        if (n < 0)
            return {};
        if (n < buf.size()) {
            buf.truncate(n);
            return buf.startsWith('/') ? buf : QByteArray();
        }
        buf.resize(buf.size() * 2);
    }
}

// True when inner is prefix itself or lies below it ("/" is above everything).
bool underPath(const QByteArray& inner, const QByteArray& prefix)
{
    if (prefix == "/")
        return inner.startsWith('/');
    return inner == prefix || (inner.startsWith(prefix) && inner.at(prefix.size()) == '/');
}

// inner without its leading prefix (see underPath), as a relative path.
QByteArray restOf(const QByteArray& inner, const QByteArray& prefix)
{
    QByteArray rest = inner.mid(prefix == "/" ? 1 : prefix.size());
    while (rest.startsWith('/'))
        rest.remove(0, 1);
    return rest;
}

QByteArray joined(const QByteArray& dir, const QByteArray& rest)
{
    if (rest.isEmpty())
        return dir;
    return dir.endsWith('/') ? dir + rest : dir + '/' + rest;
}

// One step: the views of the open folder fd that its own mount comes from.
void viewsOf(int fd, const std::vector<MountLine>& table, std::vector<UniqueFd>& out)
{
    const QByteArray id = mountIdOf(fd);
    const QByteArray path = pathOf(fd);
    if (id.isEmpty() || path.isEmpty())
        return;
    const MountLine* own = nullptr;
    for (const MountLine& m : table)
        if (m.id == id)
            own = &m;
    if (!own || !underPath(path, own->point))
        return;
    const QByteArray rest = restOf(path, own->point);
    const FsId self = FsIdOf(fd);

    // A bind mount of a folder below its file system's root: the same folder
    // through the mount that shows most of that file system. A view is only
    // taken when it is the very folder (same device and inode).
    if (own->root != "/") {
        const QByteArray inFs = joined(own->root, rest);
        const MountLine* best = nullptr;
        for (const MountLine& m : table)
            if (&m != own && m.device == own->device && underPath(inFs, m.root)
                && (!best || m.root.size() < best->root.size()))
                best = &m;
        if (best) {
            UniqueFd view = openDirPath(joined(best->point, restOf(inFs, best->root)), false);
            if (view.valid() && FsIdOf(view.get()) == self)
                out.push_back(std::move(view));
        }
    }
    // A FUSE mirror of a folder (bindfs): its source is a folder path. Its
    // items have identities of their own, so the path is all there is.
    if (own->type.startsWith("fuse") && own->source.startsWith('/')) {
        UniqueFd view = openDirPath(joined(own->source, rest), false);
        if (view.valid())
            out.push_back(std::move(view));
    }
}

} // namespace

bool FsKeepsModes(int fd)
{
    struct statfs sf {};
    if (::fstatfs(fd, &sf) != 0)
        return false;
    switch (static_cast<unsigned long>(sf.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4 alike
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:  // a container's own disk
    case F2FS_SUPER_MAGIC:
    case REISERFS_SUPER_MAGIC:
    case 0x3153464aUL:  // JFS
    case 0x2fc12fc1UL:  // ZFS
    case 0xca451a4eUL:  // bcachefs
        return true;
    default:
        return false;
    }
}

// The mount table's type of the volume of fd ("" when unknown). A FUSE
// driver says only "FUSE" to statfs; the mount table names it.
QByteArray mountTypeOf(int fd)
{
    const QByteArray id = mountIdOf(fd);
    if (!id.isEmpty())
        for (const MountLine& m : mountTable())
            if (m.id == id)
                return m.type;
    return QByteArray();
}

bool FsKeepsTwoSecondTimes(int fd)
{
    struct statfs sf {};
    if (::fstatfs(fd, &sf) == 0 && static_cast<unsigned long>(sf.f_type) == MSDOS_SUPER_MAGIC)
        return true;
    const QByteArray type = mountTypeOf(fd);
    return type == "vfat" || type == "msdos" || type == "fat" || type == "fuse.fusefat";
}

bool FsLosesRenamedFolders(int fd)
{
    return mountTypeOf(fd) == "fuse.fusefat";
}

std::vector<UniqueFd> FsViewsOf(int fd)
{
    std::vector<UniqueFd> out;
    const std::vector<MountLine> table = mountTable();
    // A mirror of a bind mount of a mirror...: a few steps are plenty, and
    // they end where no mount is in between.
    constexpr int kSteps = 4;
    size_t from = 0;
    viewsOf(fd, table, out);
    for (int step = 1; step < kSteps && from < out.size(); ++step) {
        const size_t to = out.size();
        for (size_t i = from; i < to; ++i)
            viewsOf(out[i].get(), table, out);
        from = to;
    }
    return out;
}

namespace {

// An open folder with every view of it (FsViewsOf).
struct Viewed {
    explicit Viewed(int fd) : views(FsViewsOf(fd)), fds{fd}
    {
        for (const UniqueFd& v : views)
            fds.push_back(v.get());
    }
    std::vector<UniqueFd> views;
    std::vector<int> fds;
};

bool inside(const Viewed& inner, const Viewed& outer)
{
    for (const int i : inner.fds)
        for (const int o : outer.fds)
            if (!FsBelowAt(i, FsIdOf(o), false).isNull())
                return true;
    return false;
}

} // namespace

bool FsInsideAt(int inner, int outer) { return inside(Viewed(inner), Viewed(outer)); }

bool FsOverlapAt(int a, int b)
{
    const Viewed va(a), vb(b);
    return inside(va, vb) || inside(vb, va);
}

} // namespace velmor
