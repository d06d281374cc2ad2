// What else than the content of an item differs between the two folders:
// folders' permissions, owners, times and attributes, and what folder 2's
// volume cannot hold at all.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "env/FsDir.h"
#include "env/FsList.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace cmp {

unsigned xattrKinds(const Session& s)
{
    return (s.panel.chAcls && s.caps2.holdsAcls ? kMetaAcls : 0)
           | (s.panel.chXattrs && s.caps2.holdsXattrs ? kMetaXattrs : 0);
}

void noteLost(Session& s, const QString& what)
{
    const QString line = what + QStringLiteral(": ") + s.sFld2;
    if (!s.vLost.contains(line))
        s.vLost.append(line);
}

void noteLostOwner(Session& s, unsigned uid, unsigned gid)
{
    // Only root gives items away; another user's copies are its own anyway.
    static const bool root = ::geteuid() == 0;
    static const gid_t group = ::getegid();
    if (!s.caps2.holdsOwners && root && (uid != 0 || gid != group))
        noteLost(s, QStringLiteral("所有者とｸﾞﾙｰﾌﾟ"));
}

} // namespace cmp

void ClsFldMeta(Session& s)
{
    // Attributes asked for that the volume cannot hold are lost on every
    // item that has them, also inside folders copied whole (not scanned).
    if (s.panel.chAcls && !s.caps2.holdsAcls)
        cmp::noteLost(s, QStringLiteral("ACL"));
    if (s.panel.chXattrs && !s.caps2.holdsXattrs)
        cmp::noteLost(s, QStringLiteral("拡張属性"));
    Progress& pg = cmp::progressOf(s);
    s.oDb.DbOpen();
    struct Row {
        long long no;
        QString rel;
    };
    std::vector<Row> rows;
    s.oDb.forEachRow(QStringLiteral("Select nNo, sPh, sED From tbFold Where sED In ('比較', '追加') And sNg Is Null"
                                    " Order By nNo"),
                     {}, [&](const SqlStmt& q) {
                         if (q.text(2) == St::Cmp) {
                             rows.push_back({q.int64(0), q.text(1)});
                         } else if (!s.caps2.holdsOwners) {
                             // A folder copied whole: its owner tells whether
                             // the volume would lose owners (its content is
                             // not looked at).
                             const auto st = s.vFld1Stat.constFind(q.text(1));
                             if (st != s.vFld1Stat.cend())
                                 cmp::noteLostOwner(s, st->uid, st->gid);
                         }
                         return true;
                     });
    if (rows.empty())
        return;
    const UniqueFd root1 = cmp::openRoot(s, 1);
    const UniqueFd root2 = cmp::openRoot(s, 2);
    const unsigned modeMask = FsKeepsModes(root2.get()) ? 07777u : 0u;
    const unsigned kinds = cmp::xattrKinds(s);
    const MetaMatch meta{true, s.caps2.holdsOwners};
    const TimeMatch match{s.panel.nShift, s.caps2.twoSecondTimes};
    SqlKeepTxn txn(s.oDb.conn());
    SqlStmt mark(s.oDb.conn(), "UPDATE tbFold SET sRs = ?2, nMo = 1 WHERE nNo = ?1");
    for (const Row& r : rows) {
        // The scans saw both folders; their attributes are read now where
        // they are compared. A folder that went away since is left to the
        // synchronisation, which finds it gone; one whose attributes cannot
        // be read is named, like any unreadable item, and not corrected.
        const auto st1 = s.vFld1Stat.constFind(r.rel), st2 = s.vFld2Stat.constFind(r.rel);
        if (st1 == s.vFld1Stat.cend() || st2 == s.vFld2Stat.cend())
            continue;
        FileXattrs x1, x2;
        if (kinds != 0) {
            const QByteArray rel = nameBytes(r.rel);
            const UniqueFd d1 = openBeneath(root1.get(), rel);
            const UniqueFd d2 = openBeneath(root2.get(), rel);
            if (!d1.valid() || !d2.valid())
                continue;
            if (!ReadXattrs(d1.get(), {}, kinds, x1) || !ReadXattrs(d2.get(), {}, kinds, x2)) {
                s.vUnread.append(cmp::sysErrorText(cmp::joinPath(s.sFld1, r.rel), errno));
                continue;
            }
        }
        FileSide one, two;
        one.mode = st1->mode & (S_IFMT | modeMask);
        two.mode = st2->mode & (S_IFMT | modeMask);
        one.uid = st1->uid;
        one.gid = st1->gid;
        two.uid = st2->uid;
        two.gid = st2->gid;
        cmp::noteLostOwner(s, one.uid, one.gid);
        one.xattrs = &x1;
        two.xattrs = &x2;
        QString what = MetaDifference(one, two, meta);
        const FileTime t1{st1->sec, st1->nsec}, t2{st2->sec, st2->nsec};
        if (!SameFileTime(t1, t2, match))
            what += (what.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("日時");
        if (!what.isEmpty())
            mark.bind(1, r.no).bind(2, QStringLiteral("属性だけが違います: ") + what).exec();
        if (!pg.yield())
            break;
    }
    txn.commit();
}

} // namespace velmor
