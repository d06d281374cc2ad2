#include "compare/ContentCmp.h"
#include "compare/CmpSupport.h"
#include "env/FsDir.h"
#include "env/Reasons.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

constexpr size_t kChunk = 256 * 1024;
// What CompareSampled reads of each side.
constexpr int kSampleBlocks = 4;
constexpr long long kSampleBytes = 4096;

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

// Opens one side for reading and tells its size; a file that is no longer
// regular is refused.
// Never waits on a pipe swapped in since the listing (O_NONBLOCK).
// small: the file was listed smaller than a chunk; it is read whole in one
// call, without asking its type and size first (a folder fails to read,
// other bytes than listed differ).
UniqueFd openSide(int dir, const QString& folder, const QString& name, bool follow, ContentOutcome& why,
                  long long& size, bool small)
{
    const auto path = [&] { return cmp::joinPath(folder, name); };  // made only for a message
    UniqueFd fd(::openat(dir, nameBytes(name).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW)));
    if (!fd.valid()) {
        // A link swapped in since the listing is not followed.
        why = errno == ELOOP ? ContentOutcome{ContentCheck::Failed, WhyText(Why::LinkForFile, path())}
                             : failed(path(), errno);
        return fd;
    }
    if (small)
        return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        why = failed(path(), errno);
        return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
        why = {ContentCheck::Failed, WhyText(Why::NoLongerAFile, path())};
        return UniqueFd();
    }
    size = st.st_size;
    if (size > static_cast<long long>(kChunk))
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint only: its failure changes nothing
    return fd;
}

// Both sides as openSide opens them; the second is invalid (why says why)
// when either could not be opened.
std::pair<UniqueFd, UniqueFd> openBoth(int dir1, const QString& folder1, const QString& name1, bool follow1, int dir2,
                                       const QString& folder2, const QString& name2, ContentOutcome& why,
                                       long long& size1, long long& size2, bool small)
{
    UniqueFd one = openSide(dir1, folder1, name1, follow1, why, size1, small);
    if (!one.valid())
        return {};
    UniqueFd two = openSide(dir2, folder2, name2, false, why, size2, small);
    return {std::move(one), std::move(two)};
}

} // namespace

ContentOutcome CompareContent(int dir1, const QString& folder1, const QString& name1, bool follow1, int dir2,
                              const QString& folder2, const QString& name2, long long listed,
                              const std::atomic<bool>* stop)
{
    ContentOutcome why;
    const bool small = listed >= 0 && listed < static_cast<long long>(kChunk);
    long long size1 = 0, size2 = 0;
    const auto [one, two] = openBoth(dir1, folder1, name1, follow1, dir2, folder2, name2, why, size1, size2, small);
    if (!two.valid())
        return why;
    // One buffer pair per thread, kept for the thread's next files.
    thread_local std::unique_ptr<char[]> buf;
    if (!buf)
        buf = std::make_unique<char[]>(2 * kChunk);
    char* const a = buf.get();
    char* const b = buf.get() + kChunk;
    if (small) {
        // One read each where it returns the listed size; else on to the end.
        const auto whole = [&](int fd, char* into) {
            ssize_t n = ::read(fd, into, kChunk);
            while (n < 0 && errno == EINTR)
                n = ::read(fd, into, kChunk);
            if (n >= 0 && n != listed) {
                const ssize_t more = readFull(fd, into + n, kChunk - size_t(n));
                n = more < 0 ? more : n + more;
            }
            return n;
        };
        const ssize_t n1 = whole(one.get(), a);
        if (n1 < 0)
            return failed(cmp::joinPath(folder1, name1), errno);
        const ssize_t n2 = whole(two.get(), b);
        if (n2 < 0)
            return failed(cmp::joinPath(folder2, name2), errno);
        if (n1 != listed || n2 != listed || std::memcmp(a, b, size_t(n1)) != 0)
            return {ContentCheck::Differ, {}};
        return {ContentCheck::Same, {}};
    }
    // A file that grew or shrank since it was listed differs.
    if (size1 != size2)
        return {ContentCheck::Differ, {}};
    // The sizes just read are compared, no read past them is needed.
    for (long long left = size1; left > 0;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return {};
        const size_t want = size_t(std::min<long long>(left, kChunk));
        const ssize_t n1 = readFull(one.get(), a, want);
        if (n1 < 0)
            return failed(cmp::joinPath(folder1, name1), errno);
        const ssize_t n2 = readFull(two.get(), b, want);
        if (n2 < 0)
            return failed(cmp::joinPath(folder2, name2), errno);
        // A file that shrank meanwhile differs.
        if (n1 != n2 || size_t(n1) < want || std::memcmp(a, b, want) != 0)
            return {ContentCheck::Differ, {}};
        left -= n1;
    }
    return {ContentCheck::Same, {}};
}

ContentOutcome CompareSampled(int dir1, const QString& folder1, const QString& name1, int dir2,
                              const QString& folder2, const QString& name2, long long size)
{
    ContentOutcome why;
    long long unused1 = 0, unused2 = 0;
    // Opened as a small file is (no read-ahead advice: only a few blocks are
    // read); what it is and how long, asked once.
    const auto [one, two] = openBoth(dir1, folder1, name1, false, dir2, folder2, name2, why, unused1, unused2, true);
    if (!two.valid())
        return why;
    struct stat st1 {}, st2 {};
    if (::fstat(one.get(), &st1) != 0)
        return failed(cmp::joinPath(folder1, name1), errno);
    if (::fstat(two.get(), &st2) != 0)
        return failed(cmp::joinPath(folder2, name2), errno);
    if (!S_ISREG(st1.st_mode) || !S_ISREG(st2.st_mode) || st1.st_size != size || st2.st_size != size)
        return {ContentCheck::Differ, {}};
    char a[kSampleBytes], b[kSampleBytes];
    const long long span = std::max<long long>(size - kSampleBytes, 0);
    for (int k = 0; k < kSampleBlocks; ++k) {
        const long long at = span * k / (kSampleBlocks - 1);
        const size_t want = size_t(std::min<long long>(kSampleBytes, size - at));
        ssize_t n1 = -1, n2 = -1;
        do n1 = ::pread(one.get(), a, want, at); while (n1 < 0 && errno == EINTR);
        if (n1 < 0)
            return failed(cmp::joinPath(folder1, name1), errno);
        do n2 = ::pread(two.get(), b, want, at); while (n2 < 0 && errno == EINTR);
        if (n2 < 0)
            return failed(cmp::joinPath(folder2, name2), errno);
        if (n1 != n2 || size_t(n1) != want || std::memcmp(a, b, want) != 0)
            return {ContentCheck::Differ, {}};
        if (span == 0)
            break;  // the whole file was one block
    }
    return {ContentCheck::Same, {}};
}

} // namespace velmor
