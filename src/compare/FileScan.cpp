// File scan: the files of every folder compared file by file, both sides,
// into tbFile.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "env/yIni.h"

#include <QHash>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmor {

namespace {

struct CmpFolder {
    QString sPh;
    QString sED;
};

// Both listings of one folder, or why they could not be made.
struct Listing {
    std::vector<FsEntry> f1, f2;
    int bad1 = 0, bad2 = 0;  // names left out (not valid in the file-name encoding)
    QString error;           // non-empty when a side could not be listed
};

// One side of one folder: its files, or why they could not be listed.
struct SideListing {
    std::vector<FsEntry> files;
    int bad = 0;
    QString error;
};

SideListing listSide(const QString& dir, bool mustExist)
{
    SideListing l;
    try {
        if (mustExist || FsIsDir(dir))
            l.files = FsList(dir, FsKind::Files, &l.bad);
    } catch (const FsError& e) {
        l = SideListing();
        l.error = cmp::errorText(e);
    }
    return l;
}

// Reads the folders' listings ahead of the scan on two worker threads, one
// per side, so both file systems and the database work at the same time.
// The workers only read the disk and hand listings over in folder order;
// everything else (folder creation, the database, the stop button) stays on
// the calling thread.
class ListingPrefetch {
public:
    static constexpr size_t kAhead = 256;  // folders listed ahead at most

    ListingPrefetch(const QString& root1, const QString& root2, const std::vector<CmpFolder>& folders)
    {
        for (int side = 0; side < 2; ++side) {
            Side& sd = m_side[side];
            sd.ready.resize(folders.size());
            sd.dirs.reserve(folders.size());
            for (const CmpFolder& f : folders) {
                // Side 2 of a "比較F" folder is listed by the scan once it
                // has created the folder.
                const bool skip = side == 1 && f.sED == St::CmpF;
                sd.dirs.push_back(skip ? QString() : cmp::joinPath(side == 0 ? root1 : root2, f.sPh));
            }
        }
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
        SideListing one = std::move(m_side[0].ready[i]);
        SideListing two = std::move(m_side[1].ready[i]);
        m_taken = i + 1;
        lock.unlock();
        m_cv.notify_all();
        Listing l;
        l.error = !one.error.isEmpty() ? one.error : two.error;
        if (l.error.isEmpty()) {
            l.f1 = std::move(one.files);
            l.f2 = std::move(two.files);
            l.bad1 = one.bad;
            l.bad2 = two.bad;
        }
        return l;
    }

private:
    struct Side {
        std::vector<QString> dirs;  // empty: not listed here
        std::vector<SideListing> ready;
        size_t made = 0;
        std::thread worker;
    };

    void run(int side)
    {
        Side& sd = m_side[side];
        for (size_t i = 0; i < sd.dirs.size(); ++i) {
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_cancel || i < m_taken + kAhead; });
                if (m_cancel)
                    return;
            }
            // Folder 1 must be there; folder 2 may lack the folder.
            SideListing l = sd.dirs[i].isEmpty() ? SideListing() : listSide(sd.dirs[i], side == 0);
            {
                std::lock_guard lock(m_mutex);
                sd.ready[i] = std::move(l);
                sd.made = i + 1;
            }
            m_cv.notify_all();
        }
    }

    Side m_side[2];
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_taken = 0;
    bool m_cancel = false;
};

void noteBad(Session& s, const QString& dir, int bad)
{
    if (bad > 0)
        s.vUnread.append(dir + QStringLiteral(": %1 names not valid in the file-name encoding were left out").arg(bad));
}

} // namespace

void ScnFile(Session& s)
{
    Progress& pg = cmp::progressOf(s);
    s.oDb.DbOpen();
    SqlConn& db = s.oDb.conn();

    std::vector<CmpFolder> folders;
    s.oDb.forEachRow(QStringLiteral("Select sPh, sEd From tbFold Where sEd Like '比較%'"), {},
                     [&folders](const SqlStmt& q) {
                         folders.push_back({q.text(0), q.text(1)});
                         return true;
                     });

    SqlKeepTxn txn(db);
    // A file on both sides is written once, complete: the folder-2 side is
    // looked up before the folder-1 row is inserted. The rows, their order
    // and their numbers are those of inserting the folder-1 files and then
    // completing them from the folder-2 listing, at half the statements.
    SqlStmt ins(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?, '', ?)");

    ListingPrefetch ahead(s.sFld1, s.sFld2, folders);
    QHash<QString, size_t> side2;  // folder-2 file name -> index in its listing
    std::vector<bool> matched;
    for (size_t i = 0; i < folders.size(); ++i) {
        const CmpFolder& f = folders[i];
        Listing l = ahead.take(i);
        if (f.sED == St::CmpF && l.error.isEmpty()) {
            // Created now, during the comparison, so the folder exists on
            // both sides; its listing (normally empty) follows the creation.
            const QString dir2 = cmp::joinPath(s.sFld2, f.sPh);
            yIni::F_CreateFld(dir2);
            try {
                if (FsIsDir(dir2))
                    l.f2 = FsList(dir2, FsKind::Files, &l.bad2);
            } catch (const FsError& e) {
                l.error = cmp::errorText(e);
            }
        }
        if (!l.error.isEmpty()) {
            // Nothing of a folder that cannot be read is compared or deleted.
            s.vUnread.append(l.error);
            cmp::excludeSubtree(db, f.sPh);
            continue;
        }
        noteBad(s, cmp::joinPath(s.sFld1, f.sPh), l.bad1);
        noteBad(s, cmp::joinPath(s.sFld2, f.sPh), l.bad2);
        side2.clear();
        for (size_t k = 0; k < l.f2.size(); ++k)
            side2.insert(l.f2[k].name, k);  // names match exactly
        matched.assign(l.f2.size(), false);

        for (const FsEntry& e : l.f1) {
            ins.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, e.size).bind(5, DateText(e.mtime));
            const auto it = side2.constFind(e.name);
            if (it != side2.cend()) {
                const FsEntry& e2 = l.f2[*it];
                matched[*it] = true;
                ins.bind(6, e2.size).bind(7, DateText(e2.mtime)).bind(8, AttrText(e2.name, e2.mode));
            } else {
                ins.bind(6, 0LL).bind(7, QString()).bind(8, QString());
            }
            ins.exec();
            if (!pg.yield())
                return;
        }
        for (size_t k = 0; k < l.f2.size(); ++k) {
            if (!matched[k]) {
                const FsEntry& e = l.f2[k];
                ins.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, 0LL).bind(5, QString());
                ins.bind(6, e.size).bind(7, DateText(e.mtime)).bind(8, AttrText(e.name, e.mode));
                ins.exec();
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
