// Copies of whole folders: new folders made with their exact modes, their
// content copied, their times and modes finished.
#include "sync/FsInternal.h"

#include "sync/CopyAhead.h"

#include <unordered_map>

#include "env/FsList.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <cerrno>
#include <vector>

#include <fcntl.h>

namespace velmor::fsops {

using namespace detail;

namespace {

// Creates the folder e with exactly mode (the umask does not apply) and
// opens it. The mode is set on the open folder right after its creation, so
// the folder never holds a mode of another item; before it, the owner and
// attributes of the source folder (open as srcFd, stat ss) as opt asks.
FsResult makeFolder(const At& e, mode_t mode, UniqueFd& fd, int srcFd = -1, const struct stat* ss = nullptr,
                    const CopyOptions& opt = {})
{
    if (::mkdirat(e.dir, e.name.constData(), mode & 07777) != 0)
        return FsResult::fail(Why::CreateFolder, e.path, errno);
    fd = openSubdir(e);
    if (!fd.valid())
        return FsResult::fail(Why::OpenFolder, e.path, errno);
    // One look at the new folder serves the owner and the mode, which stay
    // as made unless an owner or attributes are given to it.
    struct stat made {};
    const struct stat* known = nullptr;
    if (ss) {
        if (::fstat(fd.get(), &made) != 0)
            return FsResult::fail(Why::Read, e.path, errno);
        if (FsResult r = giveOwnerAndAttrs(srcFd, *ss, e, opt, fd.get(), &made); !r.ok())
            return r;
        known = modeAsMade(made, *ss, opt);
    }
    if (!setExactMode(fd.get(), mode, known))
        return FsResult::fail(Why::SetPermissions, e.path, errno);
    return {};
}

// The mode a copy creates the folder of source mode ss with: the source's
// own, plus the owner's write and search permission while the content goes
// in when the source lacks them (*widened: FolderFinish takes them away).
mode_t fillMode(const struct stat& ss, bool& widened)
{
    const mode_t need = S_IWUSR | S_IXUSR;
    widened = (ss.st_mode & need) != need;
    return (ss.st_mode & 07777) | need;
}

// Opens the folder d that a copy of the source folder ss (open as sfd)
// fills: made anew (isNew) with the mode of fillMode, else the folder that
// is there.
FsResult openFillTarget(const At& d, bool isNew, int sfd, const struct stat& ss, const CopyOptions& opt, UniqueFd& fd,
                        bool& widened)
{
    widened = false;
    if (isNew)
        return makeFolder(d, fillMode(ss, widened), fd, sfd, &ss, opt);
    fd = openSubdir(d);
    return fd.valid() ? FsResult{} : FsResult::fail(Why::OpenFolder, d.path, errno);
}

// Gives a copied folder the source's times, and the source's exact mode
// when it was widened for the copy, when the copy of its content ends,
// however it ends. A folder that was there before keeps its permissions.
struct FolderFinish {
    int fd;
    const struct stat& ss;
    bool widened;
    FsResult finish(const QString& path) const
    {
        if (widened && !setExactMode(fd, ss.st_mode))
            return FsResult::fail(Why::SetPermissions, path, errno);
        const struct timespec times[2] = {ss.st_atim, ss.st_mtim};
        if (::futimens(fd, times) != 0)
            return FsResult::fail(Why::SetTimes, path, errno);
        return {};
    }
};

// The destination folders a copy is filling, innermost first. A source
// folder that is one of them is the copy itself: the destination lies inside
// the folder copied (seen through a mount), and going into it would never end.
struct Filling {
    FsId id;
    const Filling* up = nullptr;
    bool holds(const FsId& x) const
    {
        for (const Filling* f = this; f; f = f->up)
            if (f->id == x)
                return true;
        return false;
    }
};

// A temporary of an earlier run in the open folder dfd: not data. (Where it
// cannot be looked at, the copy of it tells why.)
bool isLeftTemp(int dfd, const NPath& name)
{
    struct stat st {};
    return isTempName(name) && ::fstatat(dfd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && isOwnTemp(name, st);
}

// A folder's two ends, held open by the copies of its files under way.
struct FolderFds {
    UniqueFd src, dst;
};

// What a spread tree copy (CopyOptions::spread) has under way: the batches
// of files on the helpers, in the order they were handed over, the files
// of more than one name (copied last, one at a time, so that each later
// name finds the first copy), and the folders to finish once all is in.
struct Spread {
    struct Batch {
        long long key;
        std::shared_ptr<FolderFds> fds;
        QString srcPath;
        At up;  // the folder's own entry (its dir is not used)
        bool created;
        std::vector<NPath> names;
        std::vector<unsigned char> types;
        std::vector<FsResult> results;
        std::vector<long long> wrote;
        std::atomic<bool> ran{false};
    };
    std::deque<std::shared_ptr<Batch>> pending;
    std::vector<std::shared_ptr<Batch>> alone;  // one file each
    struct Finish {
        int root;   // the open folder-2 root
        NPath rel;  // below it
        struct stat ss;
        bool widened;
        QString path;
    };
    std::vector<Finish> finishes;  // deepest first
};

// One tree copy's settings and what it gathers on its way: the special
// files it leaves out (when asked) and every item it could not copy.
struct TreeRun {
    const CopyOptions& opt;
    QStringList* skipped;
    std::vector<FsResult>& failed;
    Spread* spread = nullptr;
};

// The entry name in the folder dfd, whose own entry is up: its path, and
// its place below folder 2 when up's is known.
At childAt(int dfd, const At& up, const NPath& name)
{
    At c{dfd, name, child(up.path, name)};
    if (up.root >= 0) {
        c.root = up.root;
        c.rel = up.rel.isEmpty() ? name : up.rel + '/' + name;
    }
    return c;
}

void copyTreeAt(int sfd, const QString& srcPath, int dfd, const At& dstAt, bool created, const TreeRun& run,
                const Filling& filling);

// Copies the content of the open source folder sfd (stat ss) into the open
// destination folder dfd (its entry dstAt; created: by this copy, so
// empty), then finishes dfd (see FolderFinish). up: the folders being
// filled above dfd.
void copyFolder(int sfd, const struct stat& ss, const QString& srcPath, int dfd, const At& dstAt, bool created,
                bool widened, const TreeRun& run, const Filling* up = nullptr)
{
    const FolderFinish fin{dfd, ss, widened};
    const Filling here{FsIdOf(dfd), up};
    copyTreeAt(sfd, srcPath, dfd, dstAt, created, run, here);
    if (run.spread) {
        // Its files may still be under way.
        run.spread->finishes.push_back({dstAt.root, dstAt.rel, ss, widened, dstAt.path});
        return;
    }
    if (FsResult f = fin.finish(dstAt.path); !f.ok())
        run.failed.push_back(std::move(f));
}

// Copies the files and links of a folder (files: their entries, typed) from
// sfd into dfd. With helpers, their threads and this one take them in turns,
// so several are written at a time. Every one is tried; the failures go to
// run.failed in the order of files.
// Why the destination's volume cannot take the entry e of a folder whose
// names so far took keys ("" when it can, or nothing is known of it).
QString unholdable(const CopyOptions& opt, const Entry& e, std::unordered_map<QString, QString>& keys)
{
    if (!opt.volume)
        return QString();
    const VolumeCaps& v = *opt.volume;
    const QString name = nameText(e.name);
    if (QString why = v.refusal(name, e.type == DT_LNK && !opt.followFileLinks); !why.isEmpty())
        return why;
    if (v.foldsCase) {
        const auto [at, isNew] = keys.try_emplace(v.key(name), name);
        if (!isNew)
            return VolumeCaps::clashWith(at->second);
    }
    return QString();
}

// The file e of the source folder sfd has more than one name, and a copy
// keeps such names together (CopyOptions::links): its names must be copied
// one after another, so that the later ones find the first copy.
bool multiNamed(int sfd, const Entry& e, const CopyOptions& opt)
{
    return opt.links && e.type != DT_LNK && IsMultiNamedFile(sfd, e.name.constData(), false);
}

// Copies the files of batch b (on whichever thread runs it).
void copyBatch(Spread::Batch& b, const CopyOptions& opt)
{
    b.ran = true;
    for (size_t k = 0; k < b.names.size(); ++k)
        b.results[k] = copyEntry(At{b.fds->src.get(), b.names[k], child(b.srcPath, b.names[k])},
                                 childAt(b.fds->dst.get(), b.up, b.names[k]), b.types[k], b.created, opt, nullptr,
                                 &b.wrote[k]);
}

// Takes the batch handed over first once it is done (copied here when the
// helpers dropped it): its failures go to run.failed, its copies to the tally.
void collectFirst(const TreeRun& run)
{
    const std::shared_ptr<Spread::Batch> b = std::move(run.spread->pending.front());
    run.spread->pending.pop_front();
    if (b->key >= 0)
        run.opt.ahead->take(b->key);
    if (!b->ran)
        copyBatch(*b, run.opt);
    for (size_t k = 0; k < b->results.size(); ++k) {
        if (!b->results[k].ok()) {
            run.failed.push_back(std::move(b->results[k]));
        } else if (run.opt.tally) {
            ++run.opt.tally->files;
            run.opt.tally->bytes += b->wrote[k];
        }
    }
}

// A batch of the files k of files, for the folder pair fds.
std::shared_ptr<Spread::Batch> batchOf(const std::shared_ptr<FolderFds>& fds, const QString& srcPath, const At& up,
                                       bool created, const std::vector<const Entry*>& files,
                                       const std::vector<size_t>& ks)
{
    auto b = std::make_shared<Spread::Batch>();
    b->fds = fds;
    b->srcPath = srcPath;
    b->up = up;
    b->up.dir = -1;
    b->created = created;
    for (const size_t k : ks) {
        b->names.push_back(files[k]->name);
        b->types.push_back(files[k]->type);
    }
    b->results.resize(ks.size());
    b->wrote.assign(ks.size(), 0);
    return b;
}

// Hands the files of a folder to the helpers in batches (CopyOptions::spread),
// keeping at most as many under way as they take; false when the folder
// could not be held open for them (it is then copied at once).
bool spreadFiles(int sfd, const QString& srcPath, int dfd, const At& dstAt, bool created, const TreeRun& run,
                 const std::vector<const Entry*>& files)
{
    constexpr size_t kBatchFiles = 16;
    auto fds = std::make_shared<FolderFds>();
    fds->src = UniqueFd(::fcntl(sfd, F_DUPFD_CLOEXEC, 0));
    fds->dst = UniqueFd(::fcntl(dfd, F_DUPFD_CLOEXEC, 0));
    if (!fds->src.valid() || !fds->dst.valid())
        return false;
    std::vector<size_t> batch;
    const auto handOver = [&] {
        if (batch.empty())
            return;
        while (!run.spread->pending.empty() && run.opt.ahead->full())
            collectFirst(run);
        std::shared_ptr<Spread::Batch> b = batchOf(fds, srcPath, dstAt, created, files, batch);
        b->key = run.opt.ahead->queue([b, &opt = run.opt](StagedCopy&) {
            copyBatch(*b, opt);
            return false;
        });
        run.spread->pending.push_back(std::move(b));
        batch.clear();
    };
    for (size_t k = 0; k < files.size(); ++k) {
        if (multiNamed(sfd, *files[k], run.opt)) {
            run.spread->alone.push_back(batchOf(fds, srcPath, dstAt, created, files, {k}));
            continue;
        }
        batch.push_back(k);
        if (batch.size() == kBatchFiles)
            handOver();
    }
    handOver();
    return true;
}

// Ends a spread tree copy: every batch collected, the files of more than
// one name copied, then the folders finished (those widened for the copy
// last, deepest first, as a folder may need its permissions to reach the
// ones below it).
void endSpread(const TreeRun& run)
{
    Spread& sp = *run.spread;
    while (!sp.pending.empty())
        collectFirst(run);
    for (std::shared_ptr<Spread::Batch>& b : sp.alone) {
        b->key = -1;
        sp.pending.push_back(std::move(b));
        collectFirst(run);
    }
    const auto finish = [](const Spread::Finish& f) {
        const UniqueFd fd = openBeneath(f.root, f.rel);
        if (!fd.valid())
            return FsResult::fail(Why::OpenFolder, f.path, errno);
        return FolderFinish{fd.get(), f.ss, f.widened}.finish(f.path);
    };
    // Every file is in, so no folder's times change any more: the folders
    // that keep their modes are finished on the helpers, in any order.
    std::vector<FsResult> results(sp.finishes.size());
    std::vector<char> done(sp.finishes.size(), 0);  // by the thread that finished it
    std::vector<long long> keys;
    constexpr size_t kPerJob = 8;
    for (size_t from = 0; from < sp.finishes.size(); from += kPerJob) {
        while (!keys.empty() && run.opt.ahead->full()) {
            run.opt.ahead->take(keys.front());
            keys.erase(keys.begin());
        }
        keys.push_back(run.opt.ahead->queue([&, from](StagedCopy&) {
            for (size_t k = from; k < std::min(from + kPerJob, sp.finishes.size()); ++k)
                if (!sp.finishes[k].widened) {
                    results[k] = finish(sp.finishes[k]);
                    done[k] = 1;
                }
            return false;
        }));
    }
    for (const long long key : keys)
        run.opt.ahead->take(key);
    for (size_t k = 0; k < sp.finishes.size(); ++k) {
        if (!done[k])  // widened, or dropped by the helpers
            results[k] = finish(sp.finishes[k]);
        if (!results[k].ok())
            run.failed.push_back(std::move(results[k]));
    }
}

void copyFiles(int sfd, const QString& srcPath, int dfd, const At& dstAt, bool created, const TreeRun& run,
               const std::vector<const Entry*>& files)
{
    if (run.spread && spreadFiles(sfd, srcPath, dfd, dstAt, created, run, files))
        return;
    constexpr size_t kShareFrom = 4;  // fewer files are not worth the hand-over
    const bool shared = run.opt.ahead && files.size() >= kShareFrom;
    // Files of more than one name are copied by this thread alone, after the
    // others: two names of one file copied at once would both miss the
    // other's copy and make two files of it.
    std::vector<size_t> order, alone;
    order.reserve(files.size());
    for (size_t k = 0; k < files.size(); ++k)
        (shared && multiNamed(sfd, *files[k], run.opt) ? alone : order).push_back(k);
    std::atomic<size_t> next{0};
    // Each slot written by the thread that copied its file.
    std::vector<FsResult> results(files.size());
    std::vector<long long> wrote(files.size(), 0);
    const auto copyOne = [&](size_t k) {
        const Entry& e = *files[k];
        results[k] = copyEntry(At{sfd, e.name, child(srcPath, e.name)}, childAt(dfd, dstAt, e.name), e.type, created,
                               run.opt, nullptr, &wrote[k]);
    };
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < order.size();)
            copyOne(order[i]);
    };
    if (shared) {
        std::vector<long long> keys;
        for (int k = 0; k < run.opt.ahead->workers(); ++k)
            keys.push_back(run.opt.ahead->queue([&work](StagedCopy&) {
                work();
                return false;
            }));
        work();
        for (const long long key : keys)
            run.opt.ahead->take(key);  // waits for the helpers' shares
    } else {
        work();
    }
    for (const size_t k : alone)
        copyOne(k);
    for (size_t k = 0; k < results.size(); ++k) {
        if (!results[k].ok()) {
            run.failed.push_back(std::move(results[k]));
        } else if (run.opt.tally) {
            ++run.opt.tally->files;
            run.opt.tally->bytes += wrote[k];
        }
    }
}

// Copies one subfolder (source entry s, stat es) to d below a folder being
// filled. Returns the failure that kept it from being copied at all (its
// content's failures go to run.failed).
// A subfolder made (or found) and opened for its copy, not yet filled.
struct Opened {
    UniqueFd src, dst;
    bool isNew = false;
    bool widened = false;
};

// Makes or opens the destination d of the subfolder s (stat es) below a
// folder being filled, and opens both; the failure that keeps it from being
// copied at all.
FsResult openSubfolder(const At& s, const struct stat& es, const At& d, bool created, const TreeRun& run,
                       const Filling& filling, Opened& out)
{
    if (filling.holds({es.st_dev, es.st_ino}))
        return FsResult::fail(Why::OwnDestination, s.path);
    out.isNew = created;
    if (!created) {
        struct stat ds {};
        if (::fstatat(d.dir, d.name.constData(), &ds, AT_SYMLINK_NOFOLLOW) != 0)
            out.isNew = true;
        else if (!S_ISDIR(ds.st_mode))
            return FsResult::fail(Why::CreateFolder, d.path, EEXIST);
    }
    out.src = openSubdir(s);
    if (!out.src.valid())
        return FsResult::fail(Why::OpenFolder, s.path, errno);
    return openFillTarget(d, out.isNew, out.src.get(), es, run.opt, out.dst, out.widened);
}

FsResult copySubfolder(const At& s, const struct stat& es, const At& d, bool created, const TreeRun& run,
                   const Filling& filling)
{
    Opened o;
    const FsResult r = openSubfolder(s, es, d, created, run, filling, o);
    if (r.ok())
        copyFolder(o.src.get(), es, s.path, o.dst.get(), d, o.isNew, o.widened, run, &filling);
    return r;
}

void copyTreeAt(int sfd, const QString& srcPath, int dfd, const At& dstAt, bool created, const TreeRun& run,
                const Filling& filling)
{
    std::vector<Entry> entries;
    if (!listDirAt(sfd, entries)) {
        run.failed.push_back(FsResult::fail(Why::List, srcPath, errno));
        return;
    }
    // The files and links first, then the folders, each in name order.
    std::unordered_map<QString, QString> keys;  // the volume's key of each name taken -> that name
    std::vector<const Entry*> files;
    std::vector<std::pair<const Entry*, struct stat>> folders;
    for (Entry& e : entries) {
        struct stat es {};
        if (e.type == DT_UNKNOWN || e.type == DT_DIR) {
            if (::fstatat(sfd, e.name.constData(), &es, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT)  // else gone since the listing: nothing to copy
                    run.failed.push_back(FsResult::fail(Why::Read, child(srcPath, e.name), errno));
                continue;
            }
            e.type = S_ISDIR(es.st_mode)   ? DT_DIR
                     : S_ISREG(es.st_mode) ? DT_REG
                     : S_ISLNK(es.st_mode) ? DT_LNK
                                           : DT_FIFO;
        }
        if (const QString why = unholdable(run.opt, e, keys); !why.isEmpty()) {
            run.failed.push_back(FsResult::fail(Why::NameRefused, child(dstAt.path, e.name), 0, {why}));
            continue;
        }
        if (e.type != DT_DIR && e.type != DT_REG && e.type != DT_LNK) {
            // A pipe, socket or device: no copy can take it, and opening a
            // pipe would wait for a writer. It is named, not copied.
            if (run.skipped)
                run.skipped->append(child(srcPath, e.name));
        } else if (e.type == DT_DIR) {
            if (!(run.opt.leaveFolder && dstAt.root >= 0 && run.opt.leaveFolder(childAt(dfd, dstAt, e.name).rel)))
                folders.emplace_back(&e, es);
        } else if (!isLeftTemp(sfd, e.name) && !(run.opt.leaveOut && run.opt.leaveOut(e.name))) {
            files.push_back(&e);
        }
    }
    if (run.spread) {
        // The subfolders are made before the files go to the helpers: a
        // volume makes one entry of a folder at a time, and a new subfolder
        // would wait behind every file under way there. Up to kAtOnce are
        // held open at a time.
        constexpr size_t kAtOnce = 64;
        bool handed = false;
        for (size_t from = 0; from < folders.size() || !handed; from += kAtOnce) {
            const size_t to = std::min(folders.size(), from + kAtOnce);
            std::vector<Opened> opened(to - from);
            std::vector<FsResult> why(to - from);
            for (size_t k = from; k < to; ++k) {
                const auto& [e, es] = folders[k];
                why[k - from] = openSubfolder(At{sfd, e->name, child(srcPath, e->name)}, es, childAt(dfd, dstAt, e->name),
                                              created, run, filling, opened[k - from]);
            }
            if (!handed) {
                copyFiles(sfd, srcPath, dfd, dstAt, created, run, files);
                handed = true;
            }
            for (size_t k = from; k < to; ++k) {
                const auto& [e, es] = folders[k];
                Opened& o = opened[k - from];
                if (!why[k - from].ok())
                    run.failed.push_back(std::move(why[k - from]));
                else
                    copyFolder(o.src.get(), es, child(srcPath, e->name), o.dst.get(), childAt(dfd, dstAt, e->name),
                               o.isNew, o.widened, run, &filling);
            }
        }
        return;
    }
    copyFiles(sfd, srcPath, dfd, dstAt, created, run, files);
    for (const auto& [e, es] : folders) {
        FsResult r = copySubfolder(At{sfd, e->name, child(srcPath, e->name)}, es, childAt(dfd, dstAt, e->name), created,
                                   run, filling);
        if (!r.ok())
            run.failed.push_back(std::move(r));
    }
}

} // namespace

FsResult CopyTree(const At& src, const At& dst, const CopyOptions& opt, QStringList* skipped,
                  std::vector<FsResult>* failed)
{
    struct stat ss {};
    const Kind sk = kindOf(src, &ss);
    if (sk == Kind::None)
        return FsResult::fail(Why::Read, src.path, errno);
    if (sk != Kind::Dir)
        return FsResult::fail(Why::CopyFolder, src.path, ENOTDIR);
    UniqueFd sfd = openSubdir(src);
    if (!sfd.valid())
        return FsResult::fail(Why::OpenFolder, src.path, errno);
    const Kind dk = kindOf(dst);
    const bool created = dk == Kind::None;
    if (!created && dk != Kind::Dir)
        return FsResult::fail(Why::CreateFolder, dst.path, EEXIST);
    UniqueFd dfd;
    bool widened = false;
    if (const FsResult r = openFillTarget(dst, created, sfd.get(), ss, opt, dfd, widened); !r.ok())
        return r;
    // Leftovers that stay do not spoil this copy; the run names them when it
    // cleans the folders the comparison saw them in.
    if (!created)
        RemoveTempsIn(dfd.get());
    std::vector<FsResult> own;
    std::vector<FsResult>& out = failed ? *failed : own;
    const size_t before = out.size();
    Spread spread;
    const TreeRun run{opt, skipped, out, opt.spread && opt.ahead && dst.root >= 0 ? &spread : nullptr};
    copyFolder(sfd.get(), ss, src.path, dfd.get(), dst, created, widened, run);
    if (run.spread)
        endSpread(run);
    return out.size() > before ? out[before] : FsResult{};
}

FsResult MakeDir(const At& e, const struct stat* like)
{
    if (!like) {
        if (::mkdirat(e.dir, e.name.constData(), 0777) != 0)
            return FsResult::fail(Why::CreateFolder, e.path, errno);
        return {};
    }
    UniqueFd fd;
    return makeFolder(e, like->st_mode, fd);
}

FsResult MakeDirLike(const At& e, const At& src, const CopyOptions& opt)
{
    const UniqueFd from(::openat(src.dir, src.name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat ss {};
    if (!from.valid() || ::fstat(from.get(), &ss) != 0)
        return FsResult::fail(Why::Read, src.path, errno);
    if (!S_ISDIR(ss.st_mode))
        return FsResult::fail(Why::CopyFolder, src.path, ENOTDIR);
    UniqueFd fd;
    return makeFolder(e, ss.st_mode, fd, from.get(), &ss, opt);
}

} // namespace velmor::fsops
