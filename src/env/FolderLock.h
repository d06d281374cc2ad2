#pragma once
// An exclusive lock on a folder, held across processes (flock on the
// folder's own descriptor, so no lock file is ever left behind). The lock
// ends with the object or the process.
#include "env/FsDir.h"

#include <QString>

namespace velmor {

class FolderLock {
public:
    // Takes the lock without waiting. True when it is held now; false when
    // another holder has it (or the folder cannot be opened: errno tells).
    bool tryLock(const QString& folder);
    bool held() const { return m_fd.valid(); }
    void unlock() { m_fd.reset(); }

private:
    UniqueFd m_fd;
};

} // namespace velmor
