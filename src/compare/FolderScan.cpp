// Folder scan: which folders of folder 1 take part (from the tree's ticks)
// and which folders exist in folder 2 (from the disk). Both sides are read
// through a descriptor of their root, never through a link below it.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "env/FsDir.h"
#include "env/Parallel.h"
#include "env/Reasons.h"
#include "tree/FolderTree.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unordered_map>

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

QString sysErrorText(const QString& path, int err)
{
    if (err == ELOOP || err == ENOTDIR)
        return WhyText(Why::LinkForFolder, path);
    if (err == ESTALE)
        return WhyText(Why::NotTheComparedFolder, path);
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
}

UniqueFd openRoot(const Session& s, int side)
{
    const QString& path = side == 1 ? s.sFld1 : s.sFld2;
    const FsId& id = side == 1 ? s.id1 : s.id2;
    // A phase run on its own (without a comparison) takes the folder as it is.
    UniqueFd fd = id.valid() ? OpenRoot(path, id) : openDirPath(nameBytes(path), true);
    if (!fd.valid())
        throw FsError(sysErrorText(path, errno).toStdString());
    return fd;
}

bool isVolumeTrash(QStringView name)
{
    constexpr QLatin1String trash(".Trash");
    if (!name.startsWith(trash))
        return false;
    if (name.size() == trash.size())
        return true;
    if (name.size() == trash.size() + 1 || name.at(trash.size()) != QLatin1Char('-'))
        return false;
    for (qsizetype i = trash.size() + 1; i < name.size(); ++i)
        if (name.at(i) < QLatin1Char('0') || name.at(i) > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace cmp

namespace {

// Date texts of folder-1 folders (rel below the open root root1), read
// without following a link on the way or at the end. A folder that cannot
// be read (vanished, a link or a file now) gets no date, the status "除外"
// and a vUnread line. Folders come sibling after sibling: the parent opened
// for one is kept for the next.
class Folder1Dates {
public:
    Folder1Dates(Session& s, int root1) : m_s(s), m_root1(root1) {}

    QString date(const QString& rel, QString& status)
    {
        const QString full = cmp::joinPath(m_s.sFld1, rel);
        const QByteArray bytes = nameBytes(rel);
        const qsizetype slash = bytes.lastIndexOf('/');
        const QByteArray parentRel = slash < 0 ? QByteArray() : bytes.first(slash);
        if (!m_parent.valid() || parentRel != m_parentRel) {
            m_parent = openBeneath(m_root1, parentRel);
            m_parentErr = errno;
            m_parentRel = parentRel;
        }
        struct stat st;
        QString why;
        if (!m_parent.valid())
            why = cmp::sysErrorText(full, m_parentErr);
        else if (fstatat(m_parent.get(), bytes.constData() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0)
            why = cmp::sysErrorText(full, errno);
        else if (!S_ISDIR(st.st_mode))
            why = WhyText(Why::NotAFolder, full);
        else if (FsId{st.st_dev, st.st_ino} == m_s.id2)
            // Folder 2 mounted or bound inside folder 1: a copy into folder 2
            // would write into folder 1, and into the folder being copied.
            throw FsError(full.toStdString() + ": this is folder 2 itself (a mount of it inside folder 1)");
        if (why.isEmpty()) {
            m_s.vFld1Stat.insert(rel, {st.st_mode, st.st_uid, st.st_gid, st.st_mtim.tv_sec, st.st_mtim.tv_nsec});
            return DateText(st.st_mtim.tv_sec);
        }
        m_s.vUnread.append(why);
        status = St::Excl;
        return QString();
    }

private:
    Session& m_s;
    const int m_root1;
    UniqueFd m_parent;
    int m_parentErr = 0;
    QByteArray m_parentRel;
};

// The first component of a relative path.
QStringView firstName(const QString& rel)
{
    const qsizetype slash = rel.indexOf(QLatin1Char('/'));
    return slash < 0 ? QStringView(rel) : QStringView(rel).first(slash);
}

// Folder-1 folders that folder 2's volume cannot take: a name it refuses,
// or a second name it files under the key of an earlier one ("Sub" and
// "sub" where it ignores case; the later row is left out, so the two never
// merge). Each is "除外" with everything below it, with the reason.
void markUnholdable(Session& s, SqlConn& db)
{
    const VolumeCaps& caps = s.caps2;
    if (!caps.foldsCase && !caps.windowsNames && caps.nameMax >= 255)
        return;  // every name folder 1 can hold fits
    struct Row {
        QString rel, why;
    };
    std::vector<Row> refused;
    std::unordered_map<QString, QString> keys;  // key of a path -> the path that took it
    s.oDb.forEachRow(QStringLiteral("Select sPh From tbFold Order By nNo"), {}, [&](const SqlStmt& q) {
        const QString rel = q.text(0);
        QString why = caps.refusal(QStringView(rel).sliced(rel.lastIndexOf(QLatin1Char('/')) + 1));
        if (why.isEmpty() && caps.foldsCase) {
            const auto [at, isNew] = keys.try_emplace(caps.key(rel), rel);
            if (!isNew)
                why = VolumeCaps::clashWith(at->second);
        }
        if (!why.isEmpty())
            refused.push_back({rel, why});
        return true;
    });
    SqlStmt ng(db, "UPDATE tbFold SET sNg = ?2 WHERE sPh = ?1");
    for (const Row& r : refused) {
        cmp::excludeSubtree(db, r.rel);
        ng.bind(1, r.rel).bind(2, r.why).exec();
        s.vNg.append(cmp::joinPath(s.sFld1, r.rel) + QStringLiteral(": ") + r.why);
    }
}

} // namespace

QStringList ScnFld1(Session& s)
{
    s.vFld1Stat.clear();
    Progress& pg = cmp::progressOf(s);
    FolderTree& tree = *s.tree1;
    // No refresh tick may remove nodes while the walk yields.
    FolderTree::RefreshPause pause(tree);
    const UniqueFd root1 = cmp::openRoot(s, 1);
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();
    SqlKeepTxn txn(db);
    SqlStmt ins(db, "INSERT INTO tbFold (nNo, sPh, sU1, sU2, sED) VALUES (?, ?, ?, '', ?)");
    Folder1Dates dates(s, root1.get());

    QStringList chkd, anc;
    QSet<QString> chkdSet, ancSet;
    for (int i = 0; i < tree.nodeCount(); ++i) {
        const TreeNode* node = tree.nodeAt(i);
        if (node && !node->isPlaceholder() && node->checked) {
            const QString full = tree.fullPath(node);
            const QString rel = cmp::relPath(s.sFld1, full);
            // A second node with the same path cannot be a second folder. The
            // volume's trash is never copied into folder 2's root.
            if (!rel.isEmpty() && !chkdSet.contains(rel) && !cmp::isVolumeTrash(firstName(rel))) {
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
                const QString date = dates.date(rel, status);
                ins.bind(1, ++s.nCnt).bind(2, rel).bind(3, date).bind(4, status).exec();
            }
        }
        if (!pg.yield())
            return chkd;
    }

    for (const QString& a : std::as_const(anc)) {
        if (!a.isEmpty() && !chkdSet.contains(a)) {
            QString status = St::Kara;
            const QString date = dates.date(a, status);
            ins.bind(1, ++s.nCnt).bind(2, a).bind(3, date).bind(4, status).exec();
        }
        if (!pg.yield())
            return chkd;
    }
    markUnholdable(s, db);
    txn.commit();
    return chkd;
}

namespace {

// Which folder is the history/backup folder: device and inode of the panel's
// folder (links followed, as the user named it); invalid when it is not set
// or cannot be opened (a run that needs it refuses to start then).
FsId historyFolder(const Session& s)
{
    if (s.panel.txFold.isEmpty())
        return {};
    const UniqueFd fd = openDirPath(nameBytes(s.panel.txFold), true);
    // Otherwise there is no such folder below folder 2 to leave out.
    return fd.valid() ? FsIdOf(fd.get()) : FsId();
}

// The subfolder e of the open folder fd, never through a link.
UniqueFd openChild(int fd, const FsEntry& e)
{
    return UniqueFd(::openat(fd, nameBytes(e.name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A folder-2 subfolder opened and, unless it holds no folders, listed
// ahead of the walk's turn.
struct FolderAhead {
    bool opened = false;  // fd and err tell how its opening went
    UniqueFd fd;
    int err = 0;
    bool listed = false;  // subs and left, or error, tell its listing
    std::vector<FsEntry> subs;
    FsLeftOut left;
    QString error;
};

class Fld2Walker {
public:
    Fld2Walker(Session& s, SqlConn& db)
        : m_s(s), m_db(db), m_pg(cmp::progressOf(s)), m_hist(historyFolder(s)),
          m_upd(db, "UPDATE tbFold SET sU2 = ?, sAt = ? WHERE sPh = ?"),
          m_ins(db, "INSERT INTO tbFold (nNo, sPh, sU1, sU2, sED, sAt) VALUES (?, ?, '', ?, '', ?)"),
          m_files(db, "UPDATE tbFold SET nF2 = ?2 WHERE sPh = ?1"), m_jobs(JobsFor(s.panel.nJobs, s.caps2))
    {
        // Where folder 2's volume ignores letter case, a folder there is the
        // folder-1 folder of the same key, whatever case each is spelt in
        // ("Photos" renamed "photos" in folder 1 is still the one folder).
        if (s.caps2.foldsCase)
            s.oDb.forEachRow(QStringLiteral("Select sPh From tbFold Where sNg Is Null Order By nNo"), {},
                             [this](const SqlStmt& q) {
                                 const QString rel = q.text(0);
                                 m_spelt.try_emplace(m_s.caps2.key(rel), rel);
                                 return true;
                             });
    }

    // The row of a folder-2 folder: the folder-1 spelling of its path where
    // the volume files both under one key.
    QString rowPath(const QString& rel) const
    {
        if (m_spelt.empty())
            return rel;
        const auto at = m_spelt.find(m_s.caps2.key(rel));
        return at == m_spelt.end() ? rel : at->second;
    }

    // Completes the folder-1 row of rel, or adds a row of its own. True
    // when folder 1 has no row of it: a folder of folder 2 only.
    bool record(const QString& rel, const QString& date, const QString& at, const FolderStat& st)
    {
        m_s.vFld2Stat.insert(rel, st);
        m_upd.bind(1, date).bind(2, at).bind(3, rel);
        if (m_upd.exec() != 0)
            return false;
        m_ins.bind(1, ++m_s.nCnt).bind(2, rel).bind(3, date).bind(4, at).exec();
        return true;
    }

    // Records the folders below the open folder fd (rel below folder 2, ""
    // for the root), which lies on the volume dev (0: not known yet). Returns
    // false once the user pressed stop. Holds one descriptor per level of
    // rel. only2: rel is a folder of folder 2 only; the files its listing
    // passed over are counted into its row (nF2), and its subfolders are
    // listed even where they hold no folders, so that the rows that delete a
    // folder whole say how many files go with it.
    // pre: the folder opened and listed ahead (FolderAhead), if it was.
    bool walk(int fd, const QString& rel, dev_t dev = 0, bool only2 = false, FolderAhead* pre = nullptr)
    {
        const QString path = cmp::joinPath(m_s.sFld2, rel);
        std::vector<FsEntry> subs;
        FsLeftOut left;
        if (pre && pre->listed) {
            if (!pre->error.isEmpty()) {
                unreadable(rel, pre->error);
                return true;
            }
            subs = std::move(pre->subs);
            left = pre->left;
        } else {
            try {
                subs = FsListAt(fd, path, FsKind::Folders, &left, &linkCounts(fd, dev));
            } catch (const FsError& e) {
                if (rel.isEmpty())
                    throw;  // the root itself: nothing of folder 2 is known
                unreadable(rel, cmp::errorText(e));
                return true;
            }
        }
        if (only2)
            m_files.bind(1, rel).bind(2, left.files).exec();
        std::vector<FolderAhead> ahead;
        for (size_t k = 0; k < subs.size(); ++k) {
            const FsEntry& e = subs[k];
            if (m_jobs > 1 && k % kAheadFolders == 0)
                ahead = openAhead(fd, rel, subs, k);
            FolderAhead* mine = ahead.empty() ? nullptr : &ahead[k % kAheadFolders];
            if (leftOut(rel, e))
                continue;
            const QString childRel = childOf(rel, e);
            const bool childOnly2 = record(childRel, m_dates.text(e.mtime), AttrText(e.name, e.mode),
                                           {e.mode, e.uid, e.gid, e.mtime, e.mtimeNsec});
            UniqueFd child;
            int err = 0;
            if (mine && mine->opened) {
                child = std::move(mine->fd);
                err = mine->err;
            } else {
                child = openChild(fd, e);
                err = errno;
            }
            // A folder that holds no folders is opened (so one that cannot be
            // read is known now) but not listed, unless its files are counted.
            if (!child.valid()) {
                unreadable(childRel, cmp::sysErrorText(cmp::joinPath(path, e.name), err));
            } else if ((!e.noSubfolders || childOnly2) && !walk(child.get(), childRel, e.dev, childOnly2, mine)) {
                return false;
            }
            if (!m_pg.yield())
                return false;
        }
        return true;
    }

private:
    // Subfolders opened and listed ahead at a time, where folder 2 answers
    // slowly: each waits on the volume, so several are asked at once.
    static constexpr size_t kAheadFolders = 64;

    QString childOf(const QString& rel, const FsEntry& e) const
    {
        return rowPath(rel.isEmpty() ? e.name : rel + QLatin1Char('/') + e.name);
    }

    // Opens and lists subs[from] and up to kAheadFolders - 1 after it, on
    // m_jobs threads. Folders the walk leaves out, and those on a volume
    // whose link counts are not known yet (the walk asks that volume
    // itself), are not looked at.
    std::vector<FolderAhead> openAhead(int fd, const QString& rel, const std::vector<FsEntry>& subs, size_t from)
    {
        const size_t count = std::min(kAheadFolders, subs.size() - from);
        std::vector<FolderAhead> out(count);
        std::vector<const FsLinkCounts*> counts(count, nullptr);
        for (size_t k = 0; k < count; ++k) {
            const FsEntry& e = subs[from + k];
            const auto known = m_links.find(e.dev);
            if (known != m_links.end() && FsId{e.dev, e.ino} != m_hist && FsId{e.dev, e.ino} != m_s.id1
                && !(rel.isEmpty() && cmp::isVolumeTrash(e.name)))
                counts[k] = &known->second;
        }
        ForEachAtOnce(count, m_jobs, [&](size_t k) {
            if (!counts[k])
                return;
            const FsEntry& e = subs[from + k];
            FolderAhead& a = out[k];
            a.fd = openChild(fd, e);
            a.err = errno;
            a.opened = true;
            if (!a.fd.valid() || e.noSubfolders)
                return;
            try {
                a.subs = FsListAt(a.fd.get(), cmp::joinPath(m_s.sFld2, childOf(rel, e)), FsKind::Folders, &a.left,
                                  counts[k]);
            } catch (const FsError& err) {
                a.error = cmp::errorText(err);
            }
            a.listed = true;
        });
        return out;
    }

    // The link counts of the volume dev, asked of the open folder fd there
    // once per volume the walk meets rather than once per folder (a round
    // trip each on a network mount).
    const FsLinkCounts& linkCounts(int fd, dev_t dev)
    {
        if (const auto known = m_links.find(dev); dev != 0 && known != m_links.end())
            return known->second;
        const FsLinkCounts c = FsLinkCountsOf(fd);
        return m_links.insert_or_assign(c.dev, c).first->second;
    }

    // Nothing of a folder that cannot be read is compared or deleted.
    void unreadable(const QString& rel, const QString& why)
    {
        m_s.vUnread.append(why);
        cmp::excludeSubtree(m_db, rel);
    }

    // The history/backup folder and, at folder 2's root, the volume's trash
    // take no part: no row, nothing below them is looked at.
    bool leftOut(const QString& rel, const FsEntry& e)
    {
        const FsId id{e.dev, e.ino};
        if (id == m_s.id1)
            // Folder 1 mounted or bound inside folder 2: a change here would
            // change folder 1.
            throw FsError(cmp::joinPath(cmp::joinPath(m_s.sFld2, rel), e.name).toStdString()
                          + ": this is folder 1 itself (a mount of it inside folder 2)");
        if (m_hist.valid() && id == m_hist) {
            m_s.sHistRel = rel.isEmpty() ? e.name : rel + QLatin1Char('/') + e.name;
            return true;
        }
        return rel.isEmpty() && cmp::isVolumeTrash(e.name);
    }

    Session& m_s;
    SqlConn& m_db;
    Progress& m_pg;
    const FsId m_hist;
    SqlStmt m_upd;
    SqlStmt m_ins;
    SqlStmt m_files;
    DateTexts m_dates;
    std::unordered_map<QString, QString> m_spelt;  // key of a folder-1 path -> that path
    std::unordered_map<dev_t, FsLinkCounts> m_links;  // by volume
    const int m_jobs;  // folders opened and listed at once
};

} // namespace

void ScnFld2(Session& s, const QString& folder)
{
    s.sHistRel.clear();
    s.vFld2Stat.clear();
    const QString rel = cmp::relPath(s.sFld2, folder);
    const UniqueFd root2 = cmp::openRoot(s, 2);
    const UniqueFd fd = openBeneath(root2.get(), nameBytes(rel));
    if (!fd.valid())
        throw FsError(cmp::sysErrorText(folder, errno).toStdString());
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();
    SqlKeepTxn txn(db);
    Fld2Walker w(s, db);
    bool only2 = false;
    if (!rel.isEmpty()) {
        struct stat st;
        if (fstat(fd.get(), &st) != 0)
            throw FsError(cmp::sysErrorText(folder, errno).toStdString());
        const QString name = rel.mid(rel.lastIndexOf(QLatin1Char('/')) + 1);
        only2 = w.record(rel, DateText(st.st_mtim.tv_sec), AttrText(name, st.st_mode),
                         {st.st_mode, st.st_uid, st.st_gid, st.st_mtim.tv_sec, st.st_mtim.tv_nsec});
    }
    if (w.walk(fd.get(), rel, 0, only2)) {
        // Folder-2 folders below a folder-1 folder that could not be read
        // are left out with it: what they are copies of is not known.
        QStringList unread;
        s.oDb.forEachRow(QStringLiteral("Select sPh From tbFold Where sED = '除外' And sU1 = ''"), {},
                         [&unread](const SqlStmt& q) {
                             unread.append(q.text(0));
                             return true;
                         });
        for (const QString& u : std::as_const(unread))
            cmp::excludeSubtree(db, u);
    }
    txn.commit();
}

} // namespace velmor
