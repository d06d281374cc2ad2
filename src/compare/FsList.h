#pragma once
// The texts the scans record for an item: its date text and attribute text.
#include "env/FsList.h"

#include <QString>
#include <sys/types.h>

namespace velmor {

// "yy/MM/dd hh:mm" of a time in seconds, in local time (seconds dropped).
QString DateText(long long secs);

// Attribute text of a folder-2 item: "R" when its owner has no write
// permission, "H" when its name begins with ".", "S" never; "*" otherwise.
QString AttrText(const QString& name, mode_t mode);

} // namespace velmor
