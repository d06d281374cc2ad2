#pragma once
// The texts the scans record for an item: its date text and attribute text.
#include "env/FsList.h"

#include <QHash>
#include <QString>
#include <climits>
#include <sys/types.h>

namespace velmor {

// "yy/MM/dd hh:mm" of a time in seconds, in local time (seconds dropped).
QString DateText(long long secs);

// The same for a scan that writes many of them: the local-time offset is
// looked up once per day (per call on a day the offset changes), and the
// texts of one minute are shared. The time zone is read during the scan.
class DateTexts {
public:
    QString text(long long secs);

private:
    QHash<long long, long> m_offsets;  // UTC day -> offset in seconds all that day, or kMixed
    long long m_lastMinute = LLONG_MIN;
    QString m_lastText;
};

// Attribute text of a folder-2 item: "R" when its owner has no write
// permission, "H" when its name begins with ".", "S" never; "*" otherwise.
QString AttrText(const QString& name, mode_t mode);

} // namespace velmor
