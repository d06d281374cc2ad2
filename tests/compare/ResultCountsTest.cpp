// Counting the result grid and the status texts made from the counts: after
// a comparison, after the user cleared flags, after a synchronisation, and
// the wait dialog's progress line.
#include "compare/ResultCounts.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace velmor;

namespace {

ResultRow folder(const char* status, const char* flag)
{
    ResultRow r;
    r.path = QStringLiteral("d");
    r.status = QString::fromUtf8(status);
    r.flag = QString::fromUtf8(flag);
    return r;
}

ResultRow file(const char* status, const char* flag, long long s1)
{
    ResultRow r = folder(status, flag);
    r.name = QStringLiteral("f");
    r.ext = QStringLiteral("txt");
    r.s1 = s1;
    return r;
}

// A grid as a comparison leaves it (flags as the statuses give them, but for
// the protected file the user ticked).
ResultTable compared()
{
    ResultTable t;
    t.rows() = {
        folder("追加", "1"),           // 0
        folder("空追", "1"),           // 1
        folder("削除", "1"),           // 2
        folder("空", "1"),             // 3
        folder("比較F", "1"),          // 4 other
        file("追加", "1", 1000),       // 5
        file("上書", "1", 2'000'000),  // 6
        file("削除", "1", -1),         // 7
        file("同一", "0", 5000),       // 8 not a cleared flag
        file("保護", "1", 300),        // 9 ticked: acts and copies as 上書
        file("除外", "0", 7000),       // 10 not a cleared flag
    };
    return t;
}

struct Expect {
    int add, over, del, kara, karaAdd, other;
    long long copyBytes;
    int cleared, done, failed, waiting, leftAlone;
};

void expectCounts(const ResultCounts& c, const Expect& e)
{
    EXPECT_EQ(c.add, e.add);
    EXPECT_EQ(c.over, e.over);
    EXPECT_EQ(c.del, e.del);
    EXPECT_EQ(c.kara, e.kara);
    EXPECT_EQ(c.karaAdd, e.karaAdd);
    EXPECT_EQ(c.other, e.other);
    EXPECT_EQ(c.copyBytes, e.copyBytes);
    EXPECT_EQ(c.cleared, e.cleared);
    EXPECT_EQ(c.done, e.done);
    EXPECT_EQ(c.failed, e.failed);
    EXPECT_EQ(c.waiting, e.waiting);
    EXPECT_EQ(c.leftAlone, e.leftAlone);
}

} // namespace

TEST(ResultCounts, ComparisonClearedFlagsAndSynchronisation)
{
    ResultTable t = compared();
    const auto synchronised = [](ResultTable& g) {
        for (ResultRow& r : g.rows())
            if (r.flag == QLatin1String("1"))
                r.flag = QStringLiteral("2");
        g.row(6).flag = QStringLiteral("1");  // failed
        g.row(6).red = true;
        g.row(7).flag = QStringLiteral("1");  // not reached: the stop came first
    };
    // Each step changes the grid further.
    const struct {
        const char* step;
        std::function<void(ResultTable&)> change;
        Expect counts;
        QString text;
    } steps[] = {
        {"compared", [](ResultTable&) {}, {2, 2, 2, 1, 1, 1, 2'001'300, 0, 0, 0, 9, 2},
         QStringLiteral("追加 2　上書 2　削除 2　空 1　空追 1　その他 1　ｺﾋﾟｰ 1.9 MB")},
        {"two flags cleared",
         [](ResultTable& g) {
             g.row(5).flag = QStringLiteral("0");
             g.row(2).flag = QStringLiteral("0");
         },
         {1, 2, 1, 1, 1, 1, 2'000'300, 2, 0, 0, 7, 4},
         QStringLiteral("追加 1　上書 2　削除 1　空 1　空追 1　その他 1　ｺﾋﾟｰ 1.9 MB　解除 2")},
        {"synchronised", synchronised, {0, 1, 1, 0, 0, 0, 2'000'000, 2, 5, 1, 1, 4},
         QStringLiteral("上書 1　削除 1　ｺﾋﾟｰ 1.9 MB　解除 2")},
        {"nothing left to do",
         [](ResultTable& g) {
             for (ResultRow& r : g.rows())
                 if (r.flag == QLatin1String("1"))
                     r.flag = QStringLiteral("0");
         },
         {0, 0, 0, 0, 0, 0, 0, 4, 5, 1, 0, 6}, QStringLiteral("処理する行はありません　解除 4")},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        s.change(t);
        const ResultCounts c = CountResults(t);
        expectCounts(c, s.counts);
        EXPECT_EQ(CompareStatusText(c), s.text);
    }
    EXPECT_EQ(CompareStatusText(CountResults(ResultTable())), QStringLiteral("処理する行はありません"));
}

// Beside a count of rows, the files they stand for where that is another
// number: a folder's content as far as it was counted; nothing where some
// row's content was not counted.
TEST(ResultCounts, FilesBesideTheRows)
{
    const auto counted = [](ResultRow r, long long files, long long bytes) {
        r.setContent(files, bytes);
        return r;
    };
    const struct {
        const char* what;
        std::vector<ResultRow> rows;
        const char* compared;
        const char* synchronised;
    } cases[] = {
        {"a folder deleted whole with its subfolder, and a file",
         {counted(folder("削除", "1"), 5, 0), counted(folder("削除", "1"), 3, 0), file("削除", "1", -1)},
         "削除 3 (9 ﾌｧｲﾙ)", "完了 0　失敗 0　未実行 3 (9 ﾌｧｲﾙ)　1.0 秒"},
        {"a folder to add, not counted before it is copied",
         {folder("追加", "1"), file("追加", "1", 500)}, "追加 2　ｺﾋﾟｰ 500 バイト", "完了 0　失敗 0　未実行 2　1.0 秒"},
        {"a folder copied whole, a file, a folder made, a folder deleted",
         {counted(folder("追加", "2"), 19'998, 399'999'000), file("追加", "2", 1000), folder("空追", "2"),
          counted(folder("削除", "2"), 1, 0)},
         "処理する行はありません", "完了 4 (20,000 ﾌｧｲﾙ 381.5 MB)　失敗 0　1.0 秒"},
        {"files as many as rows", {file("上書", "2", 10), counted(folder("削除", "2"), 1, 0)}, "処理する行はありません",
         "完了 2　失敗 0　1.0 秒"},
        {"a container emptied but not counted", {folder("空", "2"), counted(folder("削除", "2"), 4, 0)},
         "処理する行はありません", "完了 2　失敗 0　1.0 秒"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResultTable t;
        t.rows() = c.rows;
        const ResultCounts n = CountResults(t);
        EXPECT_EQ(CompareStatusText(n), QString::fromUtf8(c.compared));
        EXPECT_EQ(SyncStatusText(n, 1000), QString::fromUtf8(c.synchronised));
    }
}

TEST(ResultCounts, SynchronisationAndProgressTexts)
{
    ResultCounts c;
    c.done = 1280;
    c.failed = 1;
    EXPECT_EQ(SyncStatusText(c, 3240), QStringLiteral("完了 1,280　失敗 1　3.2 秒"));
    c.waiting = 3;
    c.leftAlone = 2;
    EXPECT_EQ(SyncStatusText(c, 125'000, 12),
              QStringLiteral("中断 (12 行処理後)　完了 1,280　失敗 1　未実行 3　対象外 2　2 分 5 秒"));
    // A stop before the first row still says so; a minute is counted in minutes.
    EXPECT_EQ(SyncStatusText(c, 60'000, 0),
              QStringLiteral("中断 (0 行処理後)　完了 1,280　失敗 1　未実行 3　対象外 2　1 分 0 秒"));
    EXPECT_EQ(SyncStatusText(c, 59'949, -1), QStringLiteral("完了 1,280　失敗 1　未実行 3　対象外 2　59.9 秒"));

    EXPECT_EQ(ProgressText(1234, 5000, 12'900'000, 41'943'040), QStringLiteral("1,234 / 5,000　12.3 MB / 40.0 MB"));
    EXPECT_EQ(ProgressText(3, 3, 0, 0), QStringLiteral("3 / 3"));  // nothing copied: rows only
    EXPECT_EQ(ProgressText(0, 2, 0, 512), QStringLiteral("0 / 2　0 バイト / 512 バイト"));

    // The rate and the time left: none in the first seconds or before
    // anything is done; the time left rounded up, in minutes from a minute.
    const struct {
        qint64 ms;
        long long done, total;
        bool inBytes;
        const char* want;
    } rates[] = {
        {2999, 50 << 20, 100 << 20, true, ""},
        {10'000, 0, 100 << 20, true, ""},
        {5000, 10 << 20, 100 << 20, true, "2.0 MB/秒　残り 約 45 秒"},
        {4000, 100, 701, false, "25 行/秒　残り 約 25 秒"},
        {3000, 3, 1000, false, "1 行/秒　残り 約 16 分 37 秒"},
        {8000, 100 << 20, 100 << 20, true, "12.5 MB/秒"},
    };
    for (const auto& r : rates)
        EXPECT_EQ(RateText(r.ms, r.done, r.total, r.inBytes), QString::fromUtf8(r.want)) << r.ms << ' ' << r.done;
}

// A row keeps every cell text it is given, whatever its storage: dates in
// and out of shape, texts beside dates, the rare texts, through copies.
TEST(ResultRowTexts, EveryCellGivesBackWhatItWasGiven)
{
    const QString texts[] = {QStringLiteral("26/12/08 03:14"), QStringLiteral("00/00/00 00:00"),
                             QStringLiteral("99/12/31 23:59"), QStringLiteral("26/12/08 03:1"),
                             QStringLiteral("26/12/08 03:145"), QStringLiteral("26-12-08 03:14"),
                             QStringLiteral("２６/12/08 03:14"), QStringLiteral("2026/12/08"),
                             // one character out of shape, at either end or at a separator
                             QStringLiteral("x6/12/08 03:14"), QStringLiteral("26/12/08 03:1x"),
                             QStringLiteral("26/12/08 03.14"), QStringLiteral("26/12/08_03:14"),
                             QStringLiteral("上書 Err"), QStringLiteral("R**"), QString()};
    for (const QString& t : texts) {
        for (int col : {6, 7, 8, 10, 11, 12}) {
            ResultRow r;
            r.setText(col, t);
            const ResultRow copy = r;
            EXPECT_EQ(copy.text(col), t) << col << " " << t.toStdString();
            EXPECT_EQ(copy.text(col).isEmpty(), t.isEmpty());
            // Equal texts compare equal however they were made.
            ResultRow other;
            other.setText(col, QString(t.data(), t.size()));
            EXPECT_TRUE(other.u1 == copy.u1 && other.flag == copy.flag && other.status == copy.status
                        && other.u2 == copy.u2 && other.at == copy.at && other.result == copy.result);
        }
    }
    EXPECT_FALSE(CellText(QStringLiteral("26/12/08 03:14")) == CellText(QStringLiteral("26/12/08 03:15")));
    EXPECT_FALSE(CellText(QStringLiteral("R**")) == QStringLiteral("RH*"));

    ResultRow f;
    f.name = QStringLiteral("a");
    f.setExactName(QStringLiteral("a."));
    f.setWhy(QStringLiteral("a.: read-only"));
    ResultRow g = f;
    f.setWhy(QString());
    EXPECT_EQ(g.why(), QStringLiteral("a.: read-only"));
    EXPECT_EQ(f.why(), QString());
    EXPECT_EQ(f.fileName(), QStringLiteral("a."));
    f.setExactName(QString());
    EXPECT_EQ(f.fileName(), QStringLiteral("a"));
    ResultRow folderRow;
    folderRow.setExactName(QStringLiteral("."));
    EXPECT_FALSE(folderRow.isFolderRow());
}

// A row is found by its running number in fill order and, while a view has
// reordered the rows, wherever it stands.
TEST(ResultTable, RowOfNumberInAnyOrder)
{
    const struct {
        std::vector<long long> numbers;
        long long wanted;
        int at;
    } cases[] = {
        {{1, 2, 3}, 2, 1}, {{3, 1, 2}, 3, 0}, {{3, 1, 2}, 1, 1}, {{2, 3, 1}, 1, 2}, {{1, 2, 3}, 4, -1}, {{3, 1, 2}, 0, -1},
    };
    for (const auto& c : cases) {
        ResultTable t;
        for (const long long n : c.numbers) {
            ResultRow r = file("追加", "1", 1);
            r.no = n;
            t.rows().push_back(r);
        }
        EXPECT_EQ(t.rowOfNumber(c.wanted), c.at) << c.wanted;
    }
}
