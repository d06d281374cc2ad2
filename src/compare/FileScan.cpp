// File scan: the files of every folder compared file by file, both sides,
// into tbFile.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "env/yIni.h"

#include <QHash>

namespace velmor {

namespace {

struct CmpFolder {
    QString sPh;
    QString sED;
};

// Lists both sides of one folder before anything of it is written, so a
// folder that cannot be read leaves no half-recorded files. Returns false
// (after marking the folder "除外") when either side cannot be listed.
bool listBoth(Session& s, const QString& p, std::vector<FsEntry>& f1, std::vector<FsEntry>& f2)
{
    const QString dir1 = cmp::joinPath(s.sFld1, p);
    const QString dir2 = cmp::joinPath(s.sFld2, p);
    try {
        int bad1 = 0, bad2 = 0;
        f1 = FsList(dir1, FsKind::Files, &bad1);
        if (FsIsDir(dir2))
            f2 = FsList(dir2, FsKind::Files, &bad2);
        else
            f2.clear();
        for (const auto& [dir, bad] : {std::pair{dir1, bad1}, std::pair{dir2, bad2}})
            if (bad > 0)
                s.vUnread.append(dir + QStringLiteral(": %1 names not valid in the file-name encoding were left out")
                                           .arg(bad));
        return true;
    } catch (const FsError& e) {
        s.vUnread.append(cmp::errorText(e));
        cmp::excludeSubtree(s.oDb.conn(), p);
        return false;
    }
}

} // namespace

void ScnFile(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();

    std::vector<CmpFolder> folders;
    s.oDb.R_Ary(QStringLiteral("Select sPh, sEd From tbFold Where sEd Like '比較%'"), {},
                [&folders](const RAry& b) {
                    for (long long r = 0; r < b.rowCount(); ++r)
                        folders.push_back({b.text(0, r), b.text(1, r)});
                    return true;
                });

    SqlKeepTxn txn(db);
    SqlStmt insA(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt)"
                     " VALUES (?, ?, ?, ?, ?, 0, '', '', '')");
    SqlStmt insB(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt)"
                     " VALUES (?, ?, ?, 0, '', ?, ?, '', ?)");
    SqlStmt upd(db, "UPDATE tbFile SET nS2 = ?, sU2 = ?, sAt = ? WHERE nNo = ?");

    std::vector<FsEntry> f1, f2;
    QHash<QString, long long> rowOf;  // folder-1 file name -> its nNo
    for (const CmpFolder& f : folders) {
        if (f.sED == St::CmpF)
            yIni::F_CreateFld(cmp::joinPath(s.sFld2, f.sPh));
        if (!listBoth(s, f.sPh, f1, f2))
            continue;
        rowOf.clear();
        for (const FsEntry& e : f1) {
            insA.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, e.size).bind(5, DateText(e.mtime));
            insA.exec();
            rowOf.insert(e.name, s.nCnt);
            if (!pg.yield())
                return;
        }
        for (const FsEntry& e : f2) {
            const auto it = rowOf.constFind(e.name);  // names match exactly
            if (it != rowOf.cend()) {
                upd.bind(1, e.size).bind(2, DateText(e.mtime)).bind(3, AttrText(e.name, e.mode)).bind(4, *it);
                upd.exec();
            } else {
                insB.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, e.size);
                insB.bind(5, DateText(e.mtime)).bind(6, AttrText(e.name, e.mode));
                insB.exec();
            }
            if (!pg.yield())
                return;
        }
        if (!pg.yield())
            return;
    }
    txn.commit();
}

} // namespace velmor
