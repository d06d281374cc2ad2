// The result list: the grid rows from tbFold and tbFile, filtered by the
// display mode, with the protection and exclusion patterns applied.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "env/FsDir.h"
#include "env/Prompt.h"
#include "env/Usr.h"

#include <QHash>

#include <string>
#include <unordered_map>

namespace velmor {

namespace {

QString folderCondition(int mode)
{
    switch (mode) {
    // A folder on both sides whose metadata differ is listed: it is corrected.
    case 1: return QStringLiteral(" Where sED in ('追加','削除') Or nMo = 1");
    case 2: return QStringLiteral(" Where sED in ('追加','削除','除外','**') Or nMo = 1");
    default: return QStringLiteral(" Where sED <> '比較' Or nMo = 1");
    }
}

QString fileCondition(int mode)
{
    switch (mode) {
    case 1: return QStringLiteral(" Where sED in ('上書','追加','削除')");
    case 2: return QStringLiteral(" Where sED <> '同一'");
    default: return QString();
    }
}

// A column whose text often repeats from row to row (the folder, a date):
// an unchanged text is shared with the row before instead of being made
// again (QString is implicitly shared; a CellText is one word).
template <class Text>
class RepeatedText {
public:
    Text read(const SqlStmt& q, int c)
    {
        const QByteArrayView b = q.utf8(c);
        if (b != QByteArrayView(m_bytes)) {
            m_bytes.resize(b.size());  // reuses the buffer: m_bytes is never shared
            std::copy(b.begin(), b.end(), m_bytes.begin());
            m_text = nameText(b);
        }
        return m_text;
    }

private:
    QByteArray m_bytes;
    Text m_text;
};

// Texts that recur all over the list (extensions): each distinct text is
// made once and shared by every row that shows it. The pool is emptied when
// it grows past kMax texts (rows keep what they share).
class TextPool {
public:
    QString share(QByteArrayView bytes)
    {
        if (bytes.isEmpty())
            return QString();
        m_key.assign(bytes.data(), size_t(bytes.size()));  // short texts: no allocation
        auto it = m_texts.find(m_key);
        if (it == m_texts.end()) {
            if (m_texts.size() >= kMax)
                m_texts.clear();
            it = m_texts.emplace(m_key, nameText(bytes)).first;
        }
        return it->second;
    }

private:
    static constexpr size_t kMax = 1 << 12;
    std::unordered_map<std::string, QString> m_texts;
    std::string m_key;
};

// A column holding one of a few short texts (statuses, attribute texts):
// the shared copy of a known text, a new one otherwise. Rows in a run tend
// to share their text, so the last match is tried first.
class KnownText {
public:
    CellText read(const SqlStmt& q, int c)
    {
        const QByteArrayView b = q.utf8(c);
        if (b.isEmpty())
            return CellText();
        const auto& all = table();
        if (b == QByteArrayView(all[m_last].utf8))
            return all[m_last].text;
        for (size_t i = 0; i < all.size(); ++i) {
            if (b == QByteArrayView(all[i].utf8)) {
                m_last = i;
                return all[i].text;
            }
        }
        return nameText(b);
    }

private:
    struct Known {
        QByteArray utf8;
        CellText text;
    };
    static const std::vector<Known>& table()
    {
        static const std::vector<Known> t = [] {
            std::vector<Known> v;
            for (const QString& k : {St::Kara, St::KaraAdd, St::Add, St::CmpF, St::Cmp, St::Del, St::Over,
                                     St::Same, St::Excl, St::Prot, St::None, QStringLiteral("***"),
                                     QStringLiteral("R**"), QStringLiteral("*H*"), QStringLiteral("RH*")})
                v.push_back({k.toUtf8(), k});
            return v;
        }();
        return t;
    }
    size_t m_last = 0;
};

// A row says before anything happens what the columns do not show (columns
// c, c + 1 and c + 2 of the query: sNg, sRs, nMo). Folder 2's volume cannot
// take it: the result reads kUnholdable, in red, with the reason. Only
// metadata differ and the row still acts (its status is still "上書" or
// "比較", no pattern turned it): the result reads kMetaOnly. Any other
// reason is the row's why.
void markReason(ResultRow& row, const SqlStmt& q, int c)
{
    static const CellText over{St::Over}, cmp{St::Cmp};
    const QByteArrayView ng = q.utf8(c);
    if (!ng.isEmpty()) {
        row.result = kUnholdable;
        row.red = true;
        row.setWhy(nameText(ng));
        return;
    }
    const QByteArrayView reason = q.utf8(c + 1);
    if (reason.isEmpty())
        return;
    const bool metaOnly = q.int64(c + 2) == 1;
    if (metaOnly && row.status != over && row.status != cmp)
        return;
    if (metaOnly)
        row.result = kMetaOnly;
    row.setWhy(nameText(reason));
}

// Links the rows of each move that the comparison paired (moves: row index
// and the partner's path as sMv held it). A pair stands when both rows are
// listed with their statuses, "追加" and "削除", after the patterns (a
// pattern changed since the comparison may have turned one), each naming
// the other; a "上書" row of a file renamed in letter case only stands
// alone. The rows of a pair get kMoved as their result.
void linkMoves(ResultTable& grid, const std::vector<std::pair<int, QString>>& moves)
{
    static const CellText add{St::Add}, del{St::Del}, over{St::Over};
    QHash<QString, int> dels;  // "d" or "f" + path of a listed "削除" row -> row
    QHash<int, QString> named;  // row -> the partner's path it names
    const auto key = [](const ResultRow& row, const QString& rel) {
        return (row.isFolderRow() ? QLatin1Char('d') : QLatin1Char('f')) + rel;
    };
    for (const auto& [r, rel] : moves) {
        named.insert(r, rel);
        if (grid.row(r).status == del)
            dels.insert(key(grid.row(r), grid.row(r).itemPath()), r);
    }
    for (const auto& [r, rel] : moves) {
        ResultRow& row = grid.row(r);
        if (row.status == over && !row.isFolderRow()) {
            row.setMove(row.no, rel);
            row.result = kMoved;
            continue;
        }
        if (row.status != add)
            continue;
        const int d = dels.value(key(row, rel), -1);
        const QString mine = row.itemPath();
        if (d < 0 || named.value(d) != mine)
            continue;
        ResultRow& gone = grid.row(d);
        row.setMove(gone.no, rel);
        gone.setMove(row.no, mine);
        row.result = gone.result = kMoved;
    }
}

} // namespace

void SplitName(const QString& fileName, QString& base, QString& ext)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        base = fileName;
        ext.clear();
    } else {
        base = fileName.left(dot);
        ext = fileName.mid(dot + 1);
    }
}

CellText ActionFlag(CellText status, bool fileRow)
{
    // Cells of equal texts are equal words: no text is made or searched.
    static const CellText same{St::Same}, excl{St::Excl}, prot{St::Prot}, none{St::None};
    if (status.isEmpty() || status == same || status == excl || status == none || (fileRow && status == prot))
        return kFlagOff;
    return kFlagDo;
}

bool LstFill(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    pg.cMsg(CmpMsg::Fill, true);
    s.oDb.DbOpen();
    const int mode = (s.nDispMd >= 0 && s.nDispMd <= 2) ? s.nDispMd : 0;

    // Patterns are checked before the grid changes: an invalid one is
    // reported and the grid stays as it was.
    const PtnLists lists = LstPtn(s.panel);
    const bool patterns = !lists.vHogo.isEmpty() || !lists.vJogai.isEmpty();
    const QString bad = InvalidEntry(s.panel, false);
    if (!bad.isEmpty()) {
        pg.cEnd();
        Usr::prompt().message(CmpMsg::BadPattern + bad);
        return false;
    }

    ResultTable& grid = s.vSpr;
    auto& rows = grid.rows();
    grid.clear();
    QVariantList count(1);
    s.oDb.R_PAry(QStringLiteral("Select Count(*) From tbFold") + folderCondition(mode), count);
    const long long nfEst = count[0].toLongLong();
    s.oDb.R_PAry(QStringLiteral("Select Count(*) From tbFile") + fileCondition(mode), count);
    rows.reserve(size_t(nfEst + count[0].toLongLong()));

    long long r = 0;
    bool stopped = false;
    RepeatedText<QString> path;
    // The two date texts of a row are read one after the other: an unchanged
    // file shares one text for both.
    RepeatedText<CellText> dates;
    TextPool exts;
    KnownText statuses, attrs;
    std::vector<std::pair<int, QString>> moves;  // rows the comparison paired: index, sMv
    const auto noteMove = [&moves, &rows](const SqlStmt& q, int c) {
        if (!q.isNull(c))
            moves.emplace_back(int(rows.size() - 1), q.text(c));
    };
    static const CellText del{St::Del};
    s.oDb.forEachRow(QStringLiteral("Select sPh, sU1, sEd, sU2, sAt, sNg, sRs, nMo, sMv, nF2 From tbFold") + folderCondition(mode)
                         + QStringLiteral(" Order By nNo"),
                     {}, [&](const SqlStmt& q) {
                         ResultRow& row = rows.emplace_back();
                         row.no = ++r;
                         row.path = path.read(q, 0);
                         row.u1 = dates.read(q, 1);
                         row.status = statuses.read(q, 2);
                         row.flag = ActionFlag(row.status, false);
                         row.u2 = dates.read(q, 3);
                         row.at = attrs.read(q, 4);
                         markReason(row, q, 5);
                         noteMove(q, 8);
                         // The files a deletion takes with the folder, as its scan counted them.
                         if (row.status == del && !q.isNull(9))
                             row.setContent(q.int64(9), 0);
                         stopped = !pg.yield();
                         return !stopped;
                     });
    if (stopped)
        return false;  // a partial folder list; the result commands stay as they were

    s.oDb.forEachRow(QStringLiteral("Select sPh, sFL, nS1, sU1, sED, nS2, sU2, sAt, sNg, sRs, nMo, sMv From tbFile")
                         + fileCondition(mode) + QStringLiteral(" Order By nNo"),
                     {}, [&](const SqlStmt& q) {
                         ResultRow& row = rows.emplace_back();
                         row.no = ++r;
                         row.path = path.read(q, 0);
                         // Split as SplitName does, on the bytes: "." is one byte
                         // that no other text of a name decodes from.
                         const QByteArrayView fileName = q.utf8(1);
                         const qsizetype dot = fileName.lastIndexOf('.');
                         if (dot < 0) {
                             row.name = nameText(fileName);
                         } else {
                             row.name = nameText(fileName.first(dot));
                             row.ext = exts.share(fileName.sliced(dot + 1));
                             if (row.ext.isEmpty())
                                 row.setExactName(nameText(fileName));
                         }
                         row.s1 = q.int64(2);
                         row.u1 = dates.read(q, 3);
                         row.status = statuses.read(q, 4);
                         if (patterns) {
                             QString status = row.status;
                             ChkPtn(lists, row.path, row.name, row.ext, status);
                             if (row.status != status)
                                 row.status = status;
                         }
                         row.flag = ActionFlag(row.status, true);
                         row.s2 = q.int64(5);
                         row.u2 = dates.read(q, 6);
                         row.at = attrs.read(q, 7);
                         markReason(row, q, 8);
                         noteMove(q, 11);
                         stopped = !pg.yield();
                         return !stopped;
                     });
    linkMoves(grid, moves);
    EnSync(s, true);
    pg.cEnd();
    return !stopped;
}

} // namespace velmor
