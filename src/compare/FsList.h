#pragma once
// File-system reading for the scans: one lstat-level call per entry, links
// never followed, listings in name order.
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
    long long size = 0;   // bytes (a link: the length of its target text)
    long long mtime = 0;  // last modification, seconds since the epoch
    mode_t mode = 0;      // st_mode of the entry itself (links not followed)
    bool isDir() const;
};

enum class FsKind {
    Folders,  // real folders only (a link to a folder is not a folder)
    Files,    // regular files and symbolic links; folders, devices, pipes
              // and sockets are left out
};

// Lists one folder in name order (dirlist::nameLess, as the folder tree).
// Entries that vanish between listing and reading are left out, and so are
// names that are not valid in the platform's file-name encoding (they could
// not be named again); those are counted in *undecodable when given. Throws
// FsError when the folder cannot be opened or read.
std::vector<FsEntry> FsList(const QString& folder, FsKind kind, int* undecodable = nullptr);

// Reads one item without following a link. Throws FsError when it is
// missing or unreadable.
FsEntry FsStat(const QString& path);

// True when path is an existing folder (links not followed).
bool FsIsDir(const QString& path);

// "yy/MM/dd hh:mm" of a time in seconds, in local time (seconds dropped).
QString DateText(long long secs);

// Attribute text of a folder-2 item: "R" when its owner has no write
// permission, "H" when its name begins with ".", "S" never; "*" otherwise.
QString AttrText(const QString& name, mode_t mode);

} // namespace velmor
