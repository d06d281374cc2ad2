#include "compare/Session.h"

#include "env/Usr.h"

#include <cerrno>

namespace velmor {

bool SetRoots(Session& s, const QString& r1, const QString& r2)
{
    s.sFld1 = r1;
    s.sFld2 = r2;
    s.id1 = s.id2 = FsId();
    const UniqueFd f1 = openDirPath(nameBytes(r1), true);
    if (!f1.valid())
        return false;
    const UniqueFd f2 = openDirPath(nameBytes(r2), true);
    if (!f2.valid())
        return false;
    s.id1 = FsIdOf(f1.get());
    s.id2 = FsIdOf(f2.get());
    return s.id1.valid() && s.id2.valid();
}

UniqueFd OpenRoot(const QString& path, const FsId& expected)
{
    UniqueFd fd = openDirPath(nameBytes(path), true);
    if (!fd.valid())
        return fd;
    if (!expected.valid() || FsIdOf(fd.get()) != expected) {
        errno = ESTALE;
        return UniqueFd();
    }
    return fd;
}

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
