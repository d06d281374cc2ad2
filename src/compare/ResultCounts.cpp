#include "compare/ResultCounts.h"

#include "compare/Compare.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace velmor {

namespace {

// Every word of the texts below, in one place.
namespace Word {
const QString Copy = QStringLiteral("ｺﾋﾟｰ");
const QString Files = QStringLiteral("ﾌｧｲﾙ");
const QString Cleared = QStringLiteral("解除");
const QString Other = QStringLiteral("その他");
const QString NothingToDo = QStringLiteral("処理する行はありません");
const QString Done = QStringLiteral("完了");
const QString Failed = QStringLiteral("失敗");
const QString Waiting = QStringLiteral("未実行");
const QString LeftAlone = QStringLiteral("対象外");
const QString StoppedAfter = QStringLiteral("中断 (%1 行処理後)");
const QString Seconds = QStringLiteral("%1 秒");
const QString Minutes = QStringLiteral("%1 分 %2 秒");
} // namespace Word

const QString kGap = QStringLiteral("　");  // full-width space between items

// Numbers as the Japanese locale writes them, whatever the user's locale.
const QLocale& japanese()
{
    static const QLocale l(QLocale::Japanese, QLocale::Japan);
    return l;
}

QString count(long long n) { return japanese().toString(n); }

// "512 バイト", "12.4 MB" (units of 1024, one decimal).
QString bytes(long long n) { return japanese().formattedDataSize(n, 1, QLocale::DataSizeTraditionalFormat); }

QString item(const QString& word, int n) { return word + QLatin1Char(' ') + count(n); }

// The item of n rows followed by the files they stand for, where known and
// not n: "削除 2 (9 ﾌｧｲﾙ)", "完了 80 (20,000 ﾌｧｲﾙ 381.5 MB)".
QString item(const QString& word, int n, const RowFiles& files)
{
    QString text = item(word, n);
    if (files.known && files.files != n) {
        text += QStringLiteral(" (") + count(files.files) + QLatin1Char(' ') + Word::Files;
        if (files.bytes > 0)
            text += QLatin1Char(' ') + bytes(files.bytes);
        text += QLatin1Char(')');
    }
    return text;
}

QString elapsed(qint64 ms)
{
    if (ms < 60'000)
        return Word::Seconds.arg(japanese().toString(double(ms) / 1000, 'f', 1));
    const qint64 s = ms / 1000;
    return Word::Minutes.arg(s / 60).arg(s % 60);
}

} // namespace

long long CopyBytes(const ResultRow& row)
{
    if (row.isFolderRow() || row.s1 < 0 || row.result == kMetaOnly)
        return 0;
    const QString status = EffectiveStatus(row.status);
    return status == St::Add || status == St::Over ? row.s1 : 0;
}

void RowFiles::add(const RowFiles& one)
{
    known = known && one.known;
    files += one.files;
    bytes += one.bytes;
}

RowFiles FilesOf(const ResultRow& row, bool moved)
{
    if (!row.isFolderRow())
        return {1, moved ? 0 : CopyBytes(row), true};
    const QString status = EffectiveStatus(row.status);
    if (moved || (status != St::Add && status != St::Del && status != St::Kara))
        return {0, 0, true};
    const long long files = row.contentFiles();
    return {std::max(files, 0LL), row.contentBytes(), files >= 0};
}

ResultCounts CountResults(const ResultTable& table)
{
    ResultCounts c;
    for (RowFiles* f : {&c.addFiles, &c.overFiles, &c.delFiles, &c.doneFiles, &c.waitingFiles})
        f->known = true;
    for (int k = 0; k < table.rowCount(); ++k) {
        const ResultRow& r = table.row(k);
        if (r.red)
            ++c.failed;
        if (r.flag == kFlagDone) {
            ++c.done;
            c.doneFiles.add(FilesOf(r, r.result == kMoved));
        } else if (r.flag == kFlagOff) {
            ++c.leftAlone;
            if (ActionFlag(r.status, !r.isFolderRow()) == kFlagDo)
                ++c.cleared;
        } else if (r.flag == kFlagDo) {
            // A move copies nothing.
            const bool moved = table.movePartner(k) >= 0;
            const RowFiles files = FilesOf(r, moved);
            if (!r.red) {
                ++c.waiting;
                c.waitingFiles.add(files);
            }
            if (!moved)
                c.copyBytes += CopyBytes(r);
            const QString status = EffectiveStatus(r.status);
            if (status == St::Add) {
                ++c.add;
                c.addFiles.add(files);
            } else if (status == St::Over) {
                ++c.over;
                c.overFiles.add(files);
            } else if (status == St::Del) {
                ++c.del;
                c.delFiles.add(files);
            } else if (status == St::Kara) {
                ++c.kara;
            } else if (status == St::KaraAdd) {
                ++c.karaAdd;
            } else {
                ++c.other;
            }
        }
    }
    return c;
}

QString CompareStatusText(const ResultCounts& c)
{
    QStringList items;
    const RowFiles unshown;  // rows that stand for no file's content
    const std::tuple<const QString&, int, const RowFiles&> perStatus[] = {
        {St::Add, c.add, c.addFiles},       {St::Over, c.over, c.overFiles},       {St::Del, c.del, c.delFiles},
        {St::Kara, c.kara, unshown},        {St::KaraAdd, c.karaAdd, unshown},     {Word::Other, c.other, unshown}};
    for (const auto& [word, n, files] : perStatus)
        if (n > 0)
            items << item(word, n, files);
    if (items.isEmpty())
        items << Word::NothingToDo;
    if (c.copyBytes > 0)
        items << Word::Copy + QLatin1Char(' ') + bytes(c.copyBytes);
    if (c.cleared > 0)
        items << item(Word::Cleared, c.cleared);
    return items.join(kGap);
}

QString SyncStatusText(const ResultCounts& c, qint64 elapsedMs, int stoppedAfter)
{
    QStringList items;
    if (stoppedAfter >= 0)
        items << Word::StoppedAfter.arg(count(stoppedAfter));
    items << item(Word::Done, c.done, c.doneFiles) << item(Word::Failed, c.failed);
    if (c.waiting > 0)
        items << item(Word::Waiting, c.waiting, c.waitingFiles);
    if (c.leftAlone > 0)
        items << item(Word::LeftAlone, c.leftAlone);
    items << elapsed(elapsedMs);
    return items.join(kGap);
}

QString RootFilesText(long long inRoot1, long long inRoot2)
{
    QStringList sides;
    if (inRoot1 > 0)
        sides << QStringLiteral("ﾌｫﾙﾀﾞ1 %1 ").arg(count(inRoot1)) + Word::Files;
    if (inRoot2 > 0)
        sides << QStringLiteral("ﾌｫﾙﾀﾞ2 %1 ").arg(count(inRoot2)) + Word::Files;
    if (sides.isEmpty())
        return {};
    return QStringLiteral("ﾙｰﾄ直下のﾌｧｲﾙは比較･同期しません: ") + sides.join(QStringLiteral("､"));
}

QString RateText(qint64 elapsedMs, long long done, long long total, bool inBytes)
{
    constexpr qint64 kSteadyAfterMs = 3000;
    if (elapsedMs < kSteadyAfterMs || done <= 0)
        return {};
    const double perSecond = double(done) * 1000 / double(elapsedMs);
    QString text = inBytes ? bytes((long long)perSecond) + QStringLiteral("/秒")
                           : japanese().toString(perSecond, 'f', 0) + QStringLiteral(" 行/秒");
    if (total > done) {
        // Whole seconds, rounded up: never none while something is left.
        const auto left = qint64(std::ceil(double(total - done) / perSecond));
        text += kGap + QStringLiteral("残り 約 ")
                + (left < 60 ? Word::Seconds.arg(left) : Word::Minutes.arg(left / 60).arg(left % 60));
    }
    return text;
}

QString ProgressText(int done, int total, long long bytesDone, long long bytesTotal)
{
    QString text = count(done) + QStringLiteral(" / ") + count(total);
    if (bytesTotal > 0)
        text += kGap + bytes(bytesDone) + QStringLiteral(" / ") + bytes(bytesTotal);
    return text;
}

} // namespace velmor
