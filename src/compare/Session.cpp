#include "compare/Session.h"

#include "env/Usr.h"

#include <cerrno>

namespace velmor {

void EnSync(Session& s, bool flag)
{
    s.syncEnabled = flag;
    s.ftpEnabled = false;
    if (s.commandsChanged)
        s.commandsChanged();
}

bool TakeRunLock(FolderLock& lock)
{
    if (Usr::sUsrDt.isEmpty() || lock.tryLock(Usr::sUsrDt))
        return true;
    // Only a holder refuses the run; a folder that cannot be opened is
    // reported by the work database that lives in it.
    return errno != EWOULDBLOCK;
}

} // namespace velmor
