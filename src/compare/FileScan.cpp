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

Listing listFolder(const QString& dir1, const QString& dir2, bool side2)
{
    Listing l;
    try {
        l.f1 = FsList(dir1, FsKind::Files, &l.bad1);
        if (side2 && FsIsDir(dir2))
            l.f2 = FsList(dir2, FsKind::Files, &l.bad2);
    } catch (const FsError& e) {
        l = Listing();
        l.error = cmp::errorText(e);
    }
    return l;
}

// Reads the folders' listings on a worker thread, ahead of the scan, so the
// file system and the database work at the same time. The worker only reads
// the disk and hands listings over in folder order; everything else (folder
// creation, the database, the stop button) stays on the calling thread.
class ListingPrefetch {
public:
    static constexpr size_t kAhead = 256;  // listings held at most

    ListingPrefetch(const QString& root1, const QString& root2, const std::vector<CmpFolder>& folders)
        : m_slots(folders.size())
    {
        m_jobs.reserve(folders.size());
        for (const CmpFolder& f : folders)
            m_jobs.push_back({cmp::joinPath(root1, f.sPh), cmp::joinPath(root2, f.sPh), f.sED != St::CmpF});
        m_worker = std::thread([this] { run(); });
    }

    ~ListingPrefetch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancel = true;
        }
        m_cv.notify_all();
        m_worker.join();
    }

    // The listing of folder i (taken in order, each once).
    Listing take(size_t i)
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return m_made > i; });
        Listing l = std::move(m_slots[i]);
        m_taken = i + 1;
        lock.unlock();
        m_cv.notify_all();
        return l;
    }

private:
    struct Job {
        QString dir1, dir2;
        bool side2;  // false: side 2 is listed by the scan after creating it
    };

    void run()
    {
        for (size_t i = 0; i < m_jobs.size(); ++i) {
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_cancel || i < m_taken + kAhead; });
                if (m_cancel)
                    return;
            }
            Listing l = listFolder(m_jobs[i].dir1, m_jobs[i].dir2, m_jobs[i].side2);
            {
                std::lock_guard lock(m_mutex);
                m_slots[i] = std::move(l);
                m_made = i + 1;
            }
            m_cv.notify_all();
        }
    }

    std::vector<Job> m_jobs;
    std::vector<Listing> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_made = 0, m_taken = 0;
    bool m_cancel = false;
    std::thread m_worker;
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
    SqlStmt insA(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt)"
                     " VALUES (?, ?, ?, ?, ?, 0, '', '', '')");
    SqlStmt insB(db, "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt)"
                     " VALUES (?, ?, ?, 0, '', ?, ?, '', ?)");
    SqlStmt upd(db, "UPDATE tbFile SET nS2 = ?, sU2 = ?, sAt = ? WHERE nNo = ?");

    ListingPrefetch ahead(s.sFld1, s.sFld2, folders);
    QHash<QString, long long> rowOf;  // folder-1 file name -> its nNo
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
        rowOf.clear();
        for (const FsEntry& e : l.f1) {
            insA.bind(1, ++s.nCnt).bind(2, f.sPh).bind(3, e.name).bind(4, e.size).bind(5, DateText(e.mtime));
            insA.exec();
            rowOf.insert(e.name, s.nCnt);
            if (!pg.yield())
                return;
        }
        for (const FsEntry& e : l.f2) {
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
