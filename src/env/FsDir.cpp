#include "env/FsDir.h"

#include "env/FsList.h"

#include <atomic>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace velmor {

namespace {

constexpr char16_t kEscBase = 0xDC00;  // + byte (0x80..0xFF): an undecodable byte

bool isCont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at p (n bytes left), 0 when invalid.
int seqLen(const unsigned char* p, qsizetype n)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return n >= 2 && isCont(p[1]) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (n < 3 || !isCont(p[1]) || !isCont(p[2]))
            return 0;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F))
            return 0;  // overlong, or a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (n < 4 || !isCont(p[1]) || !isCont(p[2]) || !isCont(p[3]))
            return 0;
        if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F))
            return 0;  // overlong, or beyond U+10FFFF
        return 4;
    }
    return 0;
}

FsHook& hookSlot()
{
    static FsHook hook;
    return hook;
}

// 1 while openat2 may be there, 0 once the kernel said it has none.
std::atomic<int> g_haveOpenat2{1};

UniqueFd openBeneathByComponents(int base, QByteArrayView rel)
{
    UniqueFd cur(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!cur.valid())
        return cur;
    qsizetype at = 0;
    while (at < rel.size()) {
        qsizetype end = rel.indexOf('/', at);
        if (end < 0)
            end = rel.size();
        const QByteArray part = rel.sliced(at, end - at).toByteArray();
        at = end + 1;
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            errno = EXDEV;
            return UniqueFd();
        }
        UniqueFd next(::openat(cur.get(), part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            return next;
        cur = std::move(next);
    }
    return cur;
}

} // namespace

QString nameText(QByteArrayView raw)
{
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const qsizetype n = raw.size();
    qsizetype i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n)
        return QString::fromLatin1(raw.data(), n);
    QString out(n, Qt::Uninitialized);  // UTF-16 never needs more units than UTF-8 bytes
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype k = 0; k < i; ++k)
        *o++ = p[k];
    while (i < n) {
        const int len = seqLen(p + i, n - i);
        if (len == 0) {
            *o++ = char16_t(kEscBase + p[i]);
            ++i;
            continue;
        }
        char32_t cp;
        switch (len) {
        case 1: cp = p[i]; break;
        case 2: cp = char32_t(p[i] & 0x1F) << 6 | (p[i + 1] & 0x3F); break;
        case 3: cp = char32_t(p[i] & 0x0F) << 12 | char32_t(p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F); break;
        default:
            cp = char32_t(p[i] & 0x07) << 18 | char32_t(p[i + 1] & 0x3F) << 12 | char32_t(p[i + 2] & 0x3F) << 6
                 | (p[i + 3] & 0x3F);
        }
        if (cp >= 0x10000) {
            *o++ = QChar::highSurrogate(cp);
            *o++ = QChar::lowSurrogate(cp);
        } else {
            *o++ = char16_t(cp);
        }
        i += len;
    }
    out.truncate(o - reinterpret_cast<const char16_t*>(out.constData()));
    return out;
}

void nameBytesInto(QStringView text, QByteArray& out)
{
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    out.resize(n);  // within the capacity of an earlier, longer text: no allocation
    char* o = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        if (u[i] >= 0x80) {
            out = nameBytes(text);
            return;
        }
        o[i] = char(u[i]);
    }
}

QByteArray nameBytes(QStringView text)
{
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    bool plain = true;
    for (qsizetype i = 0; i < n && plain; ++i)
        plain = !QChar::isSurrogate(u[i]);
    if (plain)
        return text.toUtf8();
    QByteArray out;
    out.reserve(n * 3);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            const char32_t cp = QChar::surrogateToUcs4(c, u[i + 1]);
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
            ++i;
        } else if (c >= kEscBase + 0x80 && c <= kEscBase + 0xFF) {
            out += char(c - kEscBase);  // an undecodable byte, restored
        } else if (QChar::isSurrogate(c)) {
            out += "\xEF\xBF\xBD";  // a lone surrogate typed as text has no bytes of its own
        } else {
            out += QStringView(&u[i], 1).toUtf8();
        }
    }
    return out;
}

bool isTempName(QByteArrayView raw)
{
    constexpr qsizetype tag = sizeof(kTmpTag) - 1;
    if (raw.size() < 1 + 1 + tag + 6 || raw[0] != '.')
        return false;
    const qsizetype at = raw.size() - 6 - tag;
    if (raw.sliced(at, tag) != QByteArrayView(kTmpTag))
        return false;
    for (qsizetype i = raw.size() - 6; i < raw.size(); ++i) {
        const char c = raw[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

bool isOwnTemp(QByteArrayView raw, const struct stat& st)
{
    return (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) && st.st_mtim.tv_sec == kTmpMark && st.st_mtim.tv_nsec == 0
           && isTempName(raw);
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close()
{
    const int r = ::close(m_fd);
    m_fd = -1;
    return r;
}

UniqueFd openBeneath(int base, QByteArrayView rel)
{
    if (rel.startsWith('/')) {
        errno = EXDEV;
        return UniqueFd();
    }
    if (g_haveOpenat2.load(std::memory_order_relaxed) && rel.size() < PATH_MAX) {
        const QByteArray path = rel.isEmpty() ? QByteArray(".") : rel.toByteArray();
        open_how how{};
        how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int tries = 0;; ++tries) {
            const long fd = ::syscall(SYS_openat2, base, path.constData(), &how, sizeof how);
            if (fd >= 0)
                return UniqueFd(int(fd));
            if (errno == EAGAIN && tries < 16)
                continue;  // a rename elsewhere raced the lookup: look again
            if (errno != ENOSYS && errno != E2BIG)
                return UniqueFd();
            g_haveOpenat2.store(0, std::memory_order_relaxed);
            break;
        }
    }
    return openBeneathByComponents(base, rel);
}

bool setExactMode(int fd, mode_t mode, const struct stat* known)
{
    struct stat st;
    if (known)
        st = *known;
    if ((known || ::fstat(fd, &st) == 0) && (st.st_mode & 07777) == (mode & 07777))
        return true;
    if (::fchmod(fd, mode & 07777) == 0)
        return true;
    // The maker of an item may always change its mode, so a refusal comes
    // from the volume; only one that holds no modes may refuse.
    const int err = errno;
    if ((err == EPERM || err == ENOSYS || err == EOPNOTSUPP) && !FsKeepsModes(fd))
        return true;
    errno = err;
    return false;
}

namespace {

// The permission bits a folder made at rel below a root takes when its
// counterpart at rel below like is a folder: the counterpart's own, plus
// the owner's, so the maker can fill it. -1 when there is none.
int likeMode(int like, QByteArrayView rel, qsizetype slash)
{
    if (like < 0)
        return -1;
    const UniqueFd dir = openBeneath(like, slash < 0 ? QByteArrayView() : rel.first(slash));
    struct stat st;
    if (!dir.valid() || ::fstatat(dir.get(), rel.sliced(slash + 1).toByteArray().constData(), &st,
                                  AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        return -1;
    return int((st.st_mode & 07777) | S_IRWXU);
}

} // namespace

UniqueFd makeBeneath(int root, QByteArrayView rel, int like)
{
    UniqueFd fd = openBeneath(root, rel);
    if (fd.valid() || errno != ENOENT || rel.isEmpty())
        return fd;
    const qsizetype slash = rel.lastIndexOf('/');
    const UniqueFd parent = makeBeneath(root, slash < 0 ? QByteArrayView() : rel.first(slash), like);
    if (!parent.valid())
        return UniqueFd();
    const QByteArray last = rel.sliced(slash + 1).toByteArray();
    const int mode = likeMode(like, rel, slash);
    // EEXIST: made meanwhile by someone else; the open below tells whether it is a folder.
    const bool made = ::mkdirat(parent.get(), last.constData(), mode < 0 ? 0777 : mode_t(mode)) == 0;
    if (!made && errno != EEXIST)
        return UniqueFd();
    fd = UniqueFd(::openat(parent.get(), last.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // Made with the counterpart's bits (less the umask, never more open than
    // the counterpart), then given the bits the umask took on the open folder.
    if (made && fd.valid() && mode >= 0 && !setExactMode(fd.get(), mode_t(mode)))
        return UniqueFd();
    return fd;
}

UniqueFd openDirPath(const QByteArray& path, bool followLast)
{
    const int last = followLast ? 0 : O_NOFOLLOW;
    if (path.size() < PATH_MAX || !path.startsWith('/'))
        return UniqueFd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | last));
    // Longer than the kernel takes in one call: walk it in pieces that are.
    UniqueFd cur(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    qsizetype at = 1;
    while (cur.valid() && at < path.size()) {
        qsizetype end = path.size();
        if (end - at >= PATH_MAX) {
            end = path.lastIndexOf('/', at + PATH_MAX - 1);
            if (end <= at) {
                errno = ENAMETOOLONG;  // one name longer than PATH_MAX
                return UniqueFd();
            }
        }
        const QByteArray piece = path.mid(at, end - at);
        at = end + 1;
        const bool final = at >= path.size();
        cur = UniqueFd(::openat(cur.get(), piece.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (final ? last : 0)));
    }
    return cur;
}

UniqueFd openParentOf(const QByteArray& path, QByteArray& last)
{
    QByteArray p = path;
    while (p.size() > 1 && p.endsWith('/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf('/');
    last = p.mid(slash + 1);
    if (slash < 0)
        return UniqueFd(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (last.isEmpty()) {  // the root "/" has no parent to name it in
        errno = EINVAL;
        return UniqueFd();
    }
    return openDirPath(slash == 0 ? QByteArray("/") : p.left(slash), true);
}

void setFsHook(FsHook hook) { hookSlot() = std::move(hook); }

void fsHook(const char* point)
{
    if (const FsHook& h = hookSlot())
        h(point);
}

} // namespace velmor
