// Moved and renamed items: the pairs of "追加" and "削除" rows that are one
// item under two names, confirmed by content before they are shown.
#include "compare/Moves.h"

#include "compare/CmpSupport.h"
#include "env/FsList.h"

#include <QHash>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>

namespace velmor {

namespace {

// Candidates tried for one item at most; an item with more stays as it is.
constexpr size_t kMaxCandidates = 8;

bool listInto(int dir, dev_t dev, const QByteArray& prefix, std::vector<TreeItem>& out, bool& data)
{
    std::vector<FsEntry> all;
    try {
        for (FsKind kind : {FsKind::Files, FsKind::Folders}) {
            FsLeftOut left;
            std::vector<FsEntry> part = FsListAt(dir, QString(), kind, &left);
            if (!left.special.isEmpty() || left.temps)
                return false;
            all.insert(all.end(), part.begin(), part.end());
        }
    } catch (const FsError&) {
        return false;
    }
    std::sort(all.begin(), all.end(), [](const FsEntry& a, const FsEntry& b) { return nameBytes(a.name) < nameBytes(b.name); });
    for (const FsEntry& e : all) {
        if (e.dev != dev || (!S_ISREG(e.mode) && !S_ISDIR(e.mode)))
            return false;
        const QByteArray name = nameBytes(e.name);
        const QByteArray rel = prefix.isEmpty() ? name : prefix + '/' + name;
        if (S_ISREG(e.mode)) {
            out.push_back({rel, false, e.size, {e.mtime, e.mtimeNsec}});
            data |= e.size > 0;
            continue;
        }
        out.push_back({rel, true, 0, {}});
        const UniqueFd sub(::openat(dir, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!sub.valid() || !listInto(sub.get(), dev, rel, out, data))
            return false;
    }
    return true;
}

// The volume of the open item fd.
dev_t deviceOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_dev : dev_t(-1);
}

// The volume that a new item rel below the open root would land on: that
// of its nearest folder that exists.
dev_t landingDevice(int root, const QString& rel)
{
    for (QString at = rel.section(QLatin1Char('/'), 0, -2);; at = at.section(QLatin1Char('/'), 0, -2)) {
        const UniqueFd fd = at.isEmpty() ? UniqueFd(::fcntl(root, F_DUPFD_CLOEXEC, 0)) : openBeneath(root, nameBytes(at));
        if (fd.valid())
            return deviceOf(fd.get());
        if (at.isEmpty())
            return dev_t(-1);
    }
}

QString folderOf(const QString& rel) { return rel.section(QLatin1Char('/'), 0, -2); }
QString nameOf(const QString& rel) { return rel.section(QLatin1Char('/'), -1); }

// One content check of a candidate pair: the folder-1 file rel1 against the
// folder-2 file rel2.
struct Check {
    QString rel1, rel2;
    long long size = 0;
    bool full = false;
    ContentCheck result = ContentCheck::NotRead;
};

// Runs the checks on a few threads; this thread yields to the wait dialog
// meanwhile. False when the user pressed stop (unfinished checks stay
// NotRead).
bool runChecks(Session& s, int root1, int root2, std::vector<Check>& checks)
{
    if (checks.empty())
        return true;
    Progress& pg = cmp::progressOf(s);
    // Each folder is opened once, here, and read by every worker.
    std::unordered_map<QString, UniqueFd> dirs1, dirs2;
    const auto openDir = [](std::unordered_map<QString, UniqueFd>& dirs, int root, const QString& rel) {
        auto it = dirs.find(rel);
        if (it == dirs.end())
            it = dirs.emplace(rel, rel.isEmpty() ? UniqueFd(::fcntl(root, F_DUPFD_CLOEXEC, 0))
                                                 : openBeneath(root, nameBytes(rel))).first;
        return it->second.get();
    };
    std::vector<std::pair<int, int>> fds(checks.size());
    for (size_t i = 0; i < checks.size(); ++i)
        fds[i] = {openDir(dirs1, root1, folderOf(checks[i].rel1)), openDir(dirs2, root2, folderOf(checks[i].rel2))};
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        for (size_t i; !stop && (i = next.fetch_add(1)) < checks.size();) {
            Check& c = checks[i];
            const auto [one, two] = fds[i];
            const QString d1 = folderOf(c.rel1), d2 = folderOf(c.rel2);
            ContentOutcome o;
            if (one < 0 || two < 0)
                o.check = ContentCheck::Failed;
            else if (c.full)
                o = CompareContent(one, cmp::joinPath(s.sFld1, d1), nameOf(c.rel1), false, two,
                                   cmp::joinPath(s.sFld2, d2), nameOf(c.rel2), c.size, &stop);
            else
                o = CompareSampled(one, cmp::joinPath(s.sFld1, d1), nameOf(c.rel1), two, cmp::joinPath(s.sFld2, d2),
                                   nameOf(c.rel2), c.size);
            c.result = o.check;
            ++done;
        }
    };
    const unsigned n = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < n && w < checks.size(); ++w)
        workers.emplace_back(work);
    bool stopped = false;
    while (done < checks.size() && !stopped) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stopped = !pg.yield();
    }
    stop = stopped;
    for (std::thread& t : workers)
        t.join();
    return !stopped;
}

bool allSame(const std::vector<Check>& checks, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
        if (checks[i].result != ContentCheck::Same)
            return false;
    return true;
}

bool isBelow(const QString& rel, const QString& top)
{
    return rel.size() > top.size() && rel.startsWith(top) && rel.at(top.size()) == QLatin1Char('/');
}

// --- files ------------------------------------------------------------------

struct FileCand {
    long long no = 0;
    QString rel;  // folder + "/" + name
    long long size = 0;
    FileTime time;
};

// The file rows of one status that may move: not turned by the patterns.
std::vector<FileCand> fileCands(Session& s, const PtnLists& ptn, const QString& status)
{
    const bool add = status == St::Add;
    std::vector<FileCand> out;
    const QString q = add ? QStringLiteral("Select nNo, sPh, sFL, nS1, nT1, nN1 From tbFile Where sED = ?1 Order By nNo")
                          : QStringLiteral("Select nNo, sPh, sFL, nS2, nT2, nN2 From tbFile Where sED = ?1 Order By nNo");
    s.oDb.forEachRow(q, {status}, [&](const SqlStmt& r) {
        const QString path = r.text(1), name = r.text(2);
        QString base, ext, st = status;
        SplitName(name, base, ext);
        ChkPtn(ptn, path, base, ext, st);
        if (st == status && r.int64(3) > 0)
            out.push_back({r.int64(0), cmp::joinPath(path, name), r.int64(3), {r.int64(4), r.int64(5)}});
        return true;
    });
    return out;
}

struct Pair {
    long long noAdd, noDel;
    QString relAdd, relDel;
};

bool pairFiles(Session& s, int root1, int root2, const TimeMatch& match, std::vector<Pair>& pairs)
{
    const PtnLists ptn = LstPtn(s.panel);
    const std::vector<FileCand> adds = fileCands(s, ptn, St::Add);
    if (adds.empty())
        return true;
    const std::vector<FileCand> dels = fileCands(s, ptn, St::Del);
    std::unordered_map<long long, std::vector<size_t>> delsBySize;
    for (size_t k = 0; k < dels.size(); ++k)
        delsBySize[dels[k].size].push_back(k);
    // Candidates of every add: the deletions of its size and time, exact
    // times first.
    std::vector<std::vector<size_t>> cands(adds.size());
    std::unordered_map<size_t, int> addsPerDel;
    for (size_t i = 0; i < adds.size(); ++i) {
        const auto it = delsBySize.find(adds[i].size);
        if (it == delsBySize.end())
            continue;
        for (size_t k : it->second)
            if (SameFileTime(adds[i].time, dels[k].time, match))
                cands[i].push_back(k);
        std::stable_sort(cands[i].begin(), cands[i].end(),
                         [&](size_t a, size_t b) { return (dels[a].time == adds[i].time) > (dels[b].time == adds[i].time); });
        if (cands[i].size() > kMaxCandidates)
            cands[i].clear();
        for (size_t k : cands[i])
            ++addsPerDel[k];
    }
    std::unordered_map<QString, dev_t> devices;  // folder-2 folder -> its volume
    const auto device = [&](const QString& rel) {
        const QString dir = folderOf(rel);
        auto it = devices.find(dir);
        if (it == devices.end())
            it = devices.emplace(dir, landingDevice(root2, rel)).first;
        return it->second;
    };
    std::vector<Check> checks;
    std::vector<std::pair<size_t, size_t>> of;  // (add, del) of each check
    for (size_t i = 0; i < adds.size(); ++i) {
        // Ambiguous: more than one deletion for this file, or this deletion
        // wanted by more than one file: only every byte tells.
        bool ambiguous = cands[i].size() > 1;
        for (size_t k : cands[i])
            ambiguous |= addsPerDel[k] > 1;
        for (size_t k : cands[i]) {
            if (device(adds[i].rel) != device(dels[k].rel))
                continue;
            checks.push_back({adds[i].rel, dels[k].rel, adds[i].size, ambiguous || s.panel.nMoves == 2});
            of.emplace_back(i, k);
        }
    }
    if (!runChecks(s, root1, root2, checks))
        return false;
    std::vector<bool> addDone(adds.size()), delDone(dels.size());
    for (size_t c = 0; c < checks.size(); ++c) {
        const auto [i, k] = of[c];
        if (checks[c].result != ContentCheck::Same || addDone[i] || delDone[k])
            continue;
        addDone[i] = delDone[k] = true;
        pairs.push_back({adds[i].no, dels[k].no, adds[i].rel, dels[k].rel});
    }
    return true;
}

// A "上書" file whose name folder 2 spells in another letter case only, of
// the same size and time: its pair is itself, renamed in place.
bool pairCaseOnly(Session& s, int root1, int root2, const TimeMatch& match, std::vector<Pair>& pairs)
{
    const VolumeCaps& caps = s.caps2;
    if (!caps.foldsCase || !caps.preservesCase)
        return true;
    std::vector<Pair> found;
    std::vector<Check> checks;
    QHash<QString, std::vector<FsEntry>> listed;  // folder-2 folder -> its files
    s.oDb.forEachRow(QStringLiteral("Select nNo, sPh, sFL, nS1, nS2, nT1, nN1, nT2, nN2 From tbFile"
                                    " Where sED = '上書' Order By nNo"),
                     {}, [&](const SqlStmt& r) {
                         const QString path = r.text(1), name = r.text(2);
                         if (r.int64(3) != r.int64(4) || r.int64(3) <= 0
                             || !SameFileTime({r.int64(5), r.int64(6)}, {r.int64(7), r.int64(8)}, match))
                             return true;
                         auto it = listed.find(path);
                         if (it == listed.end()) {
                             std::vector<FsEntry> files;
                             const UniqueFd dir = path.isEmpty() ? UniqueFd(::fcntl(root2, F_DUPFD_CLOEXEC, 0))
                                                                 : openBeneath(root2, nameBytes(path));
                             try {
                                 if (dir.valid())
                                     files = FsListAt(dir.get(), cmp::joinPath(s.sFld2, path), FsKind::Files);
                             } catch (const FsError&) {
                                 files.clear();  // not paired: the copy tells what is wrong
                             }
                             it = listed.insert(path, files);
                         }
                         const QString key = caps.key(name);
                         for (const FsEntry& e : *it) {
                             if (e.name != name && S_ISREG(e.mode) && caps.key(e.name) == key) {
                                 const QString rel = cmp::joinPath(path, name);
                                 found.push_back({r.int64(0), r.int64(0), rel, cmp::joinPath(path, e.name)});
                                 checks.push_back({rel, found.back().relDel, r.int64(3), s.panel.nMoves == 2});
                                 break;
                             }
                         }
                         return true;
                     });
    if (!runChecks(s, root1, root2, checks))
        return false;
    for (size_t c = 0; c < checks.size(); ++c)
        if (checks[c].result == ContentCheck::Same)
            pairs.push_back(found[c]);
    return true;
}

// --- folders ------------------------------------------------------------------

struct FolderCand {
    long long no = 0;
    QString rel;
    std::vector<TreeItem> items;
    size_t key = 0;  // names, kinds and sizes (not times: a volume may round them)
    dev_t dev = 0;
};

size_t treeKey(const std::vector<TreeItem>& items)
{
    size_t h = items.size();
    for (const TreeItem& t : items)
        h = h * 1000003u ^ qHash(t.rel) ^ (size_t(t.size) * 31u + (t.folder ? 7u : 0u));
    return h;
}

std::vector<FolderCand> folderRows(Session& s, const QString& status)
{
    std::vector<FolderCand> out;
    s.oDb.forEachRow(QStringLiteral("Select nNo, sPh From tbFold Where sED = ?1 Order By nNo"), {status},
                     [&](const SqlStmt& r) {
                         out.push_back({r.int64(0), r.text(1), {}, 0, 0});
                         return true;
                     });
    return out;
}

// Lists the tree of every row (an empty listing: never paired). Rows come
// parents first; a folder below one listed whole takes its part of that
// listing instead of being read again.
void listTrees(int root, std::vector<FolderCand>& rows)
{
    std::unordered_map<QString, size_t> whole;  // path -> its row, listed whole
    for (size_t k = 0; k < rows.size(); ++k) {
        FolderCand& c = rows[k];
        const auto up = whole.find(folderOf(c.rel));
        if (up != whole.end() && c.rel.contains(QLatin1Char('/'))) {
            const QByteArray prefix = nameBytes(nameOf(c.rel)) + '/';
            bool data = false;
            for (const TreeItem& t : rows[up->second].items) {
                if (t.rel.startsWith(prefix)) {
                    c.items.push_back({t.rel.sliced(prefix.size()), t.folder, t.size, t.time});
                    data |= t.size > 0;
                }
            }
            if (!data)
                c.items.clear();
        } else if (!ListTree(root, c.rel, c.items)) {
            c.items.clear();
        }
        if (!c.items.empty())
            whole.emplace(c.rel, k);
        c.key = treeKey(c.items);
    }
}

bool pairFolders(Session& s, int root1, int root2, const TimeMatch& match, std::vector<Pair>& pairs)
{
    std::vector<FolderCand> dels = folderRows(s, St::Del);
    std::vector<FolderCand> adds = folderRows(s, St::Add);
    if (dels.empty() || adds.empty())
        return true;
    listTrees(root2, dels);
    listTrees(root1, adds);
    for (FolderCand& d : dels) {
        const UniqueFd fd = openBeneath(root2, nameBytes(d.rel));
        d.dev = fd.valid() ? deviceOf(fd.get()) : dev_t(-1);
    }
    // The folder-2 volume a new folder lands on.
    for (FolderCand& a : adds)
        a.dev = landingDevice(root2, a.rel);
    std::unordered_map<size_t, int> addsPerKey;
    for (const FolderCand& a : adds)
        if (!a.items.empty())
            ++addsPerKey[a.key];
    std::vector<QString> usedDels, pairedAdds;
    const auto inside = [](const QString& rel, const std::vector<QString>& tops) {
        return std::any_of(tops.begin(), tops.end(), [&](const QString& t) { return rel == t || isBelow(rel, t); });
    };
    for (const FolderCand& a : adds) {
        if (a.items.empty() || inside(a.rel, pairedAdds))
            continue;
        std::vector<const FolderCand*> cands;
        for (const FolderCand& d : dels)
            if (!d.items.empty() && d.key == a.key && d.dev == a.dev && !inside(d.rel, usedDels)
                && SameTrees(a.items, d.items, match))
                cands.push_back(&d);
        if (cands.empty() || cands.size() > kMaxCandidates)
            continue;
        const bool full = s.panel.nMoves == 2 || cands.size() > 1 || addsPerKey[a.key] > 1;
        for (const FolderCand* d : cands) {
            std::vector<Check> checks;
            for (size_t i = 0; i < a.items.size(); ++i)
                if (!a.items[i].folder && a.items[i].size > 0)
                    checks.push_back({cmp::joinPath(a.rel, nameText(a.items[i].rel)),
                                      cmp::joinPath(d->rel, nameText(d->items[i].rel)), a.items[i].size, full});
            if (!runChecks(s, root1, root2, checks))
                return false;
            if (allSame(checks, 0, checks.size())) {
                pairs.push_back({a.no, d->no, a.rel, d->rel});
                usedDels.push_back(d->rel);
                pairedAdds.push_back(a.rel);
                break;
            }
        }
    }
    return true;
}

void writePairs(Session& s, const char* table, const std::vector<Pair>& pairs)
{
    SqlStmt st(s.oDb.conn(), QStringLiteral("UPDATE %1 SET sMv = ?2 WHERE nNo = ?1").arg(QLatin1String(table)));
    for (const Pair& p : pairs) {
        st.bind(1, p.noAdd).bind(2, p.relDel).exec();
        st.reset();
        if (p.noDel != p.noAdd) {
            st.bind(1, p.noDel).bind(2, p.relAdd).exec();
            st.reset();
        }
    }
}

} // namespace

bool ListTree(int root, const QString& rel, std::vector<TreeItem>& out)
{
    out.clear();
    const UniqueFd top = openBeneath(root, nameBytes(rel));
    if (!top.valid())
        return false;
    bool data = false;
    return listInto(top.get(), deviceOf(top.get()), QByteArray(), out, data) && data;
}

bool SameTrees(const std::vector<TreeItem>& a, const std::vector<TreeItem>& b, const TimeMatch& match)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const TreeItem &x = a[i], &y = b[i];
        if (x.rel != y.rel || x.folder != y.folder || x.size != y.size
            || (!x.folder && !SameFileTime(x.time, y.time, match)))
            return false;
    }
    return true;
}

bool FindMoves(Session& s)
{
    if (s.panel.nMoves == 0 || s.yRt[1] != 1)
        return true;
    s.oDb.DbOpen();
    const UniqueFd root1 = cmp::openRoot(s, 1);
    const UniqueFd root2 = cmp::openRoot(s, 2);
    const TimeMatch match{s.panel.nShift, s.caps2.twoSecondTimes};
    std::vector<Pair> folders, files;
    const bool done = pairFolders(s, root1.get(), root2.get(), match, folders)
                      && pairFiles(s, root1.get(), root2.get(), match, files)
                      && pairCaseOnly(s, root1.get(), root2.get(), match, files);
    SqlKeepTxn txn(s.oDb.conn());
    writePairs(s, "tbFold", folders);
    writePairs(s, "tbFile", files);
    txn.commit();
    return done;
}

} // namespace velmor
