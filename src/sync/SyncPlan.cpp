#include "sync/SyncPlan.h"

#include <QLocale>

namespace velmor {

FldOp DecideFld(const QString& status, const YRt& yRt)
{
    if (status == St::Kara)
        return FldOp::DeleteFiles;
    if (status == St::KaraAdd)
        return FldOp::MakeDir;
    if (status == St::Add)
        return FldOp::CopyTree;
    if (status == St::Del) {
        if (yRt[kSwBackup] == 1)  // with a backup the recycle bin plays no part
            return FldOp::SaveAndRemove;
        return yRt[kSwTrash] == 1 ? FldOp::Trash : FldOp::Remove;
    }
    return FldOp::None;
}

FilePlan DecideFile(const QString& status, const YRt& yRt)
{
    const bool backup = yRt[kSwBackup] == 1;
    if (status == St::Over || status == St::Add)
        return {backup && status == St::Over, FileOp::Copy};
    if (status == St::Del) {
        if (backup)
            return {true, FileOp::None};  // the backup move already removed it
        return {false, yRt[kSwTrash] == 1 ? FileOp::Trash : FileOp::Remove};
    }
    return {};
}

namespace logtx {
QString filesDeleted(const QString& dst) { return dst + QStringLiteral("の中のﾌｧｲﾙを削除しました"); }
QString created(const QString& dst) { return dst + QStringLiteral("を作成しました"); }
QString copied(const QString& src, const QString& dst)
{
    return src + QStringLiteral(" を､") + dst + QStringLiteral(" に複写しました");
}
QString overwritten(const QString& src, const QString& dst)
{
    return src + QStringLiteral(" を､") + dst + QStringLiteral(" に上書きしました");
}
QString moved(const QString& dst, const QString& target)
{
    return dst + QStringLiteral(" を､") + target + QStringLiteral(" に移動しました");
}
QString trashed(const QString& dst) { return dst + QStringLiteral("をごみ箱に入れました"); }
QString deleted(const QString& dst) { return dst + QStringLiteral("を削除しました"); }
QString metaFixed(const QString& dst, const QString& what)
{
    const QString line = dst + QStringLiteral("の属性を修正しました");
    return what.isEmpty() ? line : line + QStringLiteral("（") + what + QStringLiteral("）");
}
QString verified(long long readBack, long long rewritten, long long shared)
{
    const QLocale c = QLocale::c();
    QString line = QStringLiteral("照合: 同期先から読み直して比べたｺﾋﾟｰ %1 ﾌｧｲﾙ").arg(c.toString(readBack));
    if (rewritten > 0)
        line += QStringLiteral(" (読み直した内容が違ったため書き直し %1 回)").arg(c.toString(rewritten));
    if (shared > 0)
        line += QStringLiteral("､同期元とﾃﾞｰﾀを共有するｺﾋﾟｰ(ﾘﾌﾘﾝｸ) %1 ﾌｧｲﾙは読み直し不要").arg(c.toString(shared));
    return line;
}
QString expired(const QString& path) { return path + QStringLiteral("を保存期間を過ぎた履歴として削除しました"); }
} // namespace logtx

} // namespace velmor
