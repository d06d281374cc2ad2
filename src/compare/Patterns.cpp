// The user's patterns: file filter entries, protection and exclusion lists.
#include "compare/Compare.h"
#include "tree/WildMatch.h"

namespace velmor {

namespace {

// Blanks (spaces) trimmed on both sides, as the pattern boxes are read.
QString trimBlanks(const QString& t)
{
    qsizetype b = 0, e = t.size();
    while (b < e && t.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && t.at(e - 1) == QLatin1Char(' '))
        --e;
    return t.mid(b, e - b);
}

QStringList patternList(const QString& text)
{
    QStringList out;
    for (const QString& raw : text.toLower().split(QLatin1Char(','))) {
        QString p = trimBlanks(raw);
        if (p.isEmpty())
            continue;
        // "\" and "/" alike separate folders: img\*.gif is img/*.gif.
        p.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (p.contains(QLatin1Char('/')) && !p.startsWith(QLatin1Char('*')))
            p.prepend(QLatin1Char('*'));
        out.append(p);
    }
    return out;
}

bool matches(const QString& entry, const QString& nameText, const QString& pathText)
{
    return WildMatch(entry.contains(QLatin1Char('/')) ? pathText : nameText, entry);
}

} // namespace

PtnLists LstPtn(const TaskPanel& panel)
{
    return {patternList(panel.txHogo), patternList(panel.txJogai)};
}

void ChkPtn(const PtnLists& lists, const QString& p, const QString& b, const QString& e, QString& status)
{
    const bool protectable = status == St::Del || status == St::Over;
    const bool excludable = status == St::Add || status == St::Over;
    if (!(protectable && !lists.vHogo.isEmpty()) && !(excludable && !lists.vJogai.isEmpty()))
        return;
    const QString name = trimBlanks(b) + QLatin1Char('.') + trimBlanks(e);
    const QString nameText = name.toLower();
    const QString pathText = (trimBlanks(p) + QLatin1Char('/') + name).toLower();
    if (protectable) {
        for (const QString& h : lists.vHogo) {
            if (matches(h, nameText, pathText)) {
                status = St::Prot;
                return;
            }
        }
    }
    if (excludable) {
        for (const QString& j : lists.vJogai) {
            if (matches(j, nameText, pathText)) {
                status = St::Excl;
                return;
            }
        }
    }
}

QStringList FilterEntries(const QStringList& raw)
{
    QStringList out;
    for (const QString& r : raw) {
        const QString t = trimBlanks(r);
        if (t.isEmpty())
            continue;
        out.append(t.contains(QLatin1Char('.')) ? t : QStringLiteral("*.") + t);
    }
    return out;
}

QString InvalidPattern(const QStringList& patterns)
{
    for (const QString& p : patterns) {
        try {
            WildMatch(QString(), p);
        } catch (const PatternError&) {
            return p;
        }
    }
    return QString();
}

QString InvalidEntry(const TaskPanel& panel, bool withFilter)
{
    QStringList filter;
    if (withFilter && (panel.cbFlt == 1 || panel.cbFlt == 2)) {
        QString text = panel.txFlt.toLower();
        text.remove(QStringLiteral("\r\n"));
        filter = text.split(QLatin1Char(','));
    }
    for (const QString& raw : std::as_const(filter))
        if (!InvalidPattern(FilterEntries({raw})).isEmpty())
            return trimBlanks(raw);
    for (const QString* box : {&panel.txHogo, &panel.txJogai})
        for (const QString& raw : box->split(QLatin1Char(',')))
            if (!InvalidPattern(patternList(raw)).isEmpty())
                return trimBlanks(raw);
    return QString();
}

} // namespace velmor
