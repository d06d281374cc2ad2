#pragma once
// Reasons of system errors as the run reports them (English, like the other
// reasons of velmor-cli and of the log).
#include <QString>

namespace velmor {

// The error means the volume has no room left for the write (ENOSPC, EDQUOT).
bool IsNoSpace(int err);

// Mount point of the volume that holds path, or of its nearest existing
// parent when path itself is not there (a file whose write failed may be
// gone). "" when no mounted volume holds it.
QString VolumeOf(const QString& path);

// The reason for errno err met at path: the system's text (strerror); for a
// full volume it names the volume first:
// "no space left on the volume mounted at /h (No space left on device)".
// err 0 (a write that wrote nothing and said nothing) counts as ENOSPC.
QString SysReason(int err, const QString& path);

// True when a reason holds SysReason's text for a full volume.
bool SaysNoSpace(const QString& reason);

} // namespace velmor
