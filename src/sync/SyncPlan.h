#pragma once
// What a synchronised row does, decided from its status word and the option
// switches alone (no disk access), plus the log texts of every change. The
// operations in SyncFld.cpp / SyncFile.cpp carry the decisions out.
#include "compare/Compare.h"  // the status words (St::)
#include "tasks/Options.h"

#include <QString>

namespace velmor {

// Appended to the status word of a row whose operation failed.
inline const QString kErrSuffix = QStringLiteral(" Err");

// Switch indexes of yRt used here.
enum : int { kSwLog = 2, kSwBackup = 3, kSwTrash = 4 };

// One folder row.
enum class FldOp {
    None,           // no operation for this status
    DeleteFiles,    // "空": delete the files directly inside the destination
    MakeDir,        // "空追": create the destination, one level
    CopyTree,       // "追加": create the parent chain, copy the source folder
    SaveAndRemove,  // "削除" with backup: move the destination below the backup folder
    Trash,          // "削除" with the recycle bin
    Remove,         // "削除": delete the destination with everything in it
};
FldOp DecideFld(const QString& status, const YRt& yRt);

// One file row: an optional backup move, then one operation.
enum class FileOp { None, Copy, Trash, Remove };
struct FilePlan {
    bool backup = false;  // move the destination to its backup target first
    FileOp op = FileOp::None;
    bool operator==(const FilePlan&) const = default;
};
FilePlan DecideFile(const QString& status, const YRt& yRt);

// Log texts (paths as given; the log adds the time stamp).
namespace logtx {
QString filesDeleted(const QString& dst);                      // "空"
QString created(const QString& dst);                           // "空追"
QString copied(const QString& src, const QString& dst);        // "追加"
QString overwritten(const QString& src, const QString& dst);   // "上書"
QString moved(const QString& dst, const QString& target);      // backup move
QString trashed(const QString& dst);                           // recycle bin
QString deleted(const QString& dst);                           // plain delete
QString metaFixed(const QString& dst, const QString& what);    // metadata corrected in place
// What reading copies back did: read back (of which rewritten differed and
// were written again), and copies sharing their sources' blocks, not read.
QString verified(long long readBack, long long rewritten, long long shared);
QString expired(const QString& path);                         // old history removed by the task's limits
} // namespace logtx

} // namespace velmor
