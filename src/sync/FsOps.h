#pragma once
// File-system primitives of the synchronisation, on open folders.
//
// Every entry is named by an open folder and one name in it (At), so an
// operation acts exactly where its folder was resolved, whatever happens to
// the path meanwhile, and paths of any length work. Names are bytes, exactly
// as the kernel has them. Symbolic links are never followed: a link is an
// item of its own, copied as a link and removed as a link, also inside a
// folder. Every copy of a file writes a temporary ".<name>.velmor~XXXXXX"
// beside the target and renames it into place only when complete, so the
// target is always either the old item or the complete new one. A temporary
// file is held flocked (LOCK_EX) while it is written, until it is renamed or
// removed: one that can be locked belongs to no live run. A temporary that
// waits for its turn (a copy written ahead) is marked once it is complete:
// its modification time is kTmpMark (see env/FsDir.h) until its real times
// are set just before the rename. One put in place as soon as it is written
// gets its real times instead, right before that rename. Only a marked entry
// of a temporary name is taken for one (isOwnTemp): a user's file that
// merely has such a name is listed, copied and never cleaned up; a
// temporary left by a run killed while it wrote data, or in the moment
// before its rename, is such an unmarked one.
//
// A copy is never a mixture of two versions of its source: the open source
// is looked at (fstat: size, modification and change time in nanoseconds)
// before its data is read and again once it is written; when they differ the
// temporary is dropped and the file copied once more, and when it changed
// again the copy fails, the target untouched.
//
// Modes are exact: a file or folder made here gets the source's permission
// bits whatever the umask. A temporary file is made open to its owner only
// (0600) and gets its exact mode as the last step before its times and the
// rename, after its owner and attributes (a change of owner clears the
// set-ID bits; a change of owner or data clears a file capability), so no
// one ever sees it more open than its source. A folder gets its mode when
// it is made (set on the open folder before anything goes in), so a run
// killed at any point leaves nothing at a mode of its own. A folder whose source mode denies the owner writing or
// searching it gets those two bits while it is filled and its exact mode
// after. A folder that was there before keeps its permissions. A volume
// that holds no modes (FAT, exFAT and others FsKeepsModes does not know)
// may refuse setting them (EPERM, ENOSYS, EOPNOTSUPP) or ignore it: there
// the copy stays as made, whatever mode the volume shows.
//
// A tree copy (CopyTree) goes on past every item it cannot copy and names
// each failure to its caller; what was copied stays.
#include "env/FsDir.h"
#include "env/Reasons.h"
#include "env/VolumeCaps.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace velmor {
class CopyAhead;
}

namespace velmor::fsops {

// A name as bytes, exactly as handed to the kernel.
using NPath = QByteArray;

// An entry: the open folder that holds it and its name there. path is the
// full path, for messages only (never used to reach the entry). An entry
// below folder 2 may also name its place there: root, the open root, and
// rel, the path below it (root < 0: not known). Copies of one multi-named
// file find each other's places through them (HardLinks).
struct At {
    At() = default;
    At(int dir, NPath name, QString path, int root = -1, NPath rel = {})
        : dir(dir), name(std::move(name)), path(std::move(path)), root(root), rel(std::move(rel))
    {
    }
    int dir = -1;
    NPath name;
    QString path;
    int root = -1;
    NPath rel;
};

// Where the copies of the source files that have more than one name went in
// one run: a later name of such a file becomes a second name of its first
// copy instead of a copy of its own. Thread-safe: a tree copy writes two
// files at a time.
class HardLinks {
public:
    struct Place {
        int root = -1;  // the open folder-2 root
        NPath rel;      // the copy's path below it
    };
    // The copy of the source file (dev, ino) is at place from now on.
    void put(dev_t dev, ino_t ino, const Place& place);
    // Where the copy of the source file (dev, ino) went (false: none yet).
    bool find(dev_t dev, ino_t ino, Place& out) const;

private:
    mutable std::mutex m_lock;
    std::map<std::pair<dev_t, ino_t>, Place> m_places;
};

// Outcome of an operation: empty on success, otherwise a short English
// reason naming the failing step and path (WhyText; the grid shows " Err",
// and the reason in Japanese as its tooltip).
struct FsResult {
    QString error;   // the reason, "" on success
    int err = 0;     // the system's error of a failed step (0: a check of our own)
    QString path;    // the item that step failed on
    bool ok() const { return error.isEmpty(); }
    // The reason why at path (err: the system's error, 0 for a check of
    // our own; more: the reason's further texts).
    static FsResult fail(Why why, const QString& path, int err = 0, const QStringList& more = {});
    // A reason given whole (one made elsewhere, e.g. by TrashAt).
    static FsResult fail(const QString& text);
};

enum class Kind { None, File, Dir, Link, Other };
// Kind of the entry, links not followed; st receives the data when given.
// None when nothing is there (errno tells whether it is missing).
Kind kindOf(const At& e, struct stat* st = nullptr);

// What the read-back of copies (CopyOptions::verify) did, counted across
// threads.
struct VerifyCounts {
    std::atomic<long long> readBack{0};   // copies read back and compared with their sources
    std::atomic<long long> shared{0};     // copies sharing their sources' blocks (reflinks): not read back
    std::atomic<long long> rewritten{0};  // copies written once more since they read back differently
};

// Files and links, and the bytes of data written for them: what a tree copy
// put in place (CopyOptions::tally), what a folder row did (SyncFld).
struct FileTally {
    long long files = 0;
    long long bytes = 0;
};

// The "R" attribute: the owner has no write permission.
inline bool isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

struct CopyOptions {
    // Refuse to replace a regular file whose owner has no write permission,
    // even when the process could (root). Backups of our own copies turn it off.
    bool refuseReadOnlyTarget = true;
    // CopyTree copies the files of a folder several at a time, on these helpers'
    // threads and its own (none: one at a time).
    CopyAhead* ahead = nullptr;
    // CopyTree leaves out the files and links whose names this says no to
    // (none: every one is copied).
    std::function<bool(const NPath& name)> leaveOut;
    // A source link whose target is a regular file is copied as that file
    // (the target's content, permission bits and times; the copy is a
    // regular file). A link to anything else is still copied as a link, and
    // nothing on the destination side is ever followed.
    bool followFileLinks = false;
    // What the destination's volume holds (none: anything). CopyTree then
    // does not try what it cannot take: a name it refuses, a link where it
    // holds none, and a second name of one folder that it files under the
    // key of an earlier one (the first keeps it); each fails on its own.
    const VolumeCaps* volume = nullptr;
    // The copy takes the source's owner and group (by number): only where
    // the process may give them (root) and the volume holds them.
    bool owners = false;
    // The kinds of attributes the copy takes (kMetaAcls | kMetaXattrs of
    // env/FileMeta.h: POSIX ACLs, default ACLs of folders included; extended
    // attributes of every namespace but system.), only those the volume
    // holds. An attribute the process may not set fails the copy, naming it.
    unsigned meta = 0;
    // Multi-named source files copied so far in this run (none: each name
    // is copied on its own). A destination that names its place (At::root)
    // becomes a hard link to the first copy of its source file when there
    // is one; when that copy is gone or cannot be linked to, the data is
    // copied as usual.
    HardLinks* links = nullptr;
    // Every copy of a file's data is read back before it is put in place:
    // flushed to the volume, its pages dropped from the kernel's cache, read
    // again and compared with the source's bytes. One that reads back
    // differently is dropped and written once more; when that one does too
    // the copy fails ("... read back differently from what was written"),
    // the target untouched. Not read back: a copy sharing the source's
    // blocks (a reflink: nothing of it was written) and a second name of an
    // earlier copy (that copy was). verified counts what was done (none:
    // not counted).
    bool verify = false;
    VerifyCounts* verified = nullptr;
    // CopyTree leaves alone every folder below the destination whose place
    // below folder 2 (At::rel, where the destination names its place) this
    // says yes to: its content comes by other means (a move of this run).
    std::function<bool(const NPath& rel)> leaveFolder;
    // CopyTree adds to it each file and link it put in place and the bytes
    // it wrote for them (none: not counted).
    FileTally* tally = nullptr;
    // With ahead, where the destination names its place (At::root): CopyTree
    // hands each folder's files to ahead's threads and goes on into the next
    // folders meanwhile, so that many folders fill at once (a volume whose
    // every answer waits on a server, and which makes one folder's entries
    // one at a time). The folders get their times once everything is in.
    bool spread = false;
};

// A copy of a file written ahead of its turn: complete, still under its
// temporary name beside the destination and flocked. CopyItem and
// ReplaceKeepingOld put it in place instead of writing one (the destination
// is looked at then, as always) when the source is still the file it was
// read from (same device and inode, size, modification and change time);
// otherwise, and when dropped unused, it is removed and the copy is made as
// if none had been written ahead.
class StagedCopy {
public:
    StagedCopy();
    ~StagedCopy();
    StagedCopy(StagedCopy&&) noexcept;
    StagedCopy& operator=(StagedCopy&&) noexcept;
    bool valid() const { return bool(d); }
    struct Data;
    std::unique_ptr<Data> d;
};

// Writes a copy of the regular file src, when it is at most maxBytes long,
// beside dst under a temporary name. hold keeps dst's folder open for the
// copy (an invalid hold: dst.dir is the caller's and stays open until the
// copy is put in place or dropped). False, with nothing left behind, when
// src is no such file or anything fails: the copy is then made at its turn
// as usual, which tells why it fails.
// opt: as CopyItem's (owners and attributes; the rest plays no part here).
bool StageCopy(const At& src, const At& dst, long long maxBytes, UniqueFd hold, StagedCopy& out,
               const CopyOptions& opt = {});

// Copies one regular file or symbolic link src to dst, keeping the source's
// permission bits and access/modification times (nanoseconds), and, as opt
// asks, its owner, group, ACLs and extended attributes; holes of a
// sparse file stay holes, and a file system that can share the data (a
// reflink) shares it. A folder at dst is never replaced. Folders and special
// files (pipes, sockets, devices) as src fail; they are never opened. A
// source that keeps changing while it is copied fails ("... the source
// changed while it was copied"), dst unchanged.
// staged: this copy of src written ahead, put in place when valid.
FsResult CopyItem(const At& src, const At& dst, const CopyOptions& opt = {}, StagedCopy* staged = nullptr);

// True when name (below the open folder dir) is a regular file of more than
// one name, looked at through a link when follow; *st receives its stat.
// Such a file's names are copied one after another (opt.links): each later
// one then becomes a link to the first one's copy.
bool IsMultiNamedFile(int dir, const char* name, bool follow, struct stat* st = nullptr);

// Replaces the file or link dst with a copy of src and keeps the old dst at
// keep (replacing a file there): the new copy is written beside dst first,
// then the old one is linked (or copied) to keep, then the new one is
// renamed over dst. dst is the old or the new item at every moment; on a
// failure dst is unchanged and keep holds no partial copy. dst must exist.
// opt.followFileLinks applies to src as in CopyItem.
FsResult ReplaceKeepingOld(const At& src, const At& dst, const At& keep, StagedCopy* staged = nullptr,
                           const CopyOptions& opt = {});

// Copies the folder src with everything below it into dst: dst is created
// when missing (its folder must exist) and merged into when it is a folder
// already; files and links go through CopyItem; new folders get the source
// folder's permissions as they are made, and every folder's times are taken
// from the source, also when the copy of its content failed in part. A
// folder's files and links are copied before its subfolders. Special files
// are skipped, never opened: their paths are added to *skipped.
// The copy goes on past every item it cannot copy (a name the volume
// refuses, a link on a volume without links, a file that cannot be read, a
// subfolder that cannot be made or listed): each such failure is appended
// to *failed (its error names the item and why), in the order of the tree,
// and the rest is still copied; what was copied stays. Returns the first of
// them, or, with *failed untouched, the failure that kept the copy from
// starting (src no folder, dst not made); success when all was copied.
FsResult CopyTree(const At& src, const At& dst, const CopyOptions& opt = {}, QStringList* skipped = nullptr,
                  std::vector<FsResult>* failed = nullptr);

// Makes the metadata of the existing entry dst (a file, link or folder,
// never followed) that of src without copying any data: permission bits
// (where opt.volume keeps modes or is not given), owner and group
// (opt.owners), ACLs and extended attributes (opt.meta: those that differ
// are set, those src lacks removed) and, with times, the access and
// modification times. Works on items whose mode denies everyone access. A
// src of another kind than dst fails, dst unchanged. what (when given)
// receives what was changed besides the times, blank-separated ("所有者",
// "ACL・拡張属性", "属性"; "" when nothing was).
FsResult FixMeta(const At& src, const At& dst, const CopyOptions& opt, bool times, QString* what = nullptr);

// Removes the entry: a file, a link (never its target) or a folder with
// everything in it, read-only content included (permissions are widened on
// the way down where needed). A missing entry is success.
FsResult RemoveItem(const At& e);

// Creates exactly one folder level with exactly the permission bits of the
// folder like (the umask does not apply); without one, 0777 less the umask.
// Fails when anything exists there.
FsResult MakeDir(const At& e, const struct stat* like = nullptr);
// The same with the permission bits of the folder src, and its owner and
// attributes as opt asks (given before anything can go in).
FsResult MakeDirLike(const At& e, const At& src, const CopyOptions& opt);

// Moves src to dst. A file or link replaces a non-folder dst. A folder src
// onto a missing dst is renamed (or copied then removed across file systems);
// onto an existing folder dst it is merged: every entry of src replaces the
// entry of the same name in dst, then src is removed, so nothing of src is
// lost and entries of dst that src lacks stay. Fails when src is missing.
FsResult MoveItem(const At& src, const At& dst);

// Renames src to dst (one rename on one volume, never a copy), never
// replacing anything at dst: fails with EEXIST when dst is taken and with
// EXDEV when the two lie on different volumes. Where dst names src itself
// in another letter case (a volume that ignores case), src is given the new
// spelling through a temporary name, so the change is not lost on volumes
// that take such a rename for no change at all.
FsResult RenameItem(const At& src, const At& dst);

// Removes the program's temporary files directly inside the open folder
// (left there by a run that ended early): marked files and links of
// temporary names (isOwnTemp), never a folder, anything else or a user's
// file of such a name, and never a file that a live run holds locked (it is
// skipped, not counted). Returns how many could not be removed.
int RemoveTempsIn(int dirFd);

} // namespace velmor::fsops
