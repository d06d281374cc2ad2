#pragma once
// Checks and steps shared by the folder and the file operations (internal to
// src/sync). Each returns an empty text on success, otherwise the reason.
#include "sync/FsOps.h"
#include "sync/SyncOps.h"

#include <QString>

namespace velmor::opsupport {

// A relative path the operations accept: not empty, not absolute, no empty,
// "." or ".." component. Anything else could reach outside the two roots.
QString checkRel(const QString& rel);

// No folder between sFld2 and sFld2/rel (rel's own last component excluded)
// may be a symbolic link: acting through it would change things outside the
// root. Missing levels are fine (they are created or the operation fails).
QString checkNoLinkOnTheWay(const SyncCtx& ctx, const QString& rel);

// A name that was not valid UTF-8 on disk reached us with U+FFFD in its
// place; such a path names a different (usually missing) item. The row may go
// on only when the item at path really exists under this spelling.
QString checkSpelling(const QString& rel, const QString& path);

// Moves the item at path into the user's trash (Usr::DelRcy). Fails when no
// trash folder can be made (the item is then left alone) or when the item is
// still there afterwards.
QString moveToTrash(const QString& path);

// Writes one log line when the log switch is on.
QString writeLog(const SyncCtx& ctx, const QString& text);

// Makes sure the folder holding path exists (all missing levels).
void makeParent(const QString& path);

// status + " Err", with the reason handed to the caller.
QString failed(const QString& status, const QString& reason, QString* why);

} // namespace velmor::opsupport
