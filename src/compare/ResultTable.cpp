#include "compare/ResultTable.h"

#include <algorithm>

namespace velmor {

QString ResultRow::text(int col) const
{
    switch (col) {
    case 1: return QString::number(no);
    case 2: return path;
    case 3: return name;
    case 4: return ext;
    case 5: return s1 < 0 ? QString() : QString::number(s1);
    case 6: return u1;
    case 7: return flag;
    case 8: return status;
    case 9: return s2 < 0 ? QString() : QString::number(s2);
    case 10: return u2;
    case 11: return at;
    case 12: return result;
    default: return {};
    }
}

namespace {

// A size column's text as a number; anything but a count of bytes is empty.
long long sizeOf(const QString& text)
{
    bool ok = false;
    const long long n = text.toLongLong(&ok);
    return ok && n >= 0 ? n : -1;
}

} // namespace

void ResultRow::setText(int col, const QString& value)
{
    switch (col) {
    case 1: no = value.toLongLong(); break;
    case 2: path = value; break;
    case 3: name = value; break;
    case 4: ext = value; break;
    case 5: s1 = sizeOf(value); break;
    case 6: u1 = value; break;
    case 7: flag = value; break;
    case 8: status = value; break;
    case 9: s2 = sizeOf(value); break;
    case 10: u2 = value; break;
    case 11: at = value; break;
    case 12: result = value; break;
    default: break;
    }
}

QString ResultRow::fileName() const
{
    if (!exactName.isEmpty())
        return exactName;
    return ext.isEmpty() ? name : name + QLatin1Char('.') + ext;
}

void ResultTable::sortByNumber()
{
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const ResultRow& a, const ResultRow& b) { return a.no < b.no; });
}

} // namespace velmor
