#pragma once
// Names and folder descriptors: how the program turns the bytes of a name
// into text and back, and how it reaches a folder below a root without ever
// following a symbolic link.
//
// Names. A name on disk is a byte string. Valid UTF-8 becomes the same text;
// every byte that is not part of a valid UTF-8 sequence becomes the lone
// surrogate U+DC80 + (byte - 0x80). No valid name yields a lone surrogate, so
// the mapping is reversible: nameBytes(nameText(b)) == b for every b. The
// work database stores names as these same bytes.
//
// Descriptors. openBeneath resolves a relative path from an open folder one
// component at a time (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS
// where the kernel has it, else openat with O_NOFOLLOW per component): a
// link anywhere on the way fails with ELOOP or ENOTDIR, and ".." or an
// absolute path never gets out. Paths of any length work.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

namespace velmor {

// --- names --------------------------------------------------------------------
QString nameText(QByteArrayView raw);
QByteArray nameBytes(QStringView text);
// The same into out, reusing its storage: for texts written in a loop.
void nameBytesInto(QStringView text, QByteArray& out);

// The program's temporary files and links: "." + name + ".velmor~" + six
// letters or digits, and marked: from its creation until its real times are
// set just before it is renamed into place, a temporary's modification time
// is kTmpMark (1980-01-02 00:00:00 UTC, which FAT's two-second local times,
// exFAT and NTFS hold exactly). A user's file of such a name lacks the mark
// and is an ordinary file. Temporaries are never listed by a scan; stale
// ones (no live run holds them locked) are removed by the next run that
// writes into their folder, and by the next synchronisation of a comparison
// that saw them.
inline constexpr char kTmpTag[] = ".velmor~";
inline constexpr time_t kTmpMark = 315619200;
bool isTempName(QByteArrayView raw);
// A temporary of this program: a temporary name on a regular file or link
// (stat st, links not followed) that carries the mark.
bool isOwnTemp(QByteArrayView raw, const struct stat& st);

// --- descriptors -----------------------------------------------------------------
// Owns one file descriptor; closes it on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);
    // Closes now and returns close()'s result (a write may fail only here).
    int close();

private:
    int m_fd = -1;
};

// Opens the folder rel (bytes, "/"-separated, relative) below the open folder
// base, links never followed; rel empty opens base itself again. Returns the
// descriptor (O_RDONLY | O_DIRECTORY) or an invalid one with errno set.
UniqueFd openBeneath(int base, QByteArrayView rel);

// As openBeneath, creating the missing folder levels first (mode 0777 less
// the umask), each level opened without following a link.
// like >= 0: a level made here whose counterpart below the open folder
// like is a folder gets the counterpart's permission bits plus the owner's
// (exactly, whatever the umask; never more open than the counterpart).
UniqueFd makeBeneath(int base, QByteArrayView rel, int like = -1);

// Gives the item this process has just made (open as fd) exactly the
// permission bits of mode, whatever the umask took at its creation. A
// volume that holds no modes (not one FsKeepsModes knows: FAT through
// fusefat answers ENOSYS, others EPERM or EOPNOTSUPP) may refuse the change;
// there no mode can be held and that is not a failure. Every other failure,
// and any refusal where modes exist, is: false with errno set. known: the
// item's stat when the caller holds one taken since its mode last changed;
// it saves a look at the item (a round trip on a network volume).
bool setExactMode(int fd, mode_t mode, const struct stat* known = nullptr);

// Opens an absolute folder path as path lookup would (links followed on the
// way; the last component too when followLast), also when the path is longer
// than PATH_MAX. Invalid with errno set on failure.
UniqueFd openDirPath(const QByteArray& path, bool followLast);

// Splits an absolute or relative path into its folder's descriptor and the
// last component (for the *at calls on a path of any length). The folder is
// opened with links followed, as path lookup would. Invalid with errno set.
UniqueFd openParentOf(const QByteArray& path, QByteArray& last);

// A hook the tests install to act between two steps of an operation (swap a
// folder for a link, end the process); point names the step just done.
// Empty in normal runs.
using FsHook = std::function<void(const char* point)>;
void setFsHook(FsHook hook);
void fsHook(const char* point);

} // namespace velmor
