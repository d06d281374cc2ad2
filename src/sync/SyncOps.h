#pragma once
// The folder and file operations of one synchronisation run: each takes one
// row (relative path + status word), changes folder 2 accordingly, writes the
// change to the run's log, and returns the row's result text: the status word
// on success, the status word + " Err" on failure. Folder 1 is only read.
//
// Both roots (and the run's backup folder) are opened once, on first use;
// every path below them is resolved from those descriptors one component at
// a time, never through a symbolic link, and acted on with the *at calls.
#include "compare/Compare.h"
#include "env/FsDir.h"
#include "env/VolumeCaps.h"
#include "tasks/Options.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

namespace velmor {
class zLog;
class CopyAhead;
namespace fsops {
class StagedCopy;
class HardLinks;
struct VerifyCounts;
struct FileTally;
}

// What the operations of one run share.
struct SyncCtx {
    QString sFld1;   // folder 1 root, no trailing "/" (the root "/" itself allowed)
    QString sFld2;   // folder 2 root, same form
    QString sBkFld;  // the run's dated backup folder, ending in "/"; "" without backup
    YRt yRt{};       // switches 2 (log), 3 (backup), 4 (recycle bin), 5-7 (attributes) are read here
    // A folder-1 link to a file is copied as that file (fsops::CopyOptions).
    bool followFileLinks = false;
    const VolumeCaps* volume = nullptr;  // what folder 2's volume holds (none: anything)
    zLog* log = nullptr;  // the open log; required when yRt[2] is 1
    PtnLists ptn;         // protection patterns: files of an emptied container they match stay
    // The history/backup folder's path below folder 2 ("" when it is not
    // there): nothing is written into it, and no folder holding it is removed.
    QString histRel;
    // Folders (relative) holding temporary files of an earlier run that
    // ended early; removed before this run first writes there, and from
    // the rest once the rows are done (CleanLeftTemps).
    mutable QSet<QString> tmpLeft;
    // Folders (relative paths) copied whole by this run so far. A later
    // "追加" row inside one of them finds its folder copied already.
    mutable QSet<QString> copiedFolders;
    // What the run left out although its row succeeded (special files,
    // container files that could not be removed), one line each.
    mutable QStringList leftOut;
    // Why a log line could not be written ("" while every line was): the
    // run stops before its next operation, since the log no longer tells
    // what was done.
    mutable QString logError;
    // Why a backup could not be written for lack of room on the history
    // folder's volume ("" while there was room): the run stops before its
    // next operation.
    mutable QString historyFull;
    // The helper threads that copy a folder's files several at a time when the
    // folder is copied whole (none: one at a time).
    CopyAhead* ahead = nullptr;
    // Copies take the owner and group of their sources (fsops::CopyOptions):
    // only where the process may give them and folder 2's volume holds them.
    bool owners = false;
    // The kinds of attributes copies take (kMetaAcls | kMetaXattrs).
    unsigned meta = 0;
    // Where this run put the copies of multi-named files: their later names
    // become hard links to those copies (none: each name is copied).
    fsops::HardLinks* links = nullptr;
    // Every copy is read back from folder 2 and compared with its source
    // before it is put in place (fsops::CopyOptions::verify).
    bool verify = false;
    // What the read-backs did (none: not counted).
    fsops::VerifyCounts* verified = nullptr;
    // Operations kept in flight at once on folder 2 (1: one after another);
    // more spread a folder's copy over ahead's threads (CopyOptions::spread).
    int jobs = 1;
    // When two files' times are the same (as the comparison decided it).
    TimeMatch match;
    // Folders (relative, as bytes) that a move of this run brings to their
    // place: a folder copied whole leaves them alone.
    QSet<QByteArray> movesInto;
    // The folders moved so far: where they are now and where they were.
    mutable QSet<QString> movedIn, movedOut;

    // sFld2's last component; "root" for the file-system root.
    QString rootName() const;
    QString source(const QString& rel) const;
    QString destination(const QString& rel) const;
    // sBkFld + root name + "/" + rel.
    QString backupTarget(const QString& rel) const;

    // Hands the run the roots and the history/backup folder as it opened
    // and checked them; the operations then act on exactly these folders
    // (hist may be invalid when the run keeps no log and no backup).
    void adoptRoots(UniqueFd r1, UniqueFd r2, UniqueFd hist);

    // Descriptors of the roots and of the backup folder: those adopted, else
    // opened by path on first use (invalid when they cannot be opened; errno
    // tells why). The backup folder is made below the history folder's
    // descriptor when one was adopted.
    int root1() const;
    int root2() const;
    int backupRoot() const;
    // The history folder as adopted (-1 when none was).
    int history() const { return m_hist.get(); }

private:
    static int adopted(const UniqueFd& fd);
    mutable UniqueFd m_root1, m_root2, m_hist, m_backup;
    bool m_adopted = false;
};

// rel: relative folder path (no leading or trailing "/"). why receives the
// reason of a failure (for diagnostics) and is left alone on success.
// did: set to what the row did to files where it counts them, failed or not:
// the files and links a folder copied whole got and the bytes written for
// them (none when it came with a folder above it), or the files an emptied
// container lost (no bytes); left alone by every other row.
QString SyncFld(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why = nullptr,
                fsops::FileTally* did = nullptr);
// rel: relative path of the file (folder path + "/" + the file's exact name).
// staged: the copy of the source written ahead (StageFile), put in place
// instead of a new one when valid.
QString SyncFile(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why = nullptr,
                 fsops::StagedCopy* staged = nullptr);

// The file row (rel, status) copies its source when carried out, and its
// copy may be written ahead: the copy of at most maxBytes is then written
// beside the destination (fsops::StageCopy), for SyncFile to put in place
// at the row's turn. Reads ctx only (safe on another thread while the run
// goes on); false when nothing was written.
bool CopiesSource(const SyncCtx& ctx, const QString& status);
// Makes the metadata of the folder-2 entry rel (a file or link, or a folder
// when folder) that of its folder-1 twin without copying any data:
// permission bits, owner, ACLs and extended attributes as ctx asks, and a
// file's or link's times (a folder's come at the end of the run, from
// SyncFolderTimes). Nothing is backed up: no data is lost. Returns status,
// or status + " Err" with the reason in *why.
QString SyncMeta(const SyncCtx& ctx, const QString& rel, const QString& status, bool folder, QString* why = nullptr);
// Gives the folder-2 folder rel the times of its folder-1 twin (nothing
// else: its other metadata are its own row's). "" on success, also when
// either twin is missing or no folder; otherwise the reason (also in *why).
QString SyncFolderTimes(const SyncCtx& ctx, const QString& rel, QString* why = nullptr);
bool StageFile(const SyncCtx& ctx, const QString& rel, long long maxBytes, fsops::StagedCopy& out);

// Moves the folder-2 item from (a "削除" row's) to to (the place of its
// "追加" partner), or renames a file to another letter case (from is then
// to as folder 2 spells it): one rename below folder 2's root, after a look
// that the folder-1 item at to is still what folder 2 holds at from (a
// file's size and time, a folder's whole tree by SameTrees). The missing
// folders above to are made as a copy makes them; the item then gets the
// folder-1 item's metadata where they differ (not its times: they are the
// same). Logs one line. Returns "" once moved; otherwise why not, folder 2
// unchanged, and the two rows are carried out as a copy and a deletion.
QString SyncMove(const SyncCtx& ctx, const QString& from, const QString& to, bool folder);

// Removes the temporary files of an earlier run from every folder still in
// ctx.tmpLeft (those the comparison saw them in and no row has written into
// yet), each opened below folder 2's root, never through a link. A file a
// live run holds stays. Folders where some could not be removed, or that
// could not be opened, are named in ctx.leftOut; a folder gone meanwhile has
// nothing left to remove.
void CleanLeftTemps(const SyncCtx& ctx);

} // namespace velmor
