#pragma once
// Reading folders for every part of the program (the folder tree, the scans):
// one lstat-level call per entry, links never followed, listings in name
// order, names that cannot be named again left out.
#include <QString>
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
    bool isDir() const;
};

enum class FsKind {
    Folders,  // real folders only (a link to a folder is not a folder)
    Files,    // regular files and symbolic links; folders, devices, pipes
              // and sockets are left out
};

// Name order of listings: letter case ignored first, then by code unit.
bool nameLess(const QString& a, const QString& b);

// Decodes a name read from the file system. False when the name does not
// survive the round trip through the file-name encoding (it could not be
// named again, so callers leave it out).
bool decodeFileName(const char* raw, QString& name);

// Lists one folder in name order. Entries that vanish between listing and
// reading are left out, and so are names that decodeFileName refuses; those
// are counted in *undecodable when given. Throws FsError when the folder
// cannot be opened or read.
std::vector<FsEntry> FsList(const QString& folder, FsKind kind, int* undecodable = nullptr);

// Reads one item without following a link. Throws FsError when it is
// missing or unreadable.
FsEntry FsStat(const QString& path);

// True when path is an existing folder. followLink: a link to a folder counts
// (for a root the user named); otherwise a link is never a folder.
bool FsIsDir(const QString& path, bool followLink = false);

// True when the two folders are the same or one lies inside the other,
// compared on their real paths (links resolved); true also when either
// cannot be resolved, so a caller that refuses overlapping roots refuses it.
bool FsOverlap(const QString& a, const QString& b);

} // namespace velmor
