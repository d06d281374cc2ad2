// Folder scan: which folders of folder 1 take part (from the tree's ticks)
// and which folders exist in folder 2 (from the disk).
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "tree/FolderTree.h"

#include <QSet>

namespace velmor {

namespace cmp {

void excludeSubtree(SqlConn& db, const QString& rel)
{
    // In byte order the paths below rel are exactly those in [rel + "/",
    // rel + "0"), since "0" follows "/".
    SqlStmt st(db, "UPDATE tbFold SET sED = '除外' WHERE sPh = ?1 OR (sPh >= ?2 AND sPh < ?3)");
    st.bind(1, rel).bind(2, rel + QLatin1Char('/')).bind(3, rel + QLatin1Char('0'));
    st.exec();
}

} // namespace cmp

namespace {

// Date text of a folder-1 folder; a folder that cannot be read (vanished,
// not a folder any more) gets no date, the status "除外" and a vUnread line.
QString folder1Date(Session& s, const QString& full, QString& status)
{
    try {
        const FsEntry e = FsStat(full);
        if (!e.isDir())
            throw FsError(full.toStdString() + ": not a folder");
        return DateText(e.mtime);
    } catch (const FsError& e) {
        s.vUnread.append(cmp::errorText(e));
        status = St::Excl;
        return QString();
    }
}

} // namespace

QStringList ScnFld1(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    FolderTree& tree = *s.tree1;
    // No refresh tick may remove nodes while the walk yields.
    FolderTree::RefreshPause pause(tree);
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();
    SqlKeepTxn txn(db);
    SqlStmt ins(db, "INSERT INTO tbFold (nNo, sPh, sU1, sU2, sED) VALUES (?, ?, ?, '', ?)");

    QStringList chkd, anc;
    QSet<QString> chkdSet, ancSet;
    for (int i = 0; i < tree.nodeCount(); ++i) {
        const TreeNode* node = tree.nodeAt(i);
        if (node && !node->isPlaceholder() && node->checked) {
            const QString full = tree.fullPath(node);
            const QString rel = cmp::relPath(s.sFld1, full);
            // A second node with the same path cannot be a second folder.
            if (!rel.isEmpty() && !chkdSet.contains(rel)) {
                chkd.append(rel);
                chkdSet.insert(rel);
                for (qsizetype at = rel.indexOf(QLatin1Char('/')); at >= 0;
                     at = rel.indexOf(QLatin1Char('/'), at + 1)) {
                    const QString a = rel.left(at);
                    if (!ancSet.contains(a)) {
                        anc.append(a);
                        ancSet.insert(a);
                    }
                }
                QString status = St::Empty;
                const QString date = folder1Date(s, full, status);
                ins.bind(1, ++s.nCnt).bind(2, rel).bind(3, date).bind(4, status).exec();
            }
        }
        if (!pg.yield())
            return chkd;
    }

    for (const QString& a : std::as_const(anc)) {
        if (!a.isEmpty() && !chkdSet.contains(a)) {
            QString status = St::Kara;
            const QString date = folder1Date(s, cmp::joinPath(s.sFld1, a), status);
            ins.bind(1, ++s.nCnt).bind(2, a).bind(3, date).bind(4, status).exec();
        }
        if (!pg.yield())
            return chkd;
    }
    txn.commit();
    return chkd;
}

namespace {

class Fld2Walker {
public:
    Fld2Walker(Session& s, SqlConn& db)
        : m_s(s), m_db(db), m_pg(cmp::progressOf(s)),
          m_upd(db, "UPDATE tbFold SET sU2 = ?, sAt = ? WHERE sPh = ?"),
          m_ins(db, "INSERT INTO tbFold (nNo, sPh, sU1, sU2, sED, sAt) VALUES (?, ?, '', ?, '', ?)")
    {
    }

    // Returns false once the user pressed stop.
    bool walk(const QString& path, const QString& rel, const QString& date, const QString& at)
    {
        if (!rel.isEmpty()) {
            m_upd.bind(1, date).bind(2, at).bind(3, rel);
            if (m_upd.exec() == 0)
                m_ins.bind(1, ++m_s.nCnt).bind(2, rel).bind(3, date).bind(4, at).exec();
        }
        std::vector<FsEntry> subs;
        int undecodable = 0;
        try {
            subs = FsList(path, FsKind::Folders, &undecodable);
        } catch (const FsError& e) {
            if (rel.isEmpty())
                throw;  // the root itself: nothing of folder 2 is known
            m_s.vUnread.append(cmp::errorText(e));
            cmp::excludeSubtree(m_db, rel);
            return true;
        }
        if (undecodable > 0)
            m_s.vUnread.append(path + QStringLiteral(": %1 names not valid in the file-name encoding were left out")
                                          .arg(undecodable));
        for (const FsEntry& e : subs) {
            const QString childRel = rel.isEmpty() ? e.name : rel + QLatin1Char('/') + e.name;
            if (!walk(cmp::joinPath(path, e.name), childRel, DateText(e.mtime), AttrText(e.name, e.mode)))
                return false;
            if (!m_pg.yield())
                return false;
        }
        return true;
    }

private:
    Session& m_s;
    SqlConn& m_db;
    Progress& m_pg;
    SqlStmt m_upd;
    SqlStmt m_ins;
};

} // namespace

void ScnFld2(Session& s, const QString& folder)
{
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();
    SqlKeepTxn txn(db);
    Fld2Walker w(s, db);
    const QString rel = cmp::relPath(s.sFld2, folder);
    QString date, at;
    if (!rel.isEmpty()) {
        // Errors reading the folder's own date or attributes leave them empty.
        try {
            const FsEntry e = FsStat(folder);
            date = DateText(e.mtime);
            at = AttrText(e.name, e.mode);
        } catch (const FsError&) {
        }
    }
    w.walk(folder, rel, date, at);
    txn.commit();
}

} // namespace velmor
