#pragma once
// Helpers that the file-system operations share (internal to src/sync): the
// listing of an open folder, the temporary entry a copy writes, and the copy
// of one non-folder entry.
#include "sync/FsOps.h"

#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::fsops::detail {

inline QString child(const QString& dir, const NPath& name)
{
    return dir.endsWith(QLatin1Char('/')) ? dir + nameText(name) : dir + QLatin1Char('/') + nameText(name);
}

// The temporary entry being written: removed on scope exit unless it was
// renamed into place. A temporary file stays flocked (LOCK_EX, held through
// lock) until then, which tells a cleaner that a live run still writes it.
struct TmpGuard {
    int dir = -1;
    NPath name;
    UniqueFd lock;
    struct timespec times[2] {};  // access and modification time it gets when settled
    struct stat source {};        // the source file as it was read (st_mode 0 for anything else)
    // Set by its maker: it is put in place as soon as it is written, so it
    // takes its real times at once instead of the mark (a round trip less
    // on a network volume).
    bool placeNow = false;
    bool timesGiven = false;  // its real times are set already (by each writing of it)
    ~TmpGuard() { discard(); }
    // Removes the entry now. Its name goes before its lock, so no cleaner
    // ever finds it unlocked.
    void discard()
    {
        if (!name.isEmpty())
            ::unlinkat(dir, name.constData(), 0);
        release();
    }
    void release()
    {
        name.clear();
        lock.reset();
    }
};

struct Entry {
    NPath name;
    unsigned char type;  // DT_* of the listing (DT_UNKNOWN when the file system does not say)
};

// Entries of the open folder dfd (without "." and ".."), bytewise sorted so
// that work and failures happen in a stable order. Returns false with errno set.
bool listDirAt(int dfd, std::vector<Entry>& out);

UniqueFd openSubdir(const At& e);

// A temporary name beside an entry: "." + name + ".velmor~" + 6 random
// characters, the name part shortened so the whole stays within NAME_MAX.
NPath tmpNameFor(const NPath& name);

// The times a temporary carries from its creation until it is settled: its
// access time as it is, the program's mark as modification time.
inline constexpr struct timespec kTmpMarkTimes[2] = {{0, UTIME_OMIT}, {kTmpMark, 0}};

// Creates a new temporary file beside dst with mode and takes its lock
// (tmp names and holds it), not marked yet: its writer marks it (or gives
// it its real times) once its data is in, since writing data takes a mark
// away. Returns the descriptor to write through, and in *made its stat
// right after it was locked (owner and mode as made).
FsResult createTemp(const At& dst, mode_t mode, TmpGuard& tmp, UniqueFd& out, struct stat* made = nullptr);

// Gives the item just made (made: its folder and name; not followed) the
// owner and group of the source (stat ss) and its attributes, as opt asks;
// not its mode, which comes after (a new owner clears the set-ID bits).
// srcFd: the source, open (O_PATH does); read only when attributes are asked for.
// madeFd and *madeSt: the item made, open, and its stat as made, when the
// caller holds them; with no attributes asked for, the owner is then set
// through madeFd without opening and looking at the item again.
FsResult giveOwnerAndAttrs(int srcFd, const struct stat& ss, const At& made, const CopyOptions& opt,
                           int madeFd = -1, const struct stat* madeSt = nullptr);

// &made when the item's stat as made (made) still tells its mode after
// giveOwnerAndAttrs gave it the source's (ss) owner and attributes as opt
// asks: no attributes, and the owner it was made with kept (a new owner
// takes the set-ID bits, an ACL the group's); else nullptr. For setExactMode,
// which then need not look at the item again.
const struct stat* modeAsMade(const struct stat& made, const struct stat& ss, const CopyOptions& opt);

// Copies one non-folder entry; dstMissing skips the look at the destination
// (a folder just made). staged: the copy written ahead, used when valid.
// wrote: receives the bytes of data the copy wrote once it is in place (a
// file's size; 0 for a link, and for a second name of an earlier copy).
FsResult copyEntry(const At& src, const At& dst, unsigned char type, bool dstMissing, const CopyOptions& opt,
                   StagedCopy* staged = nullptr, long long* wrote = nullptr);

} // namespace velmor::fsops::detail
