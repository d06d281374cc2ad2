#pragma once
// The user's trash (freedesktop.org layout), reached through descriptors.
#include <QByteArray>
#include <QString>

namespace velmor {

// Moves the entry name of the open folder dirFd into the trash: the home
// trash (the data folder's "Trash") when it lies on the entry's file
// system, otherwise the trash at the top of the entry's volume (".Trash/uid"
// when the volume has a proper ".Trash", else ".Trash-uid"). absPath is the
// entry's full path, recorded for restoring. The entry is renamed, never
// copied: where no trash on its file system can be made, it stays where it
// is. Returns an empty text on success, otherwise the reason.
QString TrashAt(int dirFd, const QByteArray& name, const QString& absPath);

} // namespace velmor
