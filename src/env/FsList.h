#pragma once
// Reading folders for every part of the program (the folder tree, the scans):
// one lstat-level call per entry, links never followed, listings in name
// order. Names are decoded with nameText (env/FsDir.h), so every name on disk
// is listed and can be named again; paths of any length work.
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
    long long mtimeNs = 0;  // the same in nanoseconds since the epoch
    mode_t mode = 0;        // st_mode of the entry itself (links not followed)
    dev_t dev = 0;          // device and inode: which item it is
    ino_t ino = 0;
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

// What a Files listing left out besides folders.
struct FsLeftOut {
    QStringList special;  // names of pipes, sockets and devices (no copy can take them)
    bool temps = false;   // the program's temporary files were there
};

// Lists one folder in name order. Entries that vanish between listing and
// reading are left out. A Files listing reports in *left what else it left
// out. Throws FsError when the folder cannot be opened or read.
std::vector<FsEntry> FsList(const QString& folder, FsKind kind, FsLeftOut* left = nullptr);
// The same for an open folder; folder names it in messages.
std::vector<FsEntry> FsListAt(int dirFd, const QString& folder, FsKind kind, FsLeftOut* left = nullptr);

// Reads one item without following a link. Throws FsError when it is
// missing or unreadable.
FsEntry FsStat(const QString& path);
// The same for the entry name of the open folder dirFd; path names it in messages.
FsEntry FsStatAt(int dirFd, const QString& name, const QString& path);

// True when path is an existing folder. followLink: a link to a folder counts
// (for a root the user named); otherwise a link is never a folder.
bool FsIsDir(const QString& path, bool followLink = false);

// The real path of a folder (links resolved), "" when it cannot be opened.
QString FsRealPath(const QString& path);

// The path of inner below outer, components joined with "/" ("" when they
// are the same path), or a null text when inner is neither outer nor inside
// it. Compares the texts as given: callers pass real paths.
QString pathBelow(const QString& inner, const QString& outer);

// True when the two folders are the same or one lies inside the other,
// compared on their real paths (links resolved); true also when either
// cannot be resolved, so a caller that refuses overlapping roots refuses it.
bool FsOverlap(const QString& a, const QString& b);

} // namespace velmor
