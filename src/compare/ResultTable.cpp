#include "compare/ResultTable.h"

#include <QHashFunctions>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <ostream>
#include <unordered_set>

namespace velmor {

namespace {

// Tag of a packed date; a pooled QString* never has its top bit set in user
// space.
constexpr std::uintptr_t kDate = std::uintptr_t(1) << 63;
// Positions of the digits in "yy/MM/dd hh:mm" and of its separators.
constexpr int kDigits[] = {0, 1, 3, 4, 6, 7, 9, 10, 12, 13};
constexpr char kDateShape[] = "00/00/00 00:00";

// The ten digits of a date-shaped text, four bits each, tagged; 0 when the
// text has another shape.
std::uintptr_t packDate(const QString& text)
{
    if (text.size() != 14)
        return 0;
    for (int i = 0; i < 14; ++i) {
        const char16_t c = text[i].unicode();
        if (kDateShape[i] == '0' ? (c < u'0' || c > u'9') : c != char16_t(kDateShape[i]))
            return 0;
    }
    std::uintptr_t word = 0;
    for (int i : kDigits)
        word = (word << 4) | std::uintptr_t(text[i].unicode() - u'0');
    return word | kDate;
}

void unpackDate(std::uintptr_t word, char (&out)[14])
{
    for (int i = 0; i < 14; ++i)
        out[i] = kDateShape[i];
    for (int k = 9; k >= 0; --k, word >>= 4)
        out[kDigits[k]] = char('0' + (word & 0xF));
}

// The texts of every cell that is neither empty nor a date. Nodes of an
// unordered set never move, so a cell may point at its text without a lock.
struct Pool {
    struct Hash {
        size_t operator()(const QString& s) const { return qHash(s); }
    };
    QMutex lock;
    std::unordered_set<QString, Hash> texts;
};

Pool& pool()
{
    static Pool* p = new Pool;  // outlives every static row, so never destroyed
    return *p;
}

} // namespace

CellText::CellText(const QString& text)
{
    if (text.isEmpty())
        return;
    m_word = packDate(text);
    if (m_word != 0)
        return;
    Pool& p = pool();
    const QMutexLocker locker(&p.lock);
    m_word = reinterpret_cast<std::uintptr_t>(&*p.texts.insert(text).first);
}

QString CellText::toString() const
{
    if (m_word == 0)
        return QString();
    if (m_word & kDate) {
        char text[14];
        unpackDate(m_word, text);
        return QString::fromLatin1(text, 14);
    }
    return *reinterpret_cast<const QString*>(m_word);
}

bool CellText::dateText(char (&out)[14]) const
{
    if (!(m_word & kDate))
        return false;
    unpackDate(m_word, out);
    return true;
}

bool CellText::equals(const QString& text) const
{
    if (m_word == 0 || (m_word & kDate))
        return toString() == text;
    return *reinterpret_cast<const QString*>(m_word) == text;
}

std::ostream& operator<<(std::ostream& os, CellText t) { return os << t.toString().toStdString(); }

void ResultRow::setWhy(const QString& why)
{
    if (why.isEmpty() && !m_rare)
        return;
    m_rare.get().why = why;
    m_rare.dropIfEmpty();
}

void ResultRow::setExactName(const QString& name)
{
    if (name.isEmpty() && !m_rare)
        return;
    m_rare.get().exactName = name;
    m_rare.dropIfEmpty();
}

void ResultRow::setMove(long long partnerNo, const QString& partnerRel)
{
    if (partnerNo == 0 && !m_rare)
        return;
    Rare& r = m_rare.get();
    r.moveNo = partnerNo;
    r.moveRel = partnerNo == 0 ? QString() : partnerRel;
    m_rare.dropIfEmpty();
}

void ResultRow::setContent(long long files, long long bytes)
{
    if (files < 0 && !m_rare)
        return;
    Rare& r = m_rare.get();
    r.contentFiles = files;
    r.contentBytes = files < 0 ? 0 : bytes;
    m_rare.dropIfEmpty();
}

QString ResultRow::moveText() const
{
    if (moveNo() == 0)
        return {};
    static const CellText del{QStringLiteral("削除")};
    return (status == del ? QStringLiteral("移動先 ") : QStringLiteral("移動元 ")) + moveRel();
}

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
    if (m_rare.hasExactName())
        return m_rare->exactName;
    return ext.isEmpty() ? name : name + QLatin1Char('.') + ext;
}

QString ResultRow::itemPath() const
{
    if (isFolderRow())
        return path;
    return path.isEmpty() ? fileName() : path + QLatin1Char('/') + fileName();
}

void ResultTable::sortByNumber()
{
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const ResultRow& a, const ResultRow& b) { return a.no < b.no; });
}

int ResultTable::rowOfNumber(long long no) const
{
    // Rows are in fill order but while a view sorts them.
    if (no >= 1 && no <= rowCount() && m_rows[size_t(no - 1)].no == no)
        return int(no - 1);
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].no == no)
            return int(i);
    return -1;
}

int ResultTable::movePartner(int r) const
{
    const ResultRow& row = m_rows[size_t(r)];
    if (row.moveNo() == 0 || row.flag != kFlagDo)
        return -1;
    const int p = rowOfNumber(row.moveNo());
    if (p < 0 || m_rows[size_t(p)].flag != kFlagDo || m_rows[size_t(p)].moveNo() != row.no)
        return -1;
    return p;
}

} // namespace velmor
