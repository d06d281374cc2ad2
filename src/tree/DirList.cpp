#include "tree/DirList.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::dirlist {
namespace {

qint64 nsOf(const struct stat& st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

bool isDot(const char* n)
{
    return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0));
}

// A name is usable when decoding and encoding it gives the same bytes.
bool decode(const char* raw, QString& name)
{
    const QByteArray bytes(raw);
    name = QFile::decodeName(bytes);
    return QFile::encodeName(name) == bytes;
}

struct DirHandle {
    DIR* dir = nullptr;
    explicit DirHandle(const QString& path) : dir(::opendir(QFile::encodeName(path).constData())) {}
    ~DirHandle()
    {
        if (dir)
            ::closedir(dir);
    }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
};

} // namespace

bool nameLess(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

bool listSubfolders(const QString& path, std::vector<SubFolder>& out)
{
    out.clear();
    DirHandle h(path);
    if (!h.dir)
        return false;
    const int fd = ::dirfd(h.dir);
    while (dirent* e = ::readdir(h.dir)) {
        if (isDot(e->d_name))
            continue;
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)
            continue;  // files and links
        struct stat st;
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
            continue;  // vanished meanwhile, or not a folder
        SubFolder f;
        if (!decode(e->d_name, f.name))
            continue;
        f.mtimeNs = nsOf(st);
        out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(),
              [](const SubFolder& a, const SubFolder& b) { return nameLess(a.name, b.name); });
    return true;
}

int hasSubfolder(const QString& path)
{
    DirHandle h(path);
    if (!h.dir)
        return -1;
    const int fd = ::dirfd(h.dir);
    while (dirent* e = ::readdir(h.dir)) {
        if (isDot(e->d_name))
            continue;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                continue;
        } else if (e->d_type != DT_DIR) {
            continue;
        }
        QString name;
        if (decode(e->d_name, name))
            return 1;
    }
    return 0;
}

bool folderTime(const QString& path, bool followLink, qint64* ns)
{
    return folderTime(QFile::encodeName(path), followLink, ns);
}

bool folderTime(const QByteArray& p, bool followLink, qint64* ns)
{
    if (p.isEmpty())
        return false;
    struct stat st;
    const int rc = followLink ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st);
    if (rc != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (ns)
        *ns = nsOf(st);
    return true;
}

bool isFolder(const QString& path, bool followLink)
{
    return folderTime(path, followLink, nullptr);
}

} // namespace velmor::dirlist
