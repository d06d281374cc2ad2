#pragma once
// Reading folders for every part of the program (the folder tree, the scans):
// one lstat-level call per entry, links never followed, listings in name
// order. Names are decoded with nameText (env/FsDir.h), so every name on disk
// is listed and can be named again; paths of any length work.
#include "env/FsDir.h"

#include <QString>
#include <QStringList>
#include <stdexcept>
#include <sys/types.h>
#include <vector>

namespace velmor {

// A folder or item that could not be read; what() names the path and the
// system's reason.
class FsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FsEntry {
    QString name;
    long long size = 0;     // bytes (a link: the length of its target text)
    long long mtime = 0;    // last modification, seconds since the epoch
    long long mtimeNs = 0;  // the same in nanoseconds since the epoch (years 1678 to 2262 only)
    long mtimeNsec = 0;     // the nanoseconds of mtime (0 to 999,999,999): exact in every year
    mode_t mode = 0;        // st_mode of the entry itself (links not followed)
    dev_t dev = 0;          // device and inode: which item it is
    ino_t ino = 0;
    uid_t uid = 0;          // owner and group
    gid_t gid = 0;
    nlink_t links = 1;      // names of the item (hard links)
    // Set by a Folders listing on a folder known to hold no folders: its link
    // count says so, on a file system whose folder link counts are two plus
    // their subfolders (ext2/3/4, XFS, tmpfs) and not across a mount. False
    // when not known; such a folder needs no listing to find its subfolders.
    bool noSubfolders = false;
    bool isDir() const;
};

enum class FsKind {
    Folders,  // real folders only (a link to a folder is not a folder)
    Files,    // regular files and symbolic links; folders, devices, pipes,
              // sockets and the program's temporary files are left out
};

// Name order of listings: letter case ignored first, then by code unit.
bool nameLess(const QString& a, const QString& b);

// What a listing left out: a Files listing's special and temporary files
// (besides folders), a Folders listing's files.
struct FsLeftOut {
    QStringList special;  // names of pipes, sockets and devices (no copy can take them)
    bool temps = false;   // the program's temporary files were there
    // A Folders listing: the files and links it passed over, counted by
    // their type in the listing without a look at each (so a temporary
    // file counts as well).
    long long files = 0;
};

// Whether the link count of a folder tells that it holds no subfolders
// (2 = none) on the volume dev: true on file systems that keep it so.
struct FsLinkCounts {
    dev_t dev = 0;
    bool trusted = false;
};
// Asks the volume of the open folder fd (a round trip on a network mount).
FsLinkCounts FsLinkCountsOf(int fd);

// Lists one folder in name order. Entries that vanish between listing and
// reading are left out. A Folders listing marks the folders that hold no
// folders (FsEntry::noSubfolders) where the volume's link counts tell it. A
// listing reports in *left what else it left out. Throws FsError when
// the folder cannot be opened or read.
std::vector<FsEntry> FsList(const QString& folder, FsKind kind, FsLeftOut* left = nullptr);
// The same for an open folder; folder names it in messages. A walk over a
// tree hands in its volume's link counts, known once (FsLinkCountsOf); else
// a Folders listing asks for them itself.
std::vector<FsEntry> FsListAt(int dirFd, const QString& folder, FsKind kind, FsLeftOut* left = nullptr,
                              const FsLinkCounts* counts = nullptr);

// Replaces every link of a Files listing of the open folder dirFd whose
// target is a regular file by that file (size, times, mode, identity; the
// link's name stays): for a folder 1 whose file links are copied as the
// files they point to. A link to a folder or to nothing stays a link.
void FollowFileLinks(int dirFd, std::vector<FsEntry>& files);

// Reads one item without following a link. Throws FsError when it is
// missing or unreadable.
FsEntry FsStat(const QString& path);
// The same for the entry name of the open folder dirFd; path names it in messages.
FsEntry FsStatAt(int dirFd, const QString& name, const QString& path);

// True when path is an existing folder. followLink: a link to a folder counts
// (for a root the user named); otherwise a link is never a folder.
bool FsIsDir(const QString& path, bool followLink = false);

// Which item an open descriptor is: its device and inode. A bind mount or
// a link names the same item as its target, so two paths are the same
// folder exactly when their identities are equal.
struct FsId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool valid() const { return dev != 0 || ino != 0; }
    bool operator==(const FsId&) const = default;
};
// The identity of the open descriptor fd; an invalid one when fstat fails.
FsId FsIdOf(int fd);

// Where the open folder inner lies with respect to the folder outer: the
// walk goes up from inner through ".." (each level opened by descriptor, so
// the kernel, not a path text, says what the parent is) up to the
// file-system root and compares every level's identity with outer. Returns
// "" when they are the same folder, the path of inner below outer
// (components joined with "/") when it lies inside it, and a null text when
// it does not or the walk cannot be made. Bind mounts and links are seen
// for what they are. withNames false answers the question only (the path
// is then "" for any level inside); true also names the components, which
// costs one listing per level.
QString FsBelowAt(int inner, const FsId& outer, bool withNames = true);

// True when the volume of the open item fd is known to keep permission bits
// as they are set (ext2/3/4, XFS, btrfs, tmpfs, overlayfs and other POSIX
// file systems); false for FAT, exFAT, NTFS, FUSE, network volumes and any
// other, whose modes may be made up or mapped.
bool FsKeepsModes(int fd);

// True when the volume of the open item fd keeps modification times in
// steps of two seconds: a FAT volume (vfat, msdos, or FAT through FUSE), by
// its magic number or by its type in the mount table.
bool FsKeepsTwoSecondTimes(int fd);

// True when the volume of the open item fd loses what a folder holds when
// the folder is renamed (FAT through fusefat): folders there are moved by
// copying them.
bool FsLosesRenamedFolders(int fd);

// The other views of the open folder fd that the mount table tells of, each
// open: the same folder through the mount a bind mount of a subfolder was
// made from, and the source folder of a FUSE mirror (bindfs) and of any
// mount of a folder path. Empty when fd is seen where it lives.
std::vector<UniqueFd> FsViewsOf(int fd);

// True when the open folder inner is outer or lies inside it, by identity
// (as FsBelowAt) through every view of either (FsViewsOf): a bind mount or
// a FUSE mirror of a folder inside outer counts as inside.
bool FsInsideAt(int inner, int outer);

// True when the two open folders are the same or one lies inside the other
// (FsInsideAt both ways).
bool FsOverlapAt(int a, int b);

// The same for two folders named by path (links followed, as the user named
// them); true also when either cannot be opened, so a caller that refuses
// overlapping roots refuses it.
bool FsOverlap(const QString& a, const QString& b);

} // namespace velmor
