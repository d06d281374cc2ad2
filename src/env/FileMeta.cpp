#include "env/FileMeta.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/xattr.h>

namespace velmor {

namespace {

bool isAcl(const char* name)
{
    return std::strcmp(name, "system.posix_acl_access") == 0 || std::strcmp(name, "system.posix_acl_default") == 0;
}

// No attributes here: the volume or the item type holds none.
bool holdsNone(int err)
{
    return err == ENOTSUP || err == ENODATA;
}

// Appends one pair to a canonical text.
void append(QByteArray& text, const char* name, const QByteArray& value)
{
    text.append(name, qsizetype(std::strlen(name) + 1));
    const uint32_t n = uint32_t(value.size());
    const char len[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    text.append(len, 4);
    text.append(value);
}

// The calls on path: those that take a link as it is, or, for the kernel's
// own link "/proc/self/fd/N" (follow), those that go through it to the item
// the descriptor is open on (a link there too, never its target).
ssize_t getOf(const QByteArray& path, bool follow, const char* name, void* value, size_t size)
{
    return follow ? ::getxattr(path.constData(), name, value, size) : ::lgetxattr(path.constData(), name, value, size);
}

ssize_t listOf(const QByteArray& path, bool follow, char* list, size_t size)
{
    return follow ? ::listxattr(path.constData(), list, size) : ::llistxattr(path.constData(), list, size);
}

// The value of one attribute; false with errno set.
bool valueOf(const QByteArray& path, bool follow, const char* name, QByteArray& out)
{
    for (int tries = 0; tries < 4; ++tries) {
        const ssize_t n = getOf(path, follow, name, nullptr, 0);
        if (n < 0)
            return false;
        out.resize(n);
        const ssize_t got = getOf(path, follow, name, out.data(), size_t(n));
        if (got >= 0) {
            out.resize(got);
            return true;
        }
        if (errno != ERANGE)  // it grew meanwhile: ask again
            return false;
    }
    return false;
}

} // namespace

QByteArray procPath(int dirFd, const QByteArray& name)
{
    QByteArray p = "/proc/self/fd/" + QByteArray::number(dirFd);
    if (!name.isEmpty())
        p += '/' + name;
    return p;
}

bool ReadXattrs(int dirFd, const QByteArray& name, unsigned kinds, FileXattrs& out)
{
    out = FileXattrs();
    if (kinds == 0)
        return true;
    const QByteArray path = procPath(dirFd, name);
    const bool follow = name.isEmpty();
    std::vector<char> names;
    for (int tries = 0;; ++tries) {
        const ssize_t n = listOf(path, follow, nullptr, 0);
        if (n < 0)
            return holdsNone(errno);
        if (n == 0)
            return true;
        names.resize(size_t(n));
        const ssize_t got = listOf(path, follow, names.data(), names.size());
        if (got >= 0) {
            names.resize(size_t(got));
            break;
        }
        if (errno != ERANGE || tries >= 4)
            return false;
    }
    std::vector<const char*> wanted;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* n = names.data() + at;
        const bool acl = isAcl(n);
        if (acl ? (kinds & kMetaAcls) : (kinds & kMetaXattrs) && std::strncmp(n, "system.", 7) != 0)
            wanted.push_back(n);
    }
    std::sort(wanted.begin(), wanted.end(), [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
    QByteArray value;
    for (const char* n : wanted) {
        if (!valueOf(path, follow, n, value)) {
            if (errno == ENODATA)
                continue;  // removed since it was listed
            return false;
        }
        append(isAcl(n) ? out.acl : out.other, n, value);
    }
    return true;
}

bool SplitXattrs(const QByteArray& text, QList<XattrPair>& out)
{
    out.clear();
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype end = text.indexOf('\0', at);
        if (end < 0 || end + 5 > text.size())
            return false;
        const auto b = [&](int i) { return uint32_t(uint8_t(text.at(end + 1 + i))); };
        const qsizetype len = qsizetype(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3));
        if (end + 5 + len > text.size())
            return false;
        out.append({text.mid(at, end - at), text.mid(end + 5, len)});
        at = end + 5 + len;
    }
    return true;
}

QString XattrDifference(const FileXattrs& a, const FileXattrs& b)
{
    QString out;
    if (a.acl != b.acl)
        out = QStringLiteral("ACL");
    if (a.other != b.other)
        out += (out.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("拡張属性");
    return out;
}

} // namespace velmor
