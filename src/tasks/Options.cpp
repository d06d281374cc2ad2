#include "tasks/Options.h"

namespace velmor {

YRt GetOpt(const TaskPanel& panel)
{
    YRt y{};
    for (size_t i = 0; i < y.size(); ++i)
        y[i] = panel.chRet[i] ? 1 : 0;
    return y;
}

bool InList(const QString& list, const QString& item)
{
    const QString hay = QLatin1Char(',') + list + QLatin1Char(',');
    return hay.contains(QLatin1Char(',') + item + QLatin1Char(','));
}

} // namespace velmor
