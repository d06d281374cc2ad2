#pragma once
// Checks and steps shared by the folder and the file operations (internal to
// src/sync). Each check returns an empty text on success, otherwise the reason.
#include "sync/FsOps.h"
#include "sync/SyncOps.h"

#include <QString>

namespace velmor::opsupport {

// A relative path the operations accept: not empty, not absolute, no empty,
// "." or ".." component. Anything else could reach outside the two roots.
QString checkRel(const QString& rel);

// rel must not lie in the history folder; removes: the operation removes
// rel as a whole, so rel must not hold the history folder either.
QString checkHistory(const SyncCtx& ctx, const QString& rel, bool removes);

enum class Side { One, Two, Backup };

// An entry below a root: its folder opened from the root's descriptor
// (never through a link) and its last name. make: create the missing
// folder levels first. On failure returns false with the reason in err and
// errno set (ENOENT: a folder on the way is missing).
bool entryOf(const SyncCtx& ctx, Side side, const QString& rel, bool make, UniqueFd& dir, fsops::At& at,
             QString& err);

// The options of every copy of the run (what ctx asks the copies to carry).
fsops::CopyOptions copyOptions(const SyncCtx& ctx);

// Before the first write of this run into the folder: removes temporary
// files an earlier run left there (when the comparison saw any).
void cleanTemps(const SyncCtx& ctx, const QString& relDir, int dirFd);

// Writes one log line when the log switch is on. A line that cannot be
// written does not change the outcome of the operation it records (that
// is done); the first failure is kept in ctx.logError and the run stops
// before its next operation.
void writeLog(const SyncCtx& ctx, const QString& text);

// What an operation carried out ahead of its turn on another thread leaves
// for the run to take at the row's turn: its log lines (when the log switch
// is on), and why a backup found the history volume full ("" when none did).
struct Held {
    QStringList log;
    QString historyFull;
};

// While one lives, writeLog and backupFailed on its thread put what they
// would give the log and the run into into instead.
class HeldCapture {
public:
    explicit HeldCapture(Held& into);
    ~HeldCapture();
    HeldCapture(const HeldCapture&) = delete;
    HeldCapture& operator=(const HeldCapture&) = delete;

private:
    Held* m_was;
};

// The folder part of a relative path ("" for a name at the root).
QString relDirOf(const QString& rel);

// status + " Err", with the reason handed to the caller.
QString failed(const QString& status, const QString& reason, QString* why);

// failed() for a row whose backup step failed. When the history volume had
// no room left, every later backup would fail alike: ctx.historyFull gets
// the reason and the run stops after this row.
QString backupFailed(const SyncCtx& ctx, const QString& status, const fsops::FsResult& r, QString* why);

} // namespace velmor::opsupport
