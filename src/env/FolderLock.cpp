#include "env/FolderLock.h"

#include <sys/file.h>

namespace velmor {

bool FolderLock::tryLock(const QString& folder)
{
    UniqueFd fd = openDirPath(nameBytes(folder), true);
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    m_fd = std::move(fd);
    return true;
}

} // namespace velmor
