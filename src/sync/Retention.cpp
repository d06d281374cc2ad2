#include "sync/Retention.h"

#include "env/FsDir.h"
#include "env/Reasons.h"
#include "sync/FsInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

namespace {

bool digits(const char* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9')
            return false;
    return true;
}

int number(const char* p, int n)
{
    int v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + (p[i] - '0');
    return v;
}

// One kind of dated entry below the history folder.
struct HistoryKind {
    const char* folder;  // "BackUp" or "Log"
    const char* suffix;  // after the date and counter
    bool isFolder;       // a real folder; else a regular file
};

constexpr HistoryKind kBackups{"BackUp", "", true};
constexpr HistoryKind kLogs{"Log", ".log", false};

void pruneKind(int histFd, const QString& sBkRt, const HistoryKind& kind, const KeepLimits& limits, QDate today,
               const QString& own, const std::function<bool(const QString&)>& removed, PruneReport& rep,
               bool& stop)
{
    const QString dirPath = (sBkRt == QLatin1String("/") ? QString() : sBkRt) + QLatin1Char('/') + QLatin1String(kind.folder);
    const UniqueFd dir = openBeneath(histFd, kind.folder);
    if (!dir.valid()) {
        if (errno != ENOENT)
            rep.failed.append(WhyText(Why::PathError, dirPath, errno));
        return;
    }
    std::vector<fsops::detail::Entry> listed;
    if (!fsops::detail::listDirAt(dir.get(), listed)) {
        rep.failed.append(WhyText(Why::PathError, dirPath, errno));
        return;
    }
    std::vector<QByteArray> names;
    std::vector<DatedName> dated;
    std::vector<int> keep;
    const QByteArray ownName = nameBytes(own);
    for (const fsops::detail::Entry& e : listed) {
        const std::optional<DatedName> d = ParseDatedName(e.name, kind.suffix);
        if (!d)
            continue;
        struct stat st {};
        if (::fstatat(dir.get(), e.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone meanwhile
        if (kind.isFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
            continue;  // a link or another kind of entry is not ours, whatever its name
        if (!ownName.isEmpty() && e.name == ownName)
            keep.push_back(int(names.size()));
        names.push_back(e.name);
        dated.push_back(*d);
    }
    for (const int i : ExpiredHistory(dated, limits, today, keep)) {
        if (stop)
            return;
        const QString path = dirPath + QLatin1Char('/') + nameText(names[size_t(i)]);
        const fsops::FsResult r = fsops::RemoveItem({dir.get(), names[size_t(i)], path});
        if (!r.ok()) {
            rep.failed.append(r.error);
            continue;
        }
        rep.removed.append(path);
        if (removed && !removed(path))
            stop = true;
    }
}

} // namespace

std::optional<DatedName> ParseDatedName(const QByteArray& name, const char* suffix)
{
    const qsizetype sl = qsizetype(std::strlen(suffix));
    if (name.size() < 10 + sl || !name.endsWith(suffix))
        return std::nullopt;
    const char* p = name.constData();
    if (!digits(p, 4) || p[4] != '-' || !digits(p + 5, 2) || p[7] != '-' || !digits(p + 8, 2))
        return std::nullopt;
    DatedName d;
    d.date = QDate(number(p, 4), number(p + 5, 2), number(p + 8, 2));
    if (!d.date.isValid())
        return std::nullopt;
    const qsizetype rest = name.size() - 10 - sl;  // the counter part: "" or "~n"
    if (rest == 0)
        return d;
    const char* c = p + 10;
    // "~" + 1 to 5 digits, no leading zero, within the counter's range.
    if (rest < 2 || rest > 6 || c[0] != '~' || c[1] == '0' || !digits(c + 1, int(rest - 1)))
        return std::nullopt;
    d.n = number(c + 1, int(rest - 1));
    if (d.n > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return d;
}

std::vector<int> ExpiredHistory(const std::vector<DatedName>& entries, const KeepLimits& limits, QDate today,
                                const std::vector<int>& keep)
{
    std::vector<int> out;
    if (!limits.any() || entries.empty())
        return out;
    std::vector<int> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    // Newest first.
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return entries[size_t(b)] < entries[size_t(a)]; });
    for (size_t rank = 1; rank < order.size(); ++rank) {
        const int i = order[rank];
        if (std::find(keep.begin(), keep.end(), i) != keep.end())
            continue;
        const bool tooMany = limits.count > 0 && rank >= size_t(limits.count);
        const bool tooOld = limits.days > 0 && entries[size_t(i)].date.daysTo(today) > limits.days;
        if (tooMany || tooOld)
            out.push_back(i);
    }
    std::reverse(out.begin(), out.end());
    return out;
}

PruneReport PruneHistory(int histFd, const QString& sBkRt, const KeepLimits& limits, QDate today,
                         const QString& ownBackup, const QString& ownLog,
                         const std::function<bool(const QString& path)>& removed)
{
    PruneReport rep;
    if (!limits.any())
        return rep;
    bool stop = false;
    pruneKind(histFd, sBkRt, kBackups, limits, today, ownBackup, removed, rep, stop);
    pruneKind(histFd, sBkRt, kLogs, limits, today, ownLog, removed, rep, stop);
    return rep;
}

} // namespace velmor
