// File scan: the files of every folder compared file by file, both sides,
// into tbFile. Both sides are read through a descriptor of their root, never
// through a link below it.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "env/FsDir.h"

#include <QHash>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace velmor {

namespace {

struct CmpFolder {
    QString sPh;
    QString sED;
};

// One side of one folder: its files and what the listing left out, or why
// they could not be listed.
struct SideListing {
    std::vector<FsEntry> files;
    FsLeftOut left;
    QString error;
};

// Both listings of one folder.
struct Listing {
    SideListing one, two;
    QString error() const { return !one.error.isEmpty() ? one.error : two.error; }
};

// Lists the folder rel below the open root. A missing folder is an error on
// side 1 and an empty listing on side 2 (folder 2 may lack the folder); a
// link or a file on the way is always an error.
SideListing listSide(int root, const QString& rootPath, const QString& rel, bool mustExist)
{
    SideListing l;
    const QString dir = cmp::joinPath(rootPath, rel);
    const UniqueFd fd = openBeneath(root, nameBytes(rel));
    if (!fd.valid()) {
        if (mustExist || errno != ENOENT)
            l.error = cmp::sysErrorText(dir, errno);
        return l;
    }
    try {
        l.files = FsListAt(fd.get(), dir, FsKind::Files, &l.left);
    } catch (const FsError& e) {
        l = SideListing();
        l.error = cmp::errorText(e);
    }
    return l;
}

// Reads the folders' listings ahead of the scan on two worker threads, one
// per side, so both file systems and the database work at the same time.
// The workers only read the disk (through the roots' descriptors, which the
// caller keeps open) and hand listings over in folder order; everything else
// (folder creation, the database, the stop button) stays on the calling
// thread.
class ListingPrefetch {
public:
    static constexpr size_t kAhead = 256;  // folders listed ahead at most

    ListingPrefetch(const Session& s, int root1, int root2, const std::vector<CmpFolder>& folders)
        : m_folders(folders)
    {
        m_side[0].root = root1;
        m_side[0].rootPath = s.sFld1;
        m_side[1].root = root2;
        m_side[1].rootPath = s.sFld2;
        for (Side& sd : m_side)
            sd.ready.resize(folders.size());
        for (int side = 0; side < 2; ++side)
            m_side[side].worker = std::thread([this, side] { run(side); });
    }

    ~ListingPrefetch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancel = true;
        }
        m_cv.notify_all();
        for (Side& sd : m_side)
            sd.worker.join();
    }

    // The listings of folder i (taken in order, each once).
    Listing take(size_t i)
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_side[0].made > i && m_side[1].made > i; });
        Listing l{std::move(m_side[0].ready[i]), std::move(m_side[1].ready[i])};
        m_taken = i + 1;
        lock.unlock();
        m_cv.notify_all();
        return l;
    }

private:
    struct Side {
        int root = -1;
        QString rootPath;
        std::vector<SideListing> ready;
        size_t made = 0;
        std::thread worker;
    };

    void run(int side)
    {
        Side& sd = m_side[side];
        for (size_t i = 0; i < m_folders.size(); ++i) {
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_cancel || i < m_taken + kAhead; });
                if (m_cancel)
                    return;
            }
            // Side 2 of a "比較F" folder is listed by the scan once it has
            // created the folder.
            const CmpFolder& f = m_folders[i];
            SideListing l = side == 1 && f.sED == St::CmpF ? SideListing()
                                                            : listSide(sd.root, sd.rootPath, f.sPh, side == 0);
            {
                std::lock_guard lock(m_mutex);
                sd.ready[i] = std::move(l);
                sd.made = i + 1;
            }
            m_cv.notify_all();
        }
    }

    const std::vector<CmpFolder>& m_folders;
    Side m_side[2];
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_taken = 0;
    bool m_cancel = false;
};

// Pipes, sockets and devices cannot be copied: each is named as left out.
void noteSpecial(Session& s, const QString& root, const QString& rel, const FsLeftOut& left)
{
    const QString dir = cmp::joinPath(root, rel);
    for (const QString& name : left.special)
        s.vUnread.append(dir + QLatin1Char('/') + name
                         + QStringLiteral(": special file (pipe, socket or device), not synchronised"));
}

} // namespace

void ScnFile(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    s.vTmpLeft.clear();
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();

    std::vector<CmpFolder> folders;
    s.oDb.forEachRow(QStringLiteral("Select sPh, sEd From tbFold Where sEd Like '比較%'"), {},
                     [&folders](const SqlStmt& q) {
                         folders.push_back({q.text(0), q.text(1)});
                         return true;
                     });

    SqlKeepTxn txn(db);
    long long rows = 0;
    // A file on both sides is written once, complete and classified: the
    // folder-2 side is looked up before the folder-1 row is inserted. The
    // rows, their order, their numbers and their statuses are those of
    // inserting the folder-1 files, completing them from the folder-2
    // listing and classifying every row afterwards, at a third of the
    // statements.
    SqlStmt ins(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt, nT1, nT2)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const FileClassifier cls(s);
    DateTexts dates;

    // The roots as the user named them (a root that is a link is followed);
    // below them nothing is reached through a link.
    const UniqueFd root1 = cmp::openRoot(s, 1);
    const UniqueFd root2 = cmp::openRoot(s, 2);
    ListingPrefetch ahead(s, root1.get(), root2.get(), folders);
    QHash<QString, size_t> side2;  // folder-2 file name -> index in its listing
    std::vector<bool> matched;
    QStringList excluded;  // folders this scan could not read
    const auto insideExcluded = [&excluded](const QString& rel) {
        for (const QString& x : std::as_const(excluded))
            if (rel.startsWith(x) && rel.size() > x.size() && rel.at(x.size()) == QLatin1Char('/'))
                return true;
        return false;
    };
    for (size_t i = 0; i < folders.size(); ++i) {
        const CmpFolder& f = folders[i];
        Listing l = ahead.take(i);
        // Below a folder that could not be read nothing is compared, even
        // where a deeper folder could be reached (it is reported once, above).
        if (insideExcluded(f.sPh))
            continue;
        if (f.sED == St::CmpF && l.error().isEmpty()) {
            // Created now, during the comparison, so the folder exists on
            // both sides, with the folder-1 folder's mode; its listing
            // (normally empty) follows the creation.
            const QString dir2 = cmp::joinPath(s.sFld2, f.sPh);
            const UniqueFd fd = makeBeneath(root2.get(), nameBytes(f.sPh), root1.get());
            if (!fd.valid()) {
                l.two.error = cmp::sysErrorText(dir2, errno);
            } else {
                try {
                    l.two.files = FsListAt(fd.get(), dir2, FsKind::Files, &l.two.left);
                } catch (const FsError& e) {
                    l.two.error = cmp::errorText(e);
                }
            }
        }
        if (!l.error().isEmpty()) {
            // Nothing of a folder that cannot be read is compared or deleted.
            s.vUnread.append(l.error());
            cmp::excludeSubtree(db, f.sPh);
            excluded.append(f.sPh);
            continue;
        }
        noteSpecial(s, s.sFld1, f.sPh, l.one.left);
        noteSpecial(s, s.sFld2, f.sPh, l.two.left);
        // Folder 1 is never written, so temporary files there are not ours to clear.
        if (l.two.left.temps)
            s.vTmpLeft.insert(f.sPh);
        const std::vector<FsEntry>& f1 = l.one.files;
        const std::vector<FsEntry>& f2 = l.two.files;
        side2.clear();
        for (size_t k = 0; k < f2.size(); ++k)
            side2.insert(f2[k].name, k);  // names match exactly
        matched.assign(f2.size(), false);

        for (const FsEntry& e : f1) {
            const FileSide one{dates.text(e.mtime), e.size, e.mtimeNs};
            ins.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, e.size).bind(5, one.u);
            ins.bind(10, e.mtimeNs);
            const auto it = side2.constFind(e.name);
            if (it != side2.cend()) {
                const FsEntry& e2 = f2[*it];
                matched[*it] = true;
                const FileSide two{dates.text(e2.mtime), e2.size, e2.mtimeNs};
                const QString at = AttrText(e2.name, e2.mode);
                ins.bind(6, e2.size).bind(7, two.u).bind(8, cls.status(e.name, one, two, at)).bind(9, at);
                ins.bind(11, e2.mtimeNs);
            } else {
                ins.bind(6, 0LL).bind(7, QString()).bind(8, cls.status(e.name, one, FileSide(), QString()));
                ins.bind(9, QString());
            }
            ins.exec();
            if (++rows % SqlKeepTxn::kRowsPerCommit == 0)
                txn.checkpoint();
            if (!pg.yield())
                return;
        }
        for (size_t k = 0; k < f2.size(); ++k) {
            if (!matched[k]) {
                const FsEntry& e = f2[k];
                const FileSide two{dates.text(e.mtime), e.size, e.mtimeNs};
                const QString at = AttrText(e.name, e.mode);
                ins.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, 0LL).bind(5, QString());
                ins.bind(6, e.size).bind(7, two.u).bind(8, cls.status(e.name, FileSide(), two, at)).bind(9, at);
                ins.bind(11, e.mtimeNs);
                ins.exec();
                if (++rows % SqlKeepTxn::kRowsPerCommit == 0)
                    txn.checkpoint();
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
