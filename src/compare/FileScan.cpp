// File scan: the files of every folder compared file by file, both sides,
// into tbFile. Both sides are read through a descriptor of their root, never
// through a link below it.
#include "compare/CmpSupport.h"
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "env/FsDir.h"
#include "env/Reasons.h"


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unordered_map>

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
    std::vector<FileXattrs> xattrs;  // by file, where attributes are compared
    FsLeftOut left;
    QString error;
};

// Both listings of one folder, and where files are compared by content,
// the outcome for each folder-1 file of the same name and size as a
// folder-2 file (by folder-1 index; NotRead for the others).
struct Listing {
    SideListing one, two;
    std::vector<ContentOutcome> content;
    QString error() const { return !one.error.isEmpty() ? one.error : two.error; }
};

// Lists the folder rel below the open root. A missing folder is an error on
// side 1 and an empty listing on side 2 (folder 2 may lack the folder); a
// link or a file on the way is always an error. followFileLinks: a link to
// a file stands for that file (folder 1 with the option to copy link targets).
SideListing listSide(int root, const QString& rootPath, const QString& rel, bool mustExist,
                     bool followFileLinks = false, unsigned xattrs = 0)
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
        if (followFileLinks)
            FollowFileLinks(fd.get(), l.files);
        if (xattrs != 0) {
            l.xattrs.resize(l.files.size());
            for (size_t i = 0; i < l.files.size(); ++i)
                if (!ReadXattrs(fd.get(), nameBytes(l.files[i].name), xattrs, l.xattrs[i]))
                    throw FsError(cmp::sysErrorText(cmp::joinPath(dir, l.files[i].name), errno).toStdString());
        }
    } catch (const FsError& e) {
        l = SideListing();
        l.error = cmp::errorText(e);
    }
    return l;
}

// Two regular files of the same size, of the same name, on both sides.
bool contentPair(const FsEntry& a, const FsEntry& b)
{
    return S_ISREG(a.mode) && S_ISREG(b.mode) && a.size == b.size;
}

// Reads the folders' listings ahead of the scan on two worker threads, one
// per side, so both file systems and the database work at the same time.
// Where files are compared by content, a few more workers compare the pairs
// of every folder both sides have listed, file by file, before the folder
// is handed over. The workers only read the disk (through the roots'
// descriptors, which the caller keeps open) and hand listings over in
// folder order; everything else (folder creation, the database, the stop
// button) stays on the calling thread.
class ListingPrefetch {
public:
    static constexpr size_t kAhead = 256;  // folders listed ahead at most

    ListingPrefetch(const Session& s, int root1, int root2, const std::vector<CmpFolder>& folders)
        : m_folders(folders), m_followFileLinks(s.panel.chLinkTgt), m_content(s.panel.chContent)
    {
        m_side[0].xattrs = m_side[1].xattrs = cmp::xattrKinds(s);
        m_side[0].root = root1;
        m_side[0].rootPath = s.sFld1;
        m_side[1].root = root2;
        m_side[1].rootPath = s.sFld2;
        for (Side& sd : m_side)
            sd.ready.resize(folders.size());
        if (m_content) {
            m_outcomes.resize(folders.size());
            m_pending.assign(folders.size(), kUnlisted);
            const unsigned n = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
            for (unsigned w = 0; w < n; ++w)
                m_comparers.emplace_back([this] { compare(); });
        }
        // Folder 2 may answer slowly (a network share): several of its
        // folders are then listed at once.
        const int threads[2] = {1, std::max(1, JobsFor(s.panel.nJobs, s.caps2))};
        for (int side = 0; side < 2; ++side) {
            m_side[side].done.assign(folders.size(), false);
            for (int t = 0; t < threads[side]; ++t)
                m_side[side].workers.emplace_back([this, side] { run(side); });
        }
    }

    ~ListingPrefetch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_cancel = true;
            m_stop = true;
        }
        m_cv.notify_all();
        for (Side& sd : m_side)
            for (std::thread& w : sd.workers)
                w.join();
        for (std::thread& w : m_comparers)
            w.join();
    }

    // Waits at most timeout for folder i; true when take(i) will not wait.
    bool wait(size_t i, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return made(i); });
    }

    // The listings of folder i (taken in order, each once).
    Listing take(size_t i)
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [&] { return made(i); });
        Listing l{std::move(m_side[0].ready[i]), std::move(m_side[1].ready[i]),
                  m_content ? std::move(m_outcomes[i]) : std::vector<ContentOutcome>()};
        m_taken = i + 1;
        lock.unlock();
        m_cv.notify_all();
        return l;
    }

private:
    // Folder i is listed on both sides, and compared (called with the lock held).
    bool made(size_t i) const
    {
        return m_side[0].made > i && m_side[1].made > i && (!m_content || m_compared > i);
    }

    struct Side {
        int root = -1;
        QString rootPath;
        unsigned xattrs = 0;  // the kinds of attributes read
        std::vector<SideListing> ready;
        std::vector<bool> done;  // by folder: listed (ready holds it)
        size_t next = 0;         // the next folder a worker takes
        size_t made = 0;         // every folder before it is listed
        std::vector<std::thread> workers;
    };

    // A listing worker of one side: takes the next folder not taken yet.
    void run(int side)
    {
        Side& sd = m_side[side];
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_cancel || sd.next >= m_folders.size() || sd.next < m_taken + kAhead; });
                if (m_cancel || sd.next >= m_folders.size())
                    return;
                i = sd.next++;
            }
            // Side 2 of a "比較F" folder is listed by the scan once it has
            // created the folder.
            const CmpFolder& f = m_folders[i];
            SideListing l = side == 1 && f.sED == St::CmpF ? SideListing()
                                                            : listSide(sd.root, sd.rootPath, f.sPh, side == 0,
                                                                       side == 0 && m_followFileLinks, sd.xattrs);
            {
                std::lock_guard lock(m_mutex);
                sd.ready[i] = std::move(l);
                sd.done[i] = true;
                while (sd.made < m_folders.size() && sd.done[sd.made])
                    ++sd.made;
            }
            m_cv.notify_all();
        }
    }

    // The open folders of one folder on both sides, shared by its pairs.
    struct Folders {
        UniqueFd one, two;
        QString path1, path2;
        QString error;  // a folder could not be opened: every pair fails with it
    };
    // One pair of files to compare: folder-1 file i1 and folder-2 file i2 of folder.
    struct Pair {
        size_t folder, i1, i2;
        std::shared_ptr<const Folders> dirs;
    };

    // A comparing worker: takes the next pair, or lists the pairs of the next
    // folder both sides have listed; folders are done in order.
    void compare()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_cancel)
                return;
            if (m_next < m_pairs.size()) {
                // Small files are taken many at a time (the lock is taken
                // twice per batch, not per file); a large one alone, so the
                // workers share the large files of one folder.
                std::vector<Pair> batch;
                long long bytes = 0;
                while (m_next < m_pairs.size() && batch.size() < kBatchPairs && bytes < kBatchBytes) {
                    batch.push_back(m_pairs[m_next++]);
                    bytes += m_side[0].ready[batch.back().folder].files[batch.back().i1].size;
                }
                if (m_next == m_pairs.size()) {
                    m_pairs.clear();
                    m_next = 0;
                }
                lock.unlock();
                std::vector<ContentOutcome> done(batch.size());
                for (size_t j = 0; j < batch.size(); ++j) {
                    const Pair& p = batch[j];
                    const FsEntry& a = m_side[0].ready[p.folder].files[p.i1];
                    const FsEntry& b = m_side[1].ready[p.folder].files[p.i2];
                    ContentOutcome& o = done[j];
                    if (!p.dirs->error.isEmpty())
                        o = {ContentCheck::Failed, p.dirs->error};
                    else if (a.size == 0)
                        o = {ContentCheck::Same, {}};  // nothing to read
                    else
                        o = CompareContent(p.dirs->one.get(), p.dirs->path1, a.name, m_followFileLinks,
                                           p.dirs->two.get(), p.dirs->path2, b.name, a.size, &m_stop);
                    o.with = static_cast<long long>(p.i2);
                }
                lock.lock();
                bool advanced = false;
                for (size_t j = 0; j < batch.size(); ++j) {
                    m_outcomes[batch[j].folder][batch[j].i1] = std::move(done[j]);
                    advanced |= --m_pending[batch[j].folder] == 0;
                }
                if (advanced)
                    advance();
                continue;
            }
            const size_t f = m_listed;
            if (f < m_folders.size() && m_side[0].made > f && m_side[1].made > f && f < m_taken + kAhead) {
                ++m_listed;
                lock.unlock();
                std::vector<Pair> pairs = pairsOf(f);
                lock.lock();
                m_outcomes[f].resize(m_side[0].ready[f].files.size());
                m_pending[f] = pairs.size();
                m_pairs.insert(m_pairs.end(), pairs.begin(), pairs.end());
                if (pairs.empty())
                    advance();
                m_cv.notify_all();
                continue;
            }
            m_cv.wait(lock);
        }
    }

    // Folders are handed over in order: m_compared moves past every folder
    // whose pairs are all compared (called with the lock held).
    void advance()
    {
        while (m_compared < m_listed && m_pending[m_compared] == 0)
            ++m_compared;
        m_cv.notify_all();
    }

    // The pairs of folder f: files of the same name, both regular, of the
    // same size (the listings are read-only once made).
    std::vector<Pair> pairsOf(size_t f)
    {
        const SideListing& l1 = m_side[0].ready[f];
        const SideListing& l2 = m_side[1].ready[f];
        std::vector<Pair> pairs;
        if (!l1.error.isEmpty() || !l2.error.isEmpty())
            return pairs;
        size_t k2 = 0;
        for (size_t i = 0; i < l1.files.size(); ++i) {
            const FsEntry& e = l1.files[i];
            while (k2 < l2.files.size() && nameLess(l2.files[k2].name, e.name))
                ++k2;
            if (k2 < l2.files.size() && l2.files[k2].name == e.name && contentPair(e, l2.files[k2]))
                pairs.push_back({f, i, k2, nullptr});
        }
        if (pairs.empty())
            return pairs;
        auto dirs = std::make_shared<Folders>();
        const QByteArray rel = nameBytes(m_folders[f].sPh);
        dirs->path1 = cmp::joinPath(m_side[0].rootPath, m_folders[f].sPh);
        dirs->path2 = cmp::joinPath(m_side[1].rootPath, m_folders[f].sPh);
        dirs->one = openBeneath(m_side[0].root, rel);
        if (!dirs->one.valid())
            dirs->error = cmp::sysErrorText(dirs->path1, errno);
        dirs->two = openBeneath(m_side[1].root, rel);
        if (!dirs->two.valid() && dirs->error.isEmpty())
            dirs->error = cmp::sysErrorText(dirs->path2, errno);
        for (Pair& p : pairs)
            p.dirs = dirs;
        return pairs;
    }

    const std::vector<CmpFolder>& m_folders;
    const bool m_followFileLinks;  // folder 1's links to files stand for the files
    const bool m_content;          // files of the same size are compared by content
    Side m_side[2];
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_taken = 0;
    bool m_cancel = false;
    std::atomic<bool> m_stop = false;  // ends a comparison of a long file on cancel
    // Comparing by content (under m_mutex): the pairs to compare, folders
    // whose pairs were listed (m_listed) and those all compared (m_compared).
    std::vector<std::thread> m_comparers;
    std::vector<std::vector<ContentOutcome>> m_outcomes;  // by folder, by folder-1 file
    static constexpr size_t kUnlisted = SIZE_MAX;
    static constexpr size_t kBatchPairs = 64;           // pairs a worker takes at once at most
    static constexpr long long kBatchBytes = 4 << 20;   // ... and their bytes (the last one may pass it)
    std::vector<size_t> m_pending;                        // by folder: pairs not yet compared (or kUnlisted)
    std::vector<Pair> m_pairs;
    size_t m_next = 0;
    size_t m_listed = 0, m_compared = 0;
};

// The rows of tbFile, written up to kBatch at a time: one statement of many
// rows costs about a third less than as many statements of one row. The scan
// writes what it holds at the end of every folder. Texts that repeat from
// row to row (the folder, a date, a status) are converted to UTF-8 once.
class FileRows {
public:
    static constexpr int kBatch = 32;
    static constexpr int kCols = 16;

    explicit FileRows(SqlConn& db) : m_db(db) {}

    // One row; side 1 or side 2 may be missing (size 0, empty date text, no
    // time). at is the folder-2 attribute text.
    void add(long long no, const QByteArray& folder, const QString& name, const FsEntry* one, const QString& u1,
             const FsEntry* two, const QString& u2, const QString& status, const QString& at,
             const QString& ng = QString(), const FileVerdict* why = nullptr)
    {
        Row& r = m_rows[m_used++];
        r.no = no;
        r.folder = folder;
        nameBytesInto(name, r.name);
        r.s1 = one ? one->size : 0;
        r.s2 = two ? two->size : 0;
        r.t1 = one ? one->mtime : kNoTime;
        r.t2 = two ? two->mtime : kNoTime;
        r.n1 = one ? one->mtimeNsec : 0;
        r.n2 = two ? two->mtimeNsec : 0;
        r.u1 = m_dates.of(u1);
        r.u2 = m_dates.of(u2);  // an unchanged file's second date is its first
        r.status = m_status.of(status);
        r.at = m_at.of(at);
        r.ng = ng.isEmpty() ? QByteArray() : nameBytes(ng);
        r.reason = why && !why->reason.isEmpty() ? why->reason.toUtf8() : QByteArray();
        r.metaOnly = why && why->metaOnly;
        if (m_used == kBatch)
            flush();
    }

    // Writes what is held, in one statement.
    void flush()
    {
        if (m_used == 0)
            return;
        std::unique_ptr<SqlStmt>& st = m_statements[m_used - 1];
        if (!st)
            st = std::make_unique<SqlStmt>(m_db, statement(m_used).constData());
        write(*st, m_used);
    }

private:
    static constexpr long long kNoTime = LLONG_MIN;

    struct Row {
        long long no = 0, s1 = 0, s2 = 0, t1 = 0, t2 = 0, n1 = 0, n2 = 0;
        QByteArray folder, name, u1, u2, status, at, ng, reason;
        bool metaOnly = false;
    };

    // The UTF-8 bytes of the last text converted.
    class Bytes {
    public:
        const QByteArray& of(const QString& text)
        {
            if (text != m_text || m_bytes.isNull()) {
                m_text = text;
                m_bytes = nameBytes(text);
            }
            return m_bytes;
        }

    private:
        QString m_text;
        QByteArray m_bytes;
    };

    static QByteArray statement(int rows)
    {
        QByteArray sql =
            "INSERT INTO tbFile (nNo, sPh, sFL, nS1, sU1, nS2, sU2, sED, sAt, nT1, nT2, nN1, nN2, sNg, sRs, nMo) VALUES ";
        for (int i = 0; i < rows; ++i)
            sql += i ? ",(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)" : "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
        return sql;
    }

    void write(SqlStmt& st, int rows)
    {
        for (int i = 0; i < rows; ++i) {
            const Row& r = m_rows[i];
            const int c = i * kCols;
            st.bind(c + 1, r.no).bindBytes(c + 2, r.folder).bindBytes(c + 3, r.name).bind(c + 4, r.s1);
            st.bindBytes(c + 5, r.u1).bind(c + 6, r.s2).bindBytes(c + 7, r.u2).bindBytes(c + 8, r.status);
            st.bindBytes(c + 9, r.at);
            for (const auto& [col, text] : {std::pair{c + 14, &r.ng}, std::pair{c + 15, &r.reason}}) {
                if (text->isEmpty())
                    st.bindNull(col);
                else
                    st.bindBytes(col, *text);
            }
            if (r.metaOnly)
                st.bind(c + 16, 1LL);
            else
                st.bindNull(c + 16);
            // A missing side has no time: seconds and nanoseconds are NULL.
            for (const auto& [col, t, n] : {std::tuple{c + 10, r.t1, r.n1}, std::tuple{c + 11, r.t2, r.n2}}) {
                if (t == kNoTime) {
                    st.bindNull(col);
                    st.bindNull(col + 2);
                } else {
                    st.bind(col, t);
                    st.bind(col + 2, n);
                }
            }
        }
        st.exec();
        m_used = 0;
    }

    SqlConn& m_db;
    std::unique_ptr<SqlStmt> m_statements[kBatch];  // [n - 1]: n rows at once, made when first needed
    Row m_rows[kBatch];
    int m_used = 0;
    Bytes m_dates, m_status, m_at;
};

// Names of one folder matched by the key folder 2's volume files them under,
// where it ignores letter case. Of folder-1 files that share a key, the one
// whose exact name folder 2 has (else the first) is that name's; each other
// one clashes with it and is left out, so two files never overwrite each
// other on the volume. (Where the volume lists every name in a case of its
// own, the first one in name order has the key.)
class Folding {
public:
    struct Match {
        long long index = -1;  // folder 2's file of the same key (-1: none)
        QString clash;         // the folder-1 name that has the key instead
    };

    Folding(const VolumeCaps& caps, const std::vector<FsEntry>& f1, const std::vector<FsEntry>& f2)
    {
        if (!caps.foldsCase)
            return;
        std::unordered_map<QString, long long> two;  // key -> folder 2's file
        for (size_t k = 0; k < f2.size(); ++k)
            two.try_emplace(caps.key(f2[k].name), static_cast<long long>(k));
        std::vector<QString> keys(f1.size());
        std::unordered_map<QString, size_t> owner;  // key -> the folder-1 file that has it
        for (size_t i = 0; i < f1.size(); ++i) {
            keys[i] = caps.key(f1[i].name);
            const auto [at, isNew] = owner.try_emplace(keys[i], i);
            const auto t = two.find(keys[i]);
            // Where the volume lists names in a case of its own, the first
            // name keeps the key on every run.
            if (!isNew && caps.preservesCase && t != two.end() && f2[size_t(t->second)].name == f1[i].name)
                at->second = i;
        }
        m_matches.resize(f1.size());
        for (size_t i = 0; i < f1.size(); ++i) {
            if (const size_t o = owner.at(keys[i]); o != i)
                m_matches[i].clash = f1[o].name;
            else if (const auto t = two.find(keys[i]); t != two.end())
                m_matches[i].index = t->second;
        }
    }

    bool active() const { return !m_matches.empty(); }
    // The match of the folder-1 file at index i.
    const Match& match(size_t i) const { return m_matches[i]; }

private:
    std::vector<Match> m_matches;  // by folder-1 file; empty where names match exactly
};

// Pipes, sockets and devices cannot be copied: each is named as left out.
void noteSpecial(Session& s, const QString& root, const QString& rel, const FsLeftOut& left)
{
    const QString dir = cmp::joinPath(root, rel);
    for (const QString& name : left.special)
        s.vUnread.append(WhyText(Why::SpecialNotSynced, dir + QLatin1Char('/') + name));
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
    // A file on both sides is written once, complete and classified. The
    // rows, their order, their numbers and their statuses are those of
    // inserting the folder-1 files, completing them from the folder-2
    // listing and classifying every row afterwards, at a fraction of the
    // statements.
    FileRows out(db);
    const FileClassifier cls(s);
    DateTexts dates;

    // The roots as the user named them (a root that is a link is followed);
    // below them nothing is reached through a link.
    const UniqueFd root1 = cmp::openRoot(s, 1);
    const UniqueFd root2 = cmp::openRoot(s, 2);
    const VolumeCaps& caps = s.caps2;
    // Permissions are compared where folder 2 keeps them; the type always.
    const unsigned modeMask = S_IFMT | (FsKeepsModes(root2.get()) ? 07777u : 0u);
    const bool withXattrs = cmp::xattrKinds(s) != 0;
    ListingPrefetch ahead(s, root1.get(), root2.get(), folders);
    // A pair the workers did not compare (names matched by their key, a
    // folder created by the scan) is compared on this thread.
    const auto compareNow = [&](const QString& rel, const QString& name1, const QString& name2) {
        const QString dir1 = cmp::joinPath(s.sFld1, rel), dir2 = cmp::joinPath(s.sFld2, rel);
        const UniqueFd one = openBeneath(root1.get(), nameBytes(rel));
        if (!one.valid())
            return ContentOutcome{ContentCheck::Failed, cmp::sysErrorText(dir1, errno)};
        const UniqueFd two = openBeneath(root2.get(), nameBytes(rel));
        if (!two.valid())
            return ContentOutcome{ContentCheck::Failed, cmp::sysErrorText(dir2, errno)};
        return CompareContent(one.get(), dir1, name1, s.panel.chLinkTgt, two.get(), dir2, name2);
    };
    std::vector<bool> matched;
    QStringList excluded;  // folders this scan could not read
    const auto insideExcluded = [&excluded](const QString& rel) {
        for (const QString& x : std::as_const(excluded))
            if (rel.startsWith(x) && rel.size() > x.size() && rel.at(x.size()) == QLatin1Char('/'))
                return true;
        return false;
    };
    // Rows held for the next statement are written on a stop as well: the
    // rows made so far stay, as with every phase.
    const auto scan = [&] {
        for (size_t i = 0; i < folders.size(); ++i) {
            const CmpFolder& f = folders[i];
            // Files compared by content may take a while: the stop button
            // is heard meanwhile.
            while (s.panel.chContent && !ahead.wait(i, std::chrono::milliseconds(100)))
                if (!pg.yield())
                    return false;
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
            const QByteArray folder = nameBytes(f.sPh);
            matched.assign(f2.size(), false);
            const auto written = [&] {
                if (++rows % SqlKeepTxn::kRowsPerCommit == 0) {
                    out.flush();
                    txn.checkpoint();
                }
            };
            // Both listings are in name order, and equal names are equal in
            // that order: the folder-2 file of each folder-1 file is found by
            // walking both lists once (names match exactly). Where folder 2's
            // volume ignores letter case, names match by their key instead.
            Folding fold(caps, f1, f2);
            size_t k2 = 0;
            for (const FsEntry& e : f1) {
                while (k2 < f2.size() && nameLess(f2[k2].name, e.name))
                    ++k2;
                const size_t i1 = size_t(&e - f1.data());
                const FileXattrs* x1 = withXattrs ? &l.one.xattrs[i1] : nullptr;
                const FileSide one{dates.text(e.mtime), e.size, {e.mtime, e.mtimeNsec}, e.mode & modeMask, e.uid, e.gid, x1};
                cmp::noteLostOwner(s, e.uid, e.gid);
                QString ng = caps.refusal(e.name, S_ISLNK(e.mode));
                long long k = k2 < f2.size() && f2[k2].name == e.name ? static_cast<long long>(k2) : -1;
                if (fold.active()) {
                    const Folding::Match& m = fold.match(i1);
                    if (!m.clash.isEmpty()) {
                        ng = VolumeCaps::clashWith(m.clash);
                        k = -1;  // folder 2's file of that name is the other one's
                    } else if (k < 0) {
                        k = m.index;
                    }
                }
                if (k >= 0 && matched[size_t(k)])
                    k = -1;
                if (!ng.isEmpty())
                    s.vNg.append(cmp::joinPath(cmp::joinPath(s.sFld1, f.sPh), e.name) + QStringLiteral(": ") + ng);
                if (k >= 0) {
                    const FsEntry& e2 = f2[size_t(k)];
                    matched[size_t(k)] = true;
                    const FileXattrs* x2 = withXattrs && size_t(k) < l.two.xattrs.size() ? &l.two.xattrs[size_t(k)] : nullptr;
                    const FileSide two{dates.text(e2.mtime), e2.size, {e2.mtime, e2.mtimeNsec}, e2.mode & modeMask,
                                       e2.uid, e2.gid, x2};
                    const QString at = AttrText(e2.name, e2.mode);
                    ContentCheck content = ContentCheck::NotRead;
                    QString unreadable;
                    if (ng.isEmpty() && cls.comparesContent(one, two)) {
                        // Compared ahead where the names match exactly; else now.
                        const ContentOutcome o = i1 < l.content.size() && l.content[i1].with == k
                                                     ? l.content[i1]
                                                     : compareNow(f.sPh, e.name, e2.name);
                        if (o.check == ContentCheck::Failed) {
                            if (cls.refusal(e.name, at) == FileRefusal::None)
                                unreadable = o.error;
                        } else {
                            content = o.check;
                        }
                    }
                    FileVerdict v = ng.isEmpty() ? cls.verdict(e.name, one, two, at, content)
                                                 : FileVerdict{St::Excl, {}, false};
                    // A file that could not be read for the comparison is left
                    // out as every unreadable item is, never taken as the same.
                    if (!unreadable.isEmpty()) {
                        s.vUnread.append(unreadable);
                        v = {St::Excl, unreadable, false};
                    }
                    // Only the letter case of the name differs: the copy
                    // brings the new spelling over, where the volume keeps it.
                    if ((v.status == St::Same || v.metaOnly) && e2.name != e.name && caps.preservesCase)
                        v = {St::Over, {}, false};
                    out.add(++s.nCnt, folder, e.name, &e, one.u, &e2, two.u, v.status, at, ng, &v);
                } else {
                    out.add(++s.nCnt, folder, e.name, &e, one.u, nullptr, QString(),
                            ng.isEmpty() ? cls.status(e.name, one, FileSide(), QString()) : St::Excl, QString(), ng);
                }
                written();
                if (!pg.yield())
                    return false;
            }
            for (size_t k = 0; k < f2.size(); ++k) {
                if (!matched[k]) {
                    const FsEntry& e = f2[k];
                    const FileSide two{dates.text(e.mtime), e.size, {e.mtime, e.mtimeNsec}};
                    const QString at = AttrText(e.name, e.mode);
                    out.add(++s.nCnt, folder, e.name, nullptr, QString(), &e, two.u, cls.status(e.name, FileSide(), two, at),
                            at);
                    written();
                }
                if (!pg.yield())
                    return false;
            }
            out.flush();
            if (!pg.yield())
                return false;
        }
        return true;
    };
    scan();
    out.flush();
    txn.commit();
}

} // namespace velmor
