// Date texts of the scans: the per-day offset of DateTexts must give the
// C library's local time for every instant, across the changes of offset of
// several kinds of zone (rules written out, so no zone files are needed).
#include "compare/FsList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

using namespace velmor;

namespace {

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old, m_had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

QString expected(long long secs)
{
    const time_t t = static_cast<time_t>(secs);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return QString();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d", (tm.tm_year + 1900) % 100, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return QString::fromLatin1(buf);
}

} // namespace

TEST(DateTextTest, PerDayOffsetsAgreeWithLocalTimeAcrossOffsetChanges)
{
    const char* zones[] = {
        "UTC0",
        "CET-1CEST,M3.5.0,M10.5.0/3",           // changes at 02:00/03:00 local
        "EST5EDT,M3.2.0,M11.1.0",               // west of Greenwich
        "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", // a half-hour change
        "<+0545>-5:45",                         // an offset of 5:45, no change
        "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1",     // changes before midnight, at negative hours
    };
    std::mt19937_64 rng(11);
    // From 1969 (negative times) to 2040.
    std::uniform_int_distribution<long long> any(-40'000'000LL, 2'200'000'000LL);
    for (const char* zone : zones) {
        SCOPED_TRACE(zone);
        ZoneGuard tz(zone);
        DateTexts dates;
        std::vector<long long> times;
        for (int i = 0; i < 20000; ++i)
            times.push_back(any(rng));
        // Every seventh minute of the UTC days around the changes of 2024
        // (10 and 30-31 March, 6-7 April, 5-6 and 26-27 October, 3 November).
        for (long long day : {19'792LL, 19'812LL, 19'813LL, 19'819LL, 19'820LL, 20'001LL, 20'002LL, 20'022LL,
                              20'023LL, 20'030LL})
            for (long long m = 0; m < 24 * 60; m += 7)
                times.push_back(day * 86400 + m * 60 + 59);
        for (long long t : times)
            ASSERT_EQ(dates.text(t).toStdString(), expected(t).toStdString()) << t;
        EXPECT_EQ(DateText(times.front()), expected(times.front()));
    }
}
