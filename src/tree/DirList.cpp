#include "tree/DirList.h"

#include "env/FsDir.h"

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmor::dirlist {

bool listSubfolders(const QString& path, std::vector<SubFolder>& out)
{
    out.clear();
    std::vector<FsEntry> entries;
    try {
        entries = FsList(path, FsKind::Folders);
    } catch (const FsError&) {
        return false;  // reported through the result; the reason is not needed here
    }
    out.reserve(entries.size());
    for (FsEntry& e : entries)
        out.push_back({std::move(e.name), e.mtimeNs, e.noSubfolders});
    return true;
}

int hasSubfolder(const QString& path)
{
    UniqueFd fd0 = openDirPath(nameBytes(path), true);
    DIR* dir = fd0.valid() ? ::fdopendir(fd0.get()) : nullptr;
    if (!dir)
        return -1;
    fd0.release();  // the stream owns it now
    const int fd = ::dirfd(dir);
    int found = 0;
    while (dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                continue;
        } else if (e->d_type != DT_DIR) {
            continue;
        }
        found = 1;
        break;
    }
    ::closedir(dir);
    return found;
}

bool folderTime(const QString& path, bool followLink, qint64* ns)
{
    return folderTime(nameBytes(path), followLink, ns);
}

bool folderTime(const QByteArray& p, bool followLink, qint64* ns)
{
    if (p.isEmpty())
        return false;
    struct stat st;
    int rc;
    if (p.size() < PATH_MAX) {
        rc = followLink ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st);
    } else {
        const UniqueFd fd = openDirPath(p, followLink);
        rc = fd.valid() ? ::fstat(fd.get(), &st) : -1;
    }
    if (rc != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (ns)
        *ns = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return true;
}

} // namespace velmor::dirlist
