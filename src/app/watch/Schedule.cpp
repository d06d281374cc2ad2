#include "app/watch/Schedule.h"

#include "env/FsDir.h"

#include <QRegularExpression>

namespace velmor {

namespace {

constexpr qint64 kMinute = 60;
constexpr qint64 kYear = 365 * 24 * 3600;

// A text for Description=: control characters and "\\" as "?" (a
// backslash at the end would join the next line to this one), "%" doubled
// (a specifier otherwise).
QString describe(const QString& task)
{
    QString out;
    for (const QChar c : task) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate() || c == QLatin1Char('\\'))
            out += QLatin1Char('?');
        else if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else
            out += c;
    }
    return out;
}

QString header(const QString& what, const QString& task)
{
    return QStringLiteral("# Written by velmor-cli schedule; velmor-cli schedule remove removes it.\n"
                          "[Unit]\n"
                          "Description=Velmor: %1 %2\n")
        .arg(what, describe(task));
}

} // namespace

QString Schedule::text() const
{
    switch (kind) {
    case Kind::Daily:
        return QStringLiteral("daily %1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
    case Kind::Every:
        return QStringLiteral("every %1s").arg(every);
    case Kind::Watch:
        return delay.isEmpty() ? QStringLiteral("watch") : QStringLiteral("watch --delay ") + delay;
    }
    return {};
}

std::optional<Schedule> ParseDaily(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^([01][0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    Schedule s;
    s.kind = Schedule::Kind::Daily;
    s.hour = m.captured(1).toInt();
    s.minute = m.captured(2).toInt();
    return s;
}

std::optional<Schedule> ParseEvery(const QString& text)
{
    static const QRegularExpression part(QStringLiteral("([0-9]{1,9})(sec|s|min|m|hr|h|d|w)"));
    static const QRegularExpression whole(QStringLiteral("^(?:[0-9]{1,9}(?:sec|s|min|m|hr|h|d|w))+$"));
    if (!whole.match(text).hasMatch())
        return std::nullopt;
    qint64 total = 0;
    for (const QRegularExpressionMatch& m : part.globalMatch(text)) {
        const QString unit = m.captured(2);
        const qint64 scale = unit.startsWith(QLatin1Char('s')) ? 1
                             : unit.startsWith(QLatin1Char('m')) ? kMinute
                             : unit.startsWith(QLatin1Char('h')) ? 3600
                             : unit == QLatin1String("d")        ? 86400
                                                                 : 7 * 86400;
        total += m.captured(1).toLongLong() * scale;
        if (total > kYear)
            return std::nullopt;
    }
    if (total < kMinute)
        return std::nullopt;
    Schedule s;
    s.kind = Schedule::Kind::Every;
    s.every = total;
    return s;
}

QString UnitEscape(const QString& name)
{
    const QByteArray raw = nameBytes(name);
    QString out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || (c == '.' && i > 0);
        if (c == '/')
            out += QLatin1Char('-');
        else if (plain)
            out += QLatin1Char(char(c));
        else
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString UnitUnescape(const QString& escaped)
{
    const QByteArray in = escaped.toLatin1();
    QByteArray raw;
    for (qsizetype i = 0; i < in.size(); ++i) {
        bool ok = false;
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x') {
            const int byte = in.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                raw += char(byte);
                i += 3;
                continue;
            }
        }
        raw += in[i] == '-' ? '/' : in[i];
    }
    return nameText(raw);
}

QString RunUnitBase(const QString& task) { return QStringLiteral("velmor-run-") + UnitEscape(task); }

QString WatchUnitBase(const QString& task) { return QStringLiteral("velmor-watch-") + UnitEscape(task); }

QString ExecLine(const QStringList& argv)
{
    QStringList words;
    for (const QString& arg : argv) {
        QString w = QStringLiteral("\"");
        for (const QChar c : arg) {
            const char16_t u = c.unicode();
            if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
                w += QLatin1Char('\\') + c;
            else if (c == QLatin1Char('%') || c == QLatin1Char('$'))
                w += QString(2, c);
            else if (u < 0x20 || u == 0x7f)
                w += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
            else if (c.isLowSurrogate() && u >= 0xDC80 && u <= 0xDCFF && (w.isEmpty() || !w.back().isHighSurrogate()))
                w += QStringLiteral("\\x%1").arg(int(u - 0xDC00), 2, 16, QLatin1Char('0'));  // a byte that is not UTF-8
            else
                w += c;
        }
        words.append(w + QLatin1Char('"'));
    }
    return words.join(QLatin1Char(' '));
}

QString RunServiceText(const QString& task, const QStringList& run)
{
    return header(QStringLiteral("synchronise the task"), task)
           + QStringLiteral("X-VelmorTask=%1\n"
                            "\n"
                            "[Service]\n"
                            "Type=oneshot\n"
                            "ExecStart=%2\n"
                            "# A stop lets the row under way finish.\n"
                            "TimeoutStopSec=10min\n")
                 .arg(UnitEscape(task), ExecLine(run));
}

QString TimerText(const QString& task, const Schedule& when)
{
    QString timing;
    if (when.kind == Schedule::Kind::Daily)
        timing = QStringLiteral("OnCalendar=*-*-* %1:%2:00\nPersistent=true\n")
                     .arg(when.hour, 2, 10, QLatin1Char('0'))
                     .arg(when.minute, 2, 10, QLatin1Char('0'));
    else
        timing = QStringLiteral("OnActiveSec=%1s\nOnUnitActiveSec=%1s\n").arg(when.every);
    return header(QStringLiteral("when the task runs:"), task)
           + QStringLiteral("X-VelmorTask=%1\n"
                            "X-VelmorSchedule=%2\n"
                            "\n"
                            "[Timer]\n"
                            "%3"
                            "AccuracySec=1min\n"
                            "Unit=%4.service\n"
                            "\n"
                            "[Install]\n"
                            "WantedBy=timers.target\n")
                 .arg(UnitEscape(task), when.text(), timing, RunUnitBase(task));
}

QString WatchServiceText(const QString& task, const Schedule& when, const QStringList& watch)
{
    return header(QStringLiteral("keep the task in step by watching it:"), task)
           + QStringLiteral("X-VelmorTask=%1\n"
                            "X-VelmorSchedule=%2\n"
                            "\n"
                            "[Service]\n"
                            "Type=simple\n"
                            "ExecStart=%3\n"
                            "# The watch ends a run under way as the stop button would.\n"
                            "KillMode=mixed\n"
                            "TimeoutStopSec=10min\n"
                            "Restart=on-failure\n"
                            "RestartSec=30s\n"
                            "\n"
                            "[Install]\n"
                            "WantedBy=default.target\n")
                 .arg(UnitEscape(task), when.text(), ExecLine(watch));
}

QString UnitValue(const QString& text, const QString& key)
{
    const QString head = key + QLatin1Char('=');
    for (const QString& line : text.split(QLatin1Char('\n')))
        if (line.startsWith(head))
            return line.mid(head.size()).trimmed();
    return {};
}

QString UserUnitDir()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !base.startsWith(QLatin1Char('/')))
        base = qEnvironmentVariable("HOME") + QStringLiteral("/.config");
    return base + QStringLiteral("/systemd/user");
}

} // namespace velmor
