#include "sync/SyncOps.h"

#include "env/Usr.h"
#include "env/yIni.h"
#include "env/zLog.h"
#include "sync/OpSupport.h"
#include "sync/SyncPlan.h"

#include <QStringList>

namespace velmor {

namespace {
QString under(const QString& root, const QString& rel)
{
    if (root.endsWith(QLatin1Char('/')))
        return root + rel;
    return root + QLatin1Char('/') + rel;
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

namespace opsupport {

QString checkRel(const QString& rel)
{
    if (rel.isEmpty())
        return QStringLiteral("empty relative path");
    if (rel.startsWith(QLatin1Char('/')))
        return QStringLiteral("relative path %1 is absolute").arg(rel);
    for (const QString& part : rel.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("relative path %1 leaves its root").arg(rel);
    }
    return {};
}

QString checkNoLinkOnTheWay(const SyncCtx& ctx, const QString& rel)
{
    const qsizetype last = rel.lastIndexOf(QLatin1Char('/'));
    if (last < 0 || ctx.realFolders.contains(rel.left(last)))
        return {};
    const QStringList parts = rel.left(last).split(QLatin1Char('/'));
    fsops::NPath p = fsops::native(ctx.sFld2);
    QString done;
    for (const QString& part : parts) {
        p = fsops::join(p, fsops::native(part));
        done += (done.isEmpty() ? QString() : QStringLiteral("/")) + part;
        const fsops::Kind k = fsops::kindOf(p);
        if (k == fsops::Kind::None)
            return {};
        if (k == fsops::Kind::Link)
            return QStringLiteral("%1 is a symbolic link; it is not followed").arg(QString::fromUtf8(p));
        if (k != fsops::Kind::Dir)
            return QStringLiteral("%1 is not a folder").arg(QString::fromUtf8(p));
        ctx.realFolders.insert(done);
    }
    return {};
}

QString checkSpelling(const QString& rel, const QString& path)
{
    if (!rel.contains(QChar(QChar::ReplacementCharacter)) || fsops::exists(fsops::native(path)))
        return {};
    return QStringLiteral("%1: the name on disk is not valid UTF-8 and cannot be reached by this spelling")
        .arg(path);
}

QString moveToTrash(const QString& path)
{
    // What is still there was not moved, whatever the trash reported.
    if (!Usr::DelRcy(path) || fsops::exists(fsops::native(path)))
        return QStringLiteral("%1 could not be moved to the trash").arg(path);
    return {};
}

QString writeLog(const SyncCtx& ctx, const QString& text)
{
    if (ctx.yRt[kSwLog] != 1)
        return {};
    if (!ctx.log)
        return QStringLiteral("no log is open");
    try {
        ctx.log->lgWrite(text);
    } catch (const LogError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

void makeParent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0)
        yIni::F_CreateFld(path.left(slash));
}

QString failed(const QString& status, const QString& reason, QString* why)
{
    if (why)
        *why = reason;
    return status + kErrSuffix;
}

} // namespace opsupport
} // namespace velmor
