#include "compare/Session.h"

namespace velmor {

void EnSync(Session& s, bool flag)
{
    s.syncEnabled = flag;
    s.ftpEnabled = false;
    if (s.commandsChanged)
        s.commandsChanged();
}

} // namespace velmor
