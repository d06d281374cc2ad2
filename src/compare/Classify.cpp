// Classification: the status of every folder and file row, from the scans'
// date and attribute texts, the switches and the file filter.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "tree/WildMatch.h"

#include <QDateTime>

#include <sys/stat.h>
#include <algorithm>
#include <utility>

namespace velmor {

namespace {

// The work database and the companion programs' files, each between dots.
const QString kOwnFiles = QStringLiteral(".sync.mdb.velmor.xml.lirad.xml.lirad.mdb.");

bool on(uint8_t v) { return v == 1; }

// The two times fall in the same whole second.
bool sameSecond(const FileTime& a, const FileTime& b)
{
    return a.sec == b.sec;
}

// |a - b| is at most two seconds.
bool withinTwoSeconds(FileTime a, FileTime b)
{
    if (a < b)
        std::swap(a, b);
    const long long sec = a.sec - b.sec - (a.nsec < b.nsec ? 1 : 0);
    const long long nsec = a.nsec < b.nsec ? a.nsec + 1000000000LL - b.nsec : a.nsec - b.nsec;
    return sec < 2 || (sec == 2 && nsec == 0);
}

// The folder-2 time t counts as the folder-1 time one (see TimeMatch).
bool sameTime(const FileTime& one, const FileTime& t, bool twoSeconds)
{
    return sameSecond(one, t) || (twoSeconds && withinTwoSeconds(one, t));
}

} // namespace

bool SameFileTime(const FileTime& one, const FileTime& two, const TimeMatch& match)
{
    const long long shift = 60LL * std::max(match.shiftMinutes, 0);
    for (const long long by : {0LL, -shift, shift})
        if (sameTime(one, FileTime{two.sec + by, two.nsec}, match.twoSecondTimes))
            return true;
    return false;
}

namespace {

bool isLink(const FileSide& f)
{
    return S_ISLNK(f.mode);
}

// A time as the grid's reasons show it: local, to the second.
QString exactText(const FileTime& t)
{
    return QDateTime::fromSecsSinceEpoch(t.sec).toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

QString kindText(const FileSide& f)
{
    return isLink(f) ? QStringLiteral("ﾘﾝｸ") : QStringLiteral("ﾌｧｲﾙ");
}

} // namespace

bool IsOwnFile(const QString& name)
{
    if (name.isEmpty() || name.size() > kOwnFiles.size() - 2)
        return false;
    // A name between two dots begins with a letter that follows a dot in the
    // list; most names are ruled out here without the search.
    static const QString firsts = [] {
        QString f;
        for (qsizetype i = 0; i + 1 < kOwnFiles.size(); ++i)
            if (kOwnFiles.at(i) == QLatin1Char('.') && !f.contains(kOwnFiles.at(i + 1)))
                f += kOwnFiles.at(i + 1);
        return f;
    }();
    if (!firsts.contains(name.at(0), Qt::CaseInsensitive))
        return false;
    for (qsizetype at = kOwnFiles.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = kOwnFiles.indexOf(name, at + 1, Qt::CaseInsensitive)) {
        const qsizetype after = at + name.size();
        if (at > 0 && after < kOwnFiles.size() && kOwnFiles.at(at - 1) == QLatin1Char('.')
            && kOwnFiles.at(after) == QLatin1Char('.'))
            return true;
    }
    return false;
}

namespace {

// Admission test with the filter entries already normalised.
FileRefusal chkFile(const YRt& yRt, int nFltMd, const QStringList& entries, const QString& name,
                    const QString& at)
{
    if (IsOwnFile(name))
        return FileRefusal::OwnFile;
    if (!ChkAttr(yRt, at))
        return FileRefusal::Attribute;
    if (nFltMd == 1) {
        const QString lower = name.toLower();
        for (const QString& p : entries)
            if (WildMatch(lower, p))
                return FileRefusal::Filter;
    } else if (nFltMd == 2) {
        const QString lower = name.toLower();
        for (const QString& p : entries)
            if (WildMatch(lower, p))
                return FileRefusal::None;
        return FileRefusal::Filter;
    }
    return FileRefusal::None;
}

const QStringList& activeFilter(const Session& s)
{
    static const QStringList none;
    return s.nFltMd == 1 ? s.vFltEx : s.nFltMd == 2 ? s.vFltIn : none;
}

// The history/backup folder below folder 2 takes no part: a folder-1 row at
// its place or below it is "除外" (nothing is copied into it), and so is a
// folder-2-only folder that holds it and would be deleted.
void excludeHistory(Session& s)
{
    const QString& h = s.sHistRel;
    if (h.isEmpty())
        return;
    // In byte order the paths below p are those in [p + "/", p + "0"); an
    // ancestor a of h is a row with h in [a + "/", a + "0").
    SqlStmt st(s.oDb.conn(), "UPDATE tbFold SET sED = '除外' WHERE sPh = ?1 OR (sPh >= ?2 AND sPh < ?3)"
                             " OR (sED = '削除' AND ?1 >= sPh || '/' AND ?1 < sPh || '0')");
    st.bind(1, h).bind(2, h + QLatin1Char('/')).bind(3, h + QLatin1Char('0'));
    st.exec();
}

} // namespace

bool ChkAttr(const YRt& yRt, const QString& a)
{
    if (a.isEmpty() || a == QLatin1String("***") || yRt[5] + yRt[6] + yRt[7] == 0)
        return true;
    const auto at = [&a](int i, char c) { return a.size() > i && a.at(i) == QLatin1Char(c); };
    return !((at(0, 'R') && on(yRt[5])) || (at(1, 'H') && on(yRt[6])) || (at(2, 'S') && on(yRt[7])));
}

QString FolderStatus(bool del, bool container, bool in1, bool in2, bool attrOk, bool filterOn)
{
    if (!attrOk)
        return St::Excl;
    QString r;
    if (in1 && in2)
        r = container ? (del ? St::Kara : St::None) : St::Cmp;
    else if (in1)
        r = container ? (del ? St::KaraAdd : St::None) : St::Add;
    else
        r = del ? St::Del : St::None;
    if (r == St::Add && filterOn)
        r = St::CmpF;
    return r;
}

void ClsFld(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    // The delete switch as the check box shows it now.
    const bool del = s.panel.chRet[1];
    s.oDb.DbOpen();
    SqlKeepTxn txn(s.oDb.conn());
    long long rows = 0;
    enum { ED, U1, U2, AT };
    WorkDb::TableCursor cur(s.oDb, QStringLiteral("tbFold"),
                            {QStringLiteral("sED"), QStringLiteral("sU1"), QStringLiteral("sU2"),
                             QStringLiteral("sAt")});
    while (cur.next()) {
        const QString ed = cur.text(ED);
        // "除外" before classification: a scan could not read the folder.
        if (ed != St::Excl) {
            cur.setText(ED, FolderStatus(del, ed == St::Kara, !cur.text(U1).isEmpty(),
                                         !cur.text(U2).isEmpty(), ChkAttr(s.yRt, cur.text(AT)),
                                         s.nFltMd != 0));
        }
        if (++rows % SqlKeepTxn::kRowsPerCommit == 0)
            txn.checkpoint();
        if (!pg.yield())
            break;
    }
    cur.flush();
    excludeHistory(s);
    txn.commit();
}

QString MetaDifference(const FileSide& one, const FileSide& two, const MetaMatch& meta)
{
    const bool modes = meta.modes && !isLink(one) && !isLink(two) && ((one.mode ^ two.mode) & 07777) != 0;
    const bool owners = meta.owners && (one.uid != two.uid || one.gid != two.gid);
    if (!modes && !owners && (!one.xattrs || !two.xattrs || *one.xattrs == *two.xattrs))
        return QString();  // the common case, without a text made
    QStringList parts;
    if (modes)
        parts << QStringLiteral("ｱｸｾｽ権 %1→%2")
                     .arg(two.mode & 07777, 4, 8, QLatin1Char('0'))
                     .arg(one.mode & 07777, 4, 8, QLatin1Char('0'));
    if (owners)
        parts << QStringLiteral("所有者 %1:%2→%3:%4").arg(two.uid).arg(two.gid).arg(one.uid).arg(one.gid);
    if (one.xattrs && two.xattrs) {
        const QString x = XattrDifference(*one.xattrs, *two.xattrs);
        if (!x.isEmpty())
            parts << x;
    }
    return parts.join(QLatin1Char(' '));
}

FileVerdict FileVerdictOf(const FileSide& one, const FileSide& two, bool keep, bool del, const TimeMatch& match,
                          const MetaMatch& meta, ContentCheck content, bool contentTimes)
{
    if (one.u.isEmpty() || two.u.isEmpty())
        return {!one.u.isEmpty() ? St::Add : del ? St::Del : St::None, {}, false};
    if (isLink(one) != isLink(two))
        return {keep && two.time > one.time ? St::None : St::Over,
                QStringLiteral("種類が違います: %1 → %2").arg(kindText(two), kindText(one)), false};
    const bool byContent = (content == ContentCheck::Same || content == ContentCheck::Differ) && !isLink(one)
                           && one.size == two.size;
    if (byContent && content == ContentCheck::Differ)
        return {keep && two.time > one.time ? St::None : St::Over, QStringLiteral("内容で比較: 違います"), false};
    if (byContent) {
        QStringList parts;
        if (contentTimes && !SameFileTime(one.time, two.time, match))
            parts << QStringLiteral("日時 %1→%2").arg(exactText(two.time), exactText(one.time));
        const QString what = MetaDifference(one, two, meta);
        if (!what.isEmpty())
            parts << what;
        if (parts.isEmpty())
            return {St::Same, QStringLiteral("内容で比較: 同じ"), false};
        return {St::Over, QStringLiteral("内容で比較: 同じ 属性だけが違います: ") + parts.join(QLatin1Char(' ')), true};
    }
    if (one.size == two.size && SameFileTime(one.time, two.time, match)) {
        const QString what = MetaDifference(one, two, meta);
        if (what.isEmpty())
            return {St::Same, {}, false};
        return {St::Over, QStringLiteral("属性だけが違います: ") + what, true};
    }
    FileVerdict v{keep && two.time > one.time ? St::None : St::Over, {}, false};
    if (one.u == two.u && !SameFileTime(one.time, two.time, match))
        v.reason = QStringLiteral("表示の日付は同じでも日時が違います: %1 → %2").arg(exactText(two.time), exactText(one.time));
    return v;
}

QString FileStatusByDates(const FileSide& one, const FileSide& two, bool keep, bool del, const TimeMatch& match)
{
    return FileVerdictOf(one, two, keep, del, match).status;
}

QString RefusedStatus(const QString& byDates, FileRefusal why, bool del)
{
    switch (why) {
    case FileRefusal::None:
        return byDates;
    case FileRefusal::Attribute:
        return St::Excl;
    case FileRefusal::OwnFile:
    case FileRefusal::Filter:
        break;
    }
    if (byDates == St::Add)
        return St::Excl;
    if (byDates == St::Same || byDates == St::Over)
        return del ? St::Del : St::Excl;
    if (byDates == St::Del)
        return St::Del;
    if (byDates == St::None)
        return del ? St::None : St::Excl;
    return byDates;
}

FileRefusal ChkFile(const Session& s, const QString& name, const QString& at)
{
    return FileClassifier(s).refusal(name, at);
}

FileClassifier::FileClassifier(const Session& s)
    : m_yRt(s.yRt), m_keep(on(s.yRt[0])), m_del(on(s.yRt[1])), m_content(s.panel.chContent),
      m_contentTimes(s.panel.chContentTimes), m_mode(s.nFltMd), m_match{s.panel.nShift, s.caps2.twoSecondTimes}, m_meta{true, s.caps2.holdsOwners}, m_entries(FilterEntries(activeFilter(s)))
{
}

FileRefusal FileClassifier::refusal(const QString& name, const QString& at) const
{
    return chkFile(m_yRt, m_mode, m_entries, name, at);
}

QString FileClassifier::status(const QString& name, const FileSide& one, const FileSide& two, const QString& at) const
{
    return verdict(name, one, two, at).status;
}

bool FileClassifier::comparesContent(const FileSide& one, const FileSide& two) const
{
    const auto regular = [](const FileSide& f) { return f.mode == 0 || S_ISREG(f.mode); };
    return m_content && !one.u.isEmpty() && !two.u.isEmpty() && regular(one) && regular(two) && one.size == two.size;
}

FileVerdict FileClassifier::verdict(const QString& name, const FileSide& one, const FileSide& two,
                                    const QString& at, ContentCheck content) const
{
    FileVerdict v = FileVerdictOf(one, two, m_keep, m_del, m_match, m_meta, content, m_contentTimes);
    const QString status = RefusedStatus(v.status, refusal(name, at), m_del);
    if (status != v.status)
        v = {status, {}, false};
    return v;
}

void ClsFile(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    s.oDb.DbOpen();
    QVariantList pending(1);
    s.oDb.R_PAry(QStringLiteral("Select Count(*) From tbFile Where sED Is Null Or sED = ''"), pending);
    if (pending[0].toLongLong() == 0)
        return;
    const FileClassifier cls(s);
    SqlKeepTxn txn(s.oDb.conn());
    long long rows = 0;
    enum { FL, U1, U2, AT, ED, S1, S2, T1, T2, N1, N2 };
    WorkDb::TableCursor cur(s.oDb, QStringLiteral("tbFile"),
                            {QStringLiteral("sFL"), QStringLiteral("sU1"), QStringLiteral("sU2"),
                             QStringLiteral("sAt"), QStringLiteral("sED"), QStringLiteral("nS1"),
                             QStringLiteral("nS2"), QStringLiteral("nT1"), QStringLiteral("nT2"),
                             QStringLiteral("nN1"), QStringLiteral("nN2")});
    while (cur.next()) {
        // The cursor reads every field as text; a missing time reads as 0.
        const FileSide one{cur.text(U1), cur.text(S1).toLongLong(), {cur.text(T1).toLongLong(), cur.text(N1).toLongLong()}};
        const FileSide two{cur.text(U2), cur.text(S2).toLongLong(), {cur.text(T2).toLongLong(), cur.text(N2).toLongLong()}};
        cur.setText(ED, cls.status(cur.text(FL), one, two, cur.text(AT)));
        if (++rows % SqlKeepTxn::kRowsPerCommit == 0)
            txn.checkpoint();
        if (!pg.yield())
            break;
    }
    cur.flush();
    txn.commit();
}

} // namespace velmor
