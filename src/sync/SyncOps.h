#pragma once
// The folder and file operations of one synchronisation run: each takes one
// row (relative path + status word), changes folder 2 accordingly, writes the
// change to the run's log, and returns the row's result text: the status word
// on success, the status word + " Err" on failure. Folder 1 is only read.
#include "tasks/Options.h"

#include <QSet>
#include <QString>
#include <vector>

namespace velmor {
class zLog;

// What the operations of one run share.
struct SyncCtx {
    QString sFld1;   // folder 1 root, no trailing "/" (the root "/" itself allowed)
    QString sFld2;   // folder 2 root, same form
    QString sBkFld;  // the run's dated backup folder, ending in "/"; "" without backup
    YRt yRt{};       // switches 2 (log), 3 (backup), 4 (recycle bin) are read here
    zLog* log = nullptr;  // the open log; required when yRt[2] is 1
    // Folders (relative paths) copied whole by this run so far. A later
    // "追加" row inside one of them re-copies only what differs from that copy.
    mutable std::vector<QString> copiedFolders;
    // Folders of folder 2 (relative) already seen to be real folders, not
    // links. File rows only change leaves; every folder row clears it.
    mutable QSet<QString> realFolders;

    // sFld2's last component; "root" for the file-system root.
    QString rootName() const;
    QString source(const QString& rel) const;
    QString destination(const QString& rel) const;
    // sBkFld + root name + "/" + rel.
    QString backupTarget(const QString& rel) const;
};

// rel: relative folder path (no leading or trailing "/"). why receives the
// reason of a failure (for diagnostics) and is left alone on success.
QString SyncFld(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why = nullptr);
// rel: relative path of the file (folder path + "/" + name).
QString SyncFile(const SyncCtx& ctx, const QString& rel, const QString& status, QString* why = nullptr);

} // namespace velmor
