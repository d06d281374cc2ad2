#include "tasks/Options.h"

namespace velmor {

const std::array<AddedTaskColumn, 11> kAddedTaskColumns = {{
    {"nShift", nullptr, &TaskPanel::nShift, kMaxShift},
    {"yLnkTgt", &TaskPanel::chLinkTgt},
    {"yAcl", &TaskPanel::chAcls},
    {"yXat", &TaskPanel::chXattrs},
    {"yVerify", &TaskPanel::chVerify},
    {"yCont", &TaskPanel::chContent},
    {"yContT", &TaskPanel::chContentTimes},
    {"nMove", nullptr, &TaskPanel::nMoves, 2},
    {"nKeepD", nullptr, &TaskPanel::nKeepDays, kMaxKeep},
    {"nKeepN", nullptr, &TaskPanel::nKeepCount, kMaxKeep},
    {"nJobs", nullptr, &TaskPanel::nJobs, kMaxJobs},
}};

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

InListSet::InListSet(const QString& list) : m_list(list)
{
    const QStringList entries = list.split(QLatin1Char(','));
    m_entries = QSet<QString>(entries.begin(), entries.end());
}

bool InListSet::contains(const QString& item) const
{
    // An item without a comma is in the list exactly when it is one whole
    // entry; one with a comma may span entries, which only the text test sees.
    if (item.contains(QLatin1Char(',')))
        return InList(m_list, item);
    return m_entries.contains(item);
}

} // namespace velmor
