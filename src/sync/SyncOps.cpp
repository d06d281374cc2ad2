#include "sync/SyncOps.h"

#include "env/yIni.h"
#include "env/zLog.h"
#include "env/Reasons.h"
#include "env/SysReason.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmor {

namespace {
QString under(const QString& root, const QString& rel)
{
    if (root.endsWith(QLatin1Char('/')))
        return root + rel;
    return root + QLatin1Char('/') + rel;
}

int openOnce(UniqueFd& fd, const QString& path)
{
    if (!fd.valid() && !path.isEmpty())
        fd = openDirPath(nameBytes(path), true);
    return fd.get();
}

} // namespace

QString SyncCtx::rootName() const
{
    QString r = sFld2;
    while (r.size() > 1 && r.endsWith(QLatin1Char('/')))
        r.chop(1);
    const QString name = r.mid(r.lastIndexOf(QLatin1Char('/')) + 1);
    // The file-system root has no name of its own.
    return name.isEmpty() ? QStringLiteral("root") : name;
}

QString SyncCtx::source(const QString& rel) const { return under(sFld1, rel); }

QString SyncCtx::destination(const QString& rel) const { return under(sFld2, rel); }

QString SyncCtx::backupTarget(const QString& rel) const { return sBkFld + rootName() + QLatin1Char('/') + rel; }

void SyncCtx::adoptRoots(UniqueFd r1, UniqueFd r2, UniqueFd hist)
{
    m_root1 = std::move(r1);
    m_root2 = std::move(r2);
    m_hist = std::move(hist);
    m_adopted = true;
}

int SyncCtx::root1() const { return m_adopted ? adopted(m_root1) : openOnce(m_root1, sFld1); }

int SyncCtx::root2() const { return m_adopted ? adopted(m_root2) : openOnce(m_root2, sFld2); }

int SyncCtx::adopted(const UniqueFd& fd)
{
    // An adopted root that the run could not open is never looked up by path.
    if (!fd.valid())
        errno = ESTALE;
    return fd.get();
}

int SyncCtx::backupRoot() const
{
    // The run's dated folder is made below the user's history folder the
    // first time anything is saved.
    const QString folder = sBkFld.chopped(sBkFld.endsWith(QLatin1Char('/')) ? 1 : 0);
    if (m_hist.valid()) {
        // Never by path: the path may lead elsewhere by now.
        if (!m_backup.valid() && !folder.isEmpty()) {
            const QString dated = folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1);
            m_backup = makeBeneath(m_hist.get(), nameBytes(QStringLiteral("BackUp/") + dated));
        }
        return m_backup.get();
    }
    if (!m_backup.valid() && !folder.isEmpty())
        yIni::F_CreateFld(folder);
    return openOnce(m_backup, sBkFld);
}

void CleanLeftTemps(const SyncCtx& ctx)
{
    QStringList dirs(ctx.tmpLeft.cbegin(), ctx.tmpLeft.cend());
    dirs.sort();  // named in a stable order
    for (const QString& relDir : std::as_const(dirs)) {
        const int root = ctx.root2();
        const UniqueFd dir = root < 0 ? UniqueFd() : openBeneath(root, nameBytes(relDir));
        if (dir.valid()) {
            opsupport::cleanTemps(ctx, relDir, dir.get());
            continue;
        }
        ctx.tmpLeft.remove(relDir);
        if (errno != ENOENT)
            ctx.leftOut.append(WhyText(Why::TempsLeftUnopened, ctx.destination(relDir), errno));
    }
}

namespace opsupport {

QString checkRel(const QString& rel)
{
    if (rel.isEmpty())
        return WhyText(Why::EmptyRel, QString());
    if (rel.startsWith(QLatin1Char('/')))
        return WhyText(Why::AbsoluteRel, rel);
    for (const QString& part : rel.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return WhyText(Why::RelLeavesRoot, rel);
    }
    return {};
}

QString checkHistory(const SyncCtx& ctx, const QString& rel, bool removes)
{
    const QString& h = ctx.histRel;
    if (h.isEmpty())
        return {};
    if (rel == h || rel.startsWith(h + QLatin1Char('/')))
        return WhyText(Why::InHistory, ctx.destination(rel));
    if (removes && h.startsWith(rel + QLatin1Char('/')))
        return WhyText(Why::HoldsHistory, ctx.destination(rel));
    return {};
}

QString relDirOf(const QString& rel)
{
    const qsizetype slash = rel.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : rel.left(slash);
}

bool entryOf(const SyncCtx& ctx, Side side, const QString& rel, bool make, UniqueFd& dir, fsops::At& at,
             QString& err)
{
    QString relDir = relDirOf(rel);
    int root = -1;
    QString rootPath;
    switch (side) {
    case Side::One: root = ctx.root1(); rootPath = ctx.sFld1; break;
    case Side::Two: root = ctx.root2(); rootPath = ctx.sFld2; break;
    case Side::Backup:
        root = ctx.backupRoot();
        rootPath = ctx.sBkFld;
        relDir = relDir.isEmpty() ? ctx.rootName() : ctx.rootName() + QLatin1Char('/') + relDir;
        break;
    }
    if (root < 0) {
        err = fsops::FsResult::fail(Why::Open, rootPath, errno).error;
        return false;
    }
    const QByteArray dirBytes = nameBytes(relDir);
    // Folder levels made in folder 2 take the modes of their folder-1 counterparts.
    const int like = side == Side::Two ? ctx.root1() : -1;
    dir = make ? makeBeneath(root, dirBytes, like) : openBeneath(root, dirBytes);
    const QString full = side == Side::Backup ? ctx.backupTarget(rel) : under(rootPath, rel);
    if (!dir.valid()) {
        const int e = errno;
        err = e == ELOOP || e == ENOTDIR || e == EXDEV
                  ? WhyText(Why::LinkOnTheWay, full)
                  : fsops::FsResult::fail(Why::OpenFolderOf, full, e).error;
        errno = e;
        return false;
    }
    at = {dir.get(), nameBytes(rel.mid(rel.lastIndexOf(QLatin1Char('/')) + 1)), full};
    if (side == Side::Two) {
        at.root = root;
        at.rel = nameBytes(rel);
    }
    return true;
}

fsops::CopyOptions copyOptions(const SyncCtx& ctx)
{
    fsops::CopyOptions opt;
    opt.followFileLinks = ctx.followFileLinks;
    opt.volume = ctx.volume;
    opt.owners = ctx.owners;
    opt.meta = ctx.meta;
    opt.links = ctx.links;
    opt.verify = ctx.verify;
    opt.verified = ctx.verified;
    opt.spread = ctx.jobs > 1;
    return opt;
}

void cleanTemps(const SyncCtx& ctx, const QString& relDir, int dirFd)
{
    // Looked up first: a removal changes the set even when relDir is not in
    // it, and rows carried out on other threads look it up meanwhile.
    if (ctx.tmpLeft.contains(relDir) && ctx.tmpLeft.remove(relDir) && fsops::RemoveTempsIn(dirFd) > 0)
        ctx.leftOut.append(WhyText(Why::TempsLeft, ctx.destination(relDir)));
}

namespace {
thread_local Held* tlCapture = nullptr;
} // namespace

HeldCapture::HeldCapture(Held& into) : m_was(tlCapture)
{
    tlCapture = &into;
}

HeldCapture::~HeldCapture()
{
    tlCapture = m_was;
}

void writeLog(const SyncCtx& ctx, const QString& text)
{
    if (tlCapture) {
        if (ctx.yRt[kSwLog] == 1)
            tlCapture->log.append(text);
        return;
    }
    if (ctx.yRt[kSwLog] != 1 || !ctx.logError.isEmpty())
        return;
    if (!ctx.log) {
        ctx.logError = WhyText(Why::NoLogOpen, QString());
        return;
    }
    try {
        ctx.log->lgWrite(text);
    } catch (const LogError& e) {
        ctx.logError = QString::fromStdString(e.what());
    }
}

QString failed(const QString& status, const QString& reason, QString* why)
{
    if (why)
        *why = reason;
    return status + kErrSuffix;
}

QString backupFailed(const SyncCtx& ctx, const QString& status, const fsops::FsResult& r, QString* why)
{
    if (IsNoSpace(r.err) && VolumeOf(r.path) == VolumeOf(ctx.sBkFld)) {
        QString& full = tlCapture ? tlCapture->historyFull : ctx.historyFull;
        if (full.isEmpty())
            full = r.error;
    }
    return failed(status, r.error, why);
}

} // namespace opsupport
} // namespace velmor
