#include "compare/FsList.h"

#include <QChar>
#include <chrono>
#include <climits>
#include <ctime>
#include <sys/stat.h>

namespace velmor {

namespace {

constexpr long kMixed = LONG_MIN;

long long floorDiv(long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

QString formatLocal(int year, unsigned month, unsigned day, int hour, int minute)
{
    const int parts[5] = {((year % 100) + 100) % 100, int(month), int(day), hour, minute};
    const char seps[5] = {'/', '/', ' ', ':', 0};
    QChar buf[14];
    for (int i = 0; i < 5; ++i) {
        buf[i * 3] = QLatin1Char(char('0' + parts[i] / 10));
        buf[i * 3 + 1] = QLatin1Char(char('0' + parts[i] % 10));
        if (i < 4)
            buf[i * 3 + 2] = QLatin1Char(seps[i]);
    }
    return QString(buf, 14);
}

// The offset from UTC in force during the whole UTC day, or kMixed when it
// changes that day (or cannot be read).
long dayOffset(long long day)
{
    long offset = kMixed;
    for (long long at : {day * 86400, day * 86400 + 43200, day * 86400 + 86399}) {
        const time_t t = static_cast<time_t>(at);
        struct tm tm;
        if (!localtime_r(&t, &tm) || (offset != kMixed && tm.tm_gmtoff != offset))
            return kMixed;
        offset = tm.tm_gmtoff;
    }
    return offset;
}

} // namespace

QString DateText(long long secs)
{
    const time_t t = static_cast<time_t>(secs);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return QString();
    return formatLocal(tm.tm_year + 1900, unsigned(tm.tm_mon + 1), unsigned(tm.tm_mday), tm.tm_hour, tm.tm_min);
}

QString DateTexts::text(long long secs)
{
    // Files written together share their minute: the last text is reused
    // (and shared, since QString is implicitly shared).
    const long long minute = floorDiv(secs, 60);
    if (minute == m_lastMinute)
        return m_lastText;
    const long long day = floorDiv(secs, 86400);
    auto it = m_offsets.constFind(day);
    if (it == m_offsets.cend()) {
        if (m_offsets.size() >= 4096)
            m_offsets.clear();
        it = m_offsets.insert(day, dayOffset(day));
    }
    QString text;
    if (*it == kMixed) {
        text = DateText(secs);
    } else {
        const long long local = secs + *it;
        const long long localDay = floorDiv(local, 86400);
        const long long second = local - localDay * 86400;
        const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{localDay}}};
        text = formatLocal(int(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()), int(second / 3600),
                           int(second % 3600 / 60));
    }
    m_lastMinute = minute;
    m_lastText = text;
    return text;
}

QString AttrText(const QString& name, mode_t mode)
{
    static const QString texts[4] = {QStringLiteral("***"), QStringLiteral("R**"),
                                     QStringLiteral("*H*"), QStringLiteral("RH*")};
    const int r = (mode & S_IWUSR) ? 0 : 1;
    const int h = name.startsWith(QLatin1Char('.')) ? 2 : 0;
    return texts[r | h];
}

} // namespace velmor
