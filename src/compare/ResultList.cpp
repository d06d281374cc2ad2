// The result list: the grid rows from tbFold and tbFile, filtered by the
// display mode, with the protection and exclusion patterns applied.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "env/Prompt.h"
#include "env/Usr.h"

namespace velmor {

namespace {

const QString kFlagOn = QStringLiteral("1");
const QString kFlagOff = QStringLiteral("0");

QString folderCondition(int mode)
{
    switch (mode) {
    case 1: return QStringLiteral(" Where sED in ('追加','削除')");
    case 2: return QStringLiteral(" Where sED in ('追加','削除','除外','**')");
    default: return QStringLiteral(" Where sED <> '比較'");
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

// Rows of one folder, or of one minute, share their texts instead of
// holding a copy each (QString is implicitly shared).
void share(QString& value, QString& last)
{
    if (value == last)
        value = last;
    else
        last = value;
}

// The shared copy of a frequent short text (statuses, attribute texts).
QString intern(QString value)
{
    static const QString known[] = {St::Kara, St::KaraAdd, St::Add, St::CmpF, St::Cmp, St::Del,
                                    St::Over, St::Same, St::Excl, St::Prot, St::None,
                                    QStringLiteral("***"), QStringLiteral("R**"),
                                    QStringLiteral("*H*"), QStringLiteral("RH*")};
    for (const QString& k : known)
        if (value == k)
            return k;
    return value;
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

QString ActionFlag(const QString& status, bool fileRow)
{
    static const QString folderNone = QStringLiteral(".同一.除外.除外.**.");
    static const QString fileNone = QStringLiteral(".同一.除外.保護.**.");
    return (fileRow ? fileNone : folderNone).contains(status) ? kFlagOff : kFlagOn;
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
    QString lastPath, lastU1, lastU2;
    s.oDb.forEachRow(QStringLiteral("Select sPh, sU1, sEd, sU2, sAt From tbFold") + folderCondition(mode)
                         + QStringLiteral(" Order By nNo"),
                     {}, [&](const SqlStmt& q) {
                         ResultRow row;
                         row.no = ++r;
                         row.path = q.text(0);
                         share(row.path, lastPath);
                         row.u1 = q.text(1);
                         row.status = intern(q.text(2));
                         row.flag = ActionFlag(row.status, false);
                         row.u2 = q.text(3);
                         row.at = intern(q.text(4));
                         rows.push_back(std::move(row));
                         stopped = !pg.yield();
                         return !stopped;
                     });
    if (stopped)
        return false;  // a partial folder list; the result commands stay as they were

    s.oDb.forEachRow(QStringLiteral("Select sPh, sFL, nS1, sU1, sED, nS2, sU2, sAt From tbFile")
                         + fileCondition(mode) + QStringLiteral(" Order By nNo"),
                     {}, [&](const SqlStmt& q) {
                         ResultRow row;
                         row.no = ++r;
                         row.path = q.text(0);
                         share(row.path, lastPath);
                         SplitName(q.text(1), row.name, row.ext);
                         row.s1 = q.text(2);
                         row.u1 = q.text(3);
                         share(row.u1, lastU1);
                         QString status = intern(q.text(4));
                         ChkPtn(lists, row.path, row.name, row.ext, status);
                         row.flag = ActionFlag(status, true);
                         row.status = std::move(status);
                         row.s2 = q.text(5);
                         row.u2 = q.text(6);
                         share(row.u2, lastU2);
                         row.at = intern(q.text(7));
                         rows.push_back(std::move(row));
                         stopped = !pg.yield();
                         return !stopped;
                     });
    EnSync(s, true);
    pg.cEnd();
    return !stopped;
}

} // namespace velmor
