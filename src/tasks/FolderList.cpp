#include "tasks/FolderList.h"

#include <algorithm>

namespace velmor {

namespace {

const QString kEscapedMark = QStringLiteral("//");

QString escapePath(const QString& path)
{
    QString out = path;
    out.replace(QLatin1Char('%'), QLatin1String("%25"));
    out.replace(QLatin1Char(','), QLatin1String("%2C"));
    return out;
}

// "%25" and "%2C" (either letter case) stand for "%" and ","; any other "%"
// stands for itself.
QString unescapePath(const QString& entry)
{
    QString out;
    out.reserve(entry.size());
    for (qsizetype i = 0; i < entry.size(); ++i) {
        const QChar c = entry.at(i);
        if (c == QLatin1Char('%') && i + 2 < entry.size() && entry.at(i + 1) == QLatin1Char('2')) {
            const QChar d = entry.at(i + 2).toUpper();
            if (d == QLatin1Char('5') || d == QLatin1Char('C')) {
                out += d == QLatin1Char('5') ? QLatin1Char('%') : QLatin1Char(',');
                i += 2;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

QString FolderListText(const QStringList& paths, bool commaNames)
{
    const bool escaped = commaNames || std::any_of(paths.begin(), paths.end(), [](const QString& p) {
                             return p.contains(QLatin1Char(','));
                         });
    QString out;
    if (escaped)
        out = kEscapedMark + QLatin1Char(',');
    for (const QString& p : paths)
        out += (escaped ? escapePath(p) : p) + QLatin1Char(',');
    return out;
}

FolderListSet::FolderListSet(const QString& text)
{
    if (!text.startsWith(kEscapedMark + QLatin1Char(','))) {
        m_plain.emplace(text);
        return;
    }
    const QStringList entries = text.mid(kEscapedMark.size() + 1).split(QLatin1Char(','));
    for (const QString& e : entries)
        m_escaped.insert(unescapePath(e));
}

bool FolderListSet::contains(const QString& path) const
{
    return m_plain ? m_plain->contains(path) : m_escaped.contains(path);
}

} // namespace velmor
