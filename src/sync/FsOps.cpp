// The basics every file-system operation uses: results, kinds of entries
// and folder listings.
#include "sync/FsInternal.h"


#include <algorithm>
#include <cerrno>

#include <fcntl.h>

namespace velmor::fsops {

namespace detail {

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

} // namespace detail

FsResult FsResult::fail(Why why, const QString& path, int err, const QStringList& more)
{
    return {WhyText(why, path, err, more), err, path};
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

} // namespace velmor::fsops
