#pragma once
// How much dated history a task keeps. Every run with a backup makes a
// folder "BackUp/yyyy-mm-dd[~n]" below the history folder, every run with a
// log a file "Log/yyyy-mm-dd[~n].log"; after a synchronisation the oldest of
// them go by the task's limits (TaskPanel::nKeepDays, nKeepCount).
//
// Which go is a pure function of names, dates and limits (ExpiredHistory);
// only names of exactly this program's form count, of the right kind (a
// real folder under "BackUp", a regular file under "Log", never a link).
// Anything else in the history folder stays. The newest of each kind always
// stays, whatever its age, and so do the entries of the run that prunes.
// The removal goes through descriptors below the history folder, links
// never followed (PruneHistory).
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace velmor {

// One dated entry: its date and counter ("~n"; 0 without one).
struct DatedName {
    QDate date;
    int n = 0;
    auto operator<=>(const DatedName& o) const
    {
        if (date != o.date)
            return date.toJulianDay() <=> o.date.toJulianDay();
        return n <=> o.n;
    }
    bool operator==(const DatedName&) const = default;
};

// The date and counter of a name this program makes: "yyyy-mm-dd" (a real
// date), optionally "~" and a counter 1 to 32767 without leading zeros,
// then suffix (".log" for logs, "" for backup folders). Nothing otherwise.
std::optional<DatedName> ParseDatedName(const QByteArray& name, const char* suffix);

struct KeepLimits {
    int days = 0;   // entries dated more than this many days before today go (0: none by age)
    int count = 0;  // at most this many entries stay (0: any number)
    bool any() const { return days > 0 || count > 0; }
};

// Of entries (one kind), the indexes of those that go under limits, oldest
// first. The newest entry (by date, then counter) never goes; neither do
// the indexes in keep (the pruning run's own entries, which also count
// towards the limit).
std::vector<int> ExpiredHistory(const std::vector<DatedName>& entries, const KeepLimits& limits, QDate today,
                                const std::vector<int>& keep = {});

struct PruneReport {
    QStringList removed;  // paths of what went, oldest first
    QStringList failed;   // one line per entry that could not go: its path and why
};

// Removes what ExpiredHistory names among the backup folders below
// histFd's "BackUp" and the logs below its "Log" (sBkRt: the history
// folder's path, for the paths in the report and the log). ownBackup,
// ownLog: leaf names of the running synchronisation's entries ("" for
// none), always kept. Each entry goes whole, through descriptors. removed:
// called with an entry's path once it is gone; returns false to stop
// pruning there (a log line could not be written). A missing "BackUp" or
// "Log" has nothing to prune.
PruneReport PruneHistory(int histFd, const QString& sBkRt, const KeepLimits& limits, QDate today,
                         const QString& ownBackup = {}, const QString& ownLog = {},
                         const std::function<bool(const QString& path)>& removed = {});

} // namespace velmor
