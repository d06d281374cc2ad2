#pragma once
// File-system primitives of the synchronisation, on native (byte) paths.
//
// Every function works on the bytes of a path as the kernel sees them, so a
// name that is not valid UTF-8 is copied, moved and deleted under its own
// name and never re-spelled. Symbolic links are never followed: a link is an
// item of its own, copied as a link and removed as a link, also inside a
// folder. Every copy goes through CopyItem, which never leaves a truncated
// target behind.
#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace velmor::fsops {

// A path as bytes, exactly as handed to the kernel.
using NPath = QByteArray;

// The native form of a path held as text (the inverse of how listings decode names).
NPath native(const QString& path);
// Joins a folder and a relative part with one "/" (the root "/" gets no second one).
NPath join(const NPath& dir, const NPath& name);
// The folder part of a path (everything before the last "/"; "/" for "/x").
NPath parentOf(const NPath& path);

// Outcome of an operation: empty on success, otherwise a short English
// reason naming the failing step and path (for diagnostics; the grid only
// shows " Err").
struct FsResult {
    QString error;
    bool ok() const { return error.isEmpty(); }
    static FsResult fail(const char* step, const NPath& path, int err);
    static FsResult fail(const QString& text);
};

enum class Kind { None, File, Dir, Link, Other };
// Kind of the item at path without following a final link; st receives the
// lstat data when given. None when nothing is there (or it cannot be read).
Kind kindOf(const NPath& path, struct stat* st = nullptr);
inline bool exists(const NPath& path) { return kindOf(path) != Kind::None; }

// The "R" attribute: the owner has no write permission.
inline bool isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

struct CopyOptions {
    // Refuse to replace a regular file whose owner has no write permission,
    // even when the process could (root). Backups of our own copies turn it off.
    bool refuseReadOnlyTarget = true;
    // CopyTree only: leave a regular destination file alone when it has the
    // source's size, permission bits and modification time (ns). For trees
    // this run has just copied, where such a file is that copy.
    bool skipUnchanged = false;
};

// Copies one regular file or symbolic link src to dst, keeping the source's
// permission bits and access/modification times (nanoseconds). The data is
// written to a temporary ".<name>.velmor~XXXXXX" beside dst and renamed over
// dst only when complete; on any failure the temporary is removed, so dst is
// either the old item or the complete new one. A folder at dst is never
// replaced. Folders and special files (pipes, sockets, devices) as src fail.
FsResult CopyItem(const NPath& src, const NPath& dst, const CopyOptions& opt = {});

// Copies the folder src with everything below it into dst: dst is created
// when missing (the parent must exist) and merged into when it is a folder
// already; files and links go through CopyItem; folder permissions of new
// folders and every folder's times are taken from the source. Stops at the
// first failure; what was copied before stays.
FsResult CopyTree(const NPath& src, const NPath& dst, const CopyOptions& opt = {});

// Removes the item at path: a file, a link (never its target) or a folder
// with everything in it, read-only content included (permissions are
// widened on our way down where needed). A missing item is success.
FsResult RemoveItem(const NPath& path);

// Removes every non-folder entry (files, links) directly inside dir, hidden
// ones included. Subfolders are not touched. Returns how many entries could
// not be removed (a missing dir, or a link in its place, has nothing to remove).
int RemoveFilesIn(const NPath& dir);

// Creates exactly one folder level (mode 0777 less the umask). Fails when
// anything exists at path or the parent is missing.
FsResult MakeDir(const NPath& path);

// Moves src to dst. A file or link replaces a non-folder dst. A folder src
// onto a missing dst is renamed (or copied then removed across file systems);
// onto an existing folder dst it is merged: every entry of src replaces the
// entry of the same name in dst, then src is removed, so nothing of src is
// lost and entries of dst that src lacks stay. Fails when src is missing.
FsResult MoveItem(const NPath& src, const NPath& dst);

} // namespace velmor::fsops
