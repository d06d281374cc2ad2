#include "compare/ContentCmp.h"
#include "compare/CmpSupport.h"
#include "env/FsDir.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

constexpr size_t kChunk = 256 * 1024;

// Fills buf up to size bytes; returns the bytes read (fewer only at the end
// of the file) or -1 with errno set.
ssize_t readFull(int fd, char* buf, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

ContentOutcome failed(const QString& path, int err)
{
    return {ContentCheck::Failed, cmp::sysErrorText(path, err)};
}

// Opens one side for reading; a file that is no longer regular is refused.
UniqueFd openSide(int dir, const QByteArray& name, bool follow, const QString& path, ContentOutcome& why)
{
    UniqueFd fd(::openat(dir, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (follow ? 0 : O_NOFOLLOW)));
    if (!fd.valid()) {
        // A link swapped in since the listing is not followed.
        why = errno == ELOOP ? ContentOutcome{ContentCheck::Failed, path + QStringLiteral(": a link stands where a file was listed (not followed)")}
                             : failed(path, errno);
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        why = failed(path, errno);
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        why = {ContentCheck::Failed, path + QStringLiteral(": no longer a regular file")};
        return UniqueFd();
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint only: its failure changes nothing
    return fd;
}

} // namespace

ContentOutcome CompareContent(int dir1, const QByteArray& name1, const QString& path1, bool follow1, int dir2,
                              const QByteArray& name2, const QString& path2, const std::atomic<bool>* stop)
{
    ContentOutcome why;
    const UniqueFd one = openSide(dir1, name1, follow1, path1, why);
    if (!one.valid())
        return why;
    const UniqueFd two = openSide(dir2, name2, false, path2, why);
    if (!two.valid())
        return why;
    // One buffer pair per thread, kept for the thread's next files.
    thread_local std::unique_ptr<char[]> buf;
    if (!buf)
        buf = std::make_unique<char[]>(2 * kChunk);
    char* const a = buf.get();
    char* const b = buf.get() + kChunk;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return {};
        const ssize_t n1 = readFull(one.get(), a, kChunk);
        if (n1 < 0)
            return failed(path1, errno);
        const ssize_t n2 = readFull(two.get(), b, kChunk);
        if (n2 < 0)
            return failed(path2, errno);
        // A file that grew or shrank since it was listed differs.
        if (n1 != n2 || std::memcmp(a, b, size_t(n1)) != 0)
            return {ContentCheck::Differ, {}};
        if (size_t(n1) < kChunk)
            return {ContentCheck::Same, {}};
    }
}

} // namespace velmor
