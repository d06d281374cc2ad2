#include "compare/FsList.h"

#include <QChar>
#include <climits>
#include <ctime>
#include <sys/stat.h>

namespace velmor {

QString DateText(long long secs)
{
    // Files written together share their minute: the last text is reused
    // (and shared, since QString is implicitly shared).
    thread_local long long lastMinute = LLONG_MIN;
    thread_local QString lastText;
    const long long minute = secs >= 0 ? secs / 60 : -((-secs + 59) / 60);
    if (minute == lastMinute)
        return lastText;
    const time_t t = static_cast<time_t>(secs);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return QString();
    const int parts[5] = {(tm.tm_year + 1900) % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
    const char seps[5] = {'/', '/', ' ', ':', 0};
    QChar buf[14];
    for (int i = 0; i < 5; ++i) {
        buf[i * 3] = QLatin1Char(char('0' + parts[i] / 10));
        buf[i * 3 + 1] = QLatin1Char(char('0' + parts[i] % 10));
        if (i < 4)
            buf[i * 3 + 2] = QLatin1Char(seps[i]);
    }
    lastMinute = minute;
    lastText = QString(buf, 14);
    return lastText;
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
