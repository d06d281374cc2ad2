#include "env/FsList.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace velmor {

namespace {

[[noreturn]] void raise(const QString& path, int err)
{
    throw FsError(path.toStdString() + ": " + std::strerror(err));
}

bool wanted(FsKind kind, mode_t m)
{
    if (kind == FsKind::Folders)
        return S_ISDIR(m);
    return S_ISREG(m) || S_ISLNK(m);
}

// Skips the lstat of entries whose type the listing already rules out.
bool mayWant(FsKind kind, unsigned char type)
{
    switch (type) {
    case DT_UNKNOWN: return true;
    case DT_DIR: return kind == FsKind::Folders;
    case DT_REG:
    case DT_LNK: return kind == FsKind::Files;
    default: return false;
    }
}

bool isAscii(const char* n)
{
    for (; *n; ++n)
        if (static_cast<unsigned char>(*n) >= 0x80)
            return false;
    return true;
}

long long nsOf(const struct stat& st)
{
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

} // namespace

bool FsEntry::isDir() const { return S_ISDIR(mode); }

bool nameLess(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

bool decodeFileName(const char* raw, QString& name)
{
    name = QFile::decodeName(raw);
    return isAscii(raw) || QFile::encodeName(name) == QByteArrayView(raw);
}

std::vector<FsEntry> FsList(const QString& folder, FsKind kind, int* undecodable)
{
    const QByteArray path = QFile::encodeName(folder);
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.constData()));
    if (!dir)
        raise(folder, errno);
    const int fd = dirfd(dir.get());
    std::vector<FsEntry> out;
    if (undecodable)
        *undecodable = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir.get());
        if (!e) {
            if (errno != 0)
                raise(folder, errno);
            break;
        }
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        if (!mayWant(kind, e->d_type))
            continue;
        struct stat st;
        if (fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;  // vanished since the listing: it is not there
            raise(folder + QLatin1Char('/') + QFile::decodeName(n), errno);
        }
        if (!wanted(kind, st.st_mode))
            continue;
        QString name;
        if (!decodeFileName(n, name)) {
            if (undecodable)
                ++*undecodable;
            continue;
        }
        out.push_back({std::move(name), static_cast<long long>(st.st_size),
                       static_cast<long long>(st.st_mtim.tv_sec), nsOf(st), st.st_mode});
    }
    std::sort(out.begin(), out.end(),
              [](const FsEntry& a, const FsEntry& b) { return nameLess(a.name, b.name); });
    return out;
}

FsEntry FsStat(const QString& path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        raise(path, errno);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return {path.mid(slash + 1), static_cast<long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec), nsOf(st), st.st_mode};
}

bool FsIsDir(const QString& path, bool followLink)
{
    if (path.isEmpty())
        return false;
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    const int rc = followLink ? ::stat(p.constData(), &st) : ::lstat(p.constData(), &st);
    return rc == 0 && S_ISDIR(st.st_mode);
}

bool FsOverlap(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (ca.isEmpty() || cb.isEmpty())
        return true;
    const auto inside = [](const QString& inner, const QString& outer) {
        return inner == outer || outer == QLatin1String("/") || inner.startsWith(outer + QLatin1Char('/'));
    };
    return inside(ca, cb) || inside(cb, ca);
}

} // namespace velmor
