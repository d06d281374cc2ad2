#pragma once
// The per-user settings store shared with the other QuarnellTools programs:
// organisation "QuarnellTools", group "Path", one executable path per key
// (this program's own under its base name, the FTP companion's under its
// name). Kept in the user's configuration folder (QStandardPaths'
// GenericConfigLocation, so the test mode of QStandardPaths redirects it).
#include <QString>

namespace velmor::UserStore {

// The stored path under key, or "" when there is none.
QString readPath(const QString& key);
// Stores value under key. False when the store cannot be written.
bool writePath(const QString& key, const QString& value);

} // namespace velmor::UserStore
