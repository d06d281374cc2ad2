// The result grid vSpr: two-row captions, the rows' cells, toggling the action
// flag, the red result and its reason, the clipboard text, column widths,
// sorting the view while the table and the synchronisation keep the
// comparison's order, Ctrl+End, and a fill of 100,000 rows that only costs
// what is on screen.
#include "ui/ResultGrid.h"

#include "common/TestSupport.h"
#include "compare/ResultCounts.h"
#include "compare/Session.h"
#include "env/Reasons.h"
#include "sync/SyncRun.h"
#include "ui/WaitDialog.h"

#include <QAbstractItemModelTester>
#include <QFileInfo>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

using namespace velmor;
using namespace velmor::test;

namespace {

ResultRow row(long long no, const QString& name, const QString& ext, const QString& flag)
{
    ResultRow r;
    r.no = no;
    r.path = QStringLiteral("a");
    r.name = name;
    r.ext = ext;
    r.u1 = QStringLiteral("24/03/05 10:20");
    r.flag = flag;
    r.status = QStringLiteral("追加");
    r.at = QStringLiteral("***");
    return r;
}

// Two folder rows, then two file rows (one of them done), as a comparison
// and a synchronisation leave them.
void fillSample(ResultTable& t)
{
    t.rows() = {row(1, {}, {}, "1"), row(2, {}, {}, "0"), row(3, "photo.tar", "gz", "1"), row(4, "x", "txt", "2")};
    t.row(2).s1 = 1024;
}

QString cell(const ResultGrid& g, int r, int col)
{
    return g.model()->data(g.model()->index(r, col - 1), Qt::DisplayRole).toString();
}

// Counts what the view asks of its delegate.
class CountingDelegate : public QStyledItemDelegate {
public:
    void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& i) const override
    {
        ++paints;
        QStyledItemDelegate::paint(p, o, i);
    }
    QSize sizeHint(const QStyleOptionViewItem& o, const QModelIndex& i) const override
    {
        ++hints;
        return QStyledItemDelegate::sizeHint(o, i);
    }
    mutable long paints = 0, hints = 0;
};

} // namespace

TEST(ResultGrid, TwoHeaderRowsWithSharedUpperCells)
{
    ResultTable t;
    ResultGrid g(t);
    const QStringList upper = {"", "ﾊﾟｽ", "ﾌｧｲﾙ名", "拡張子", "同期元", "同期元", "処理", "処理", "同期先", "同期先",
                               "属性", "確認"};
    const QStringList lower = {"", "", "", "", "ｻｲｽﾞ", "更新日", "", "", "ｻｲｽﾞ", "更新日", "", ""};
    // Columns 5-6, 7-8 and 9-10 share an upper cell: (first column, count), 0-based.
    const int first[12] = {0, 1, 2, 3, 4, 4, 6, 6, 8, 8, 10, 11};
    const int span[12] = {1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 1, 1};
    ResultGridHeader* h = g.twoRowHeader();
    ASSERT_EQ(g.horizontalHeader(), h);
    ASSERT_EQ(g.model()->columnCount(), 12);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(g.model()->headerData(c, Qt::Horizontal).toString(), upper[c]) << c;
        EXPECT_EQ(g.model()->headerData(c, Qt::Horizontal, ResultGridModel::LowerCaptionRole).toString(), lower[c]);
        EXPECT_EQ(h->upperSpan(c), std::make_pair(first[c], span[c])) << c;
    }
    g.show();
    EXPECT_GE(h->height(), 2 * h->fontMetrics().height());
}

TEST(ResultGrid, CellsAndRunningNumbers)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    QAbstractItemModelTester tester(g.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    g.gridModel().reset();
    ASSERT_EQ(g.model()->rowCount(), 4);
    EXPECT_EQ(cell(g, 2, 1), QStringLiteral("3"));
    EXPECT_EQ(cell(g, 2, 3) + '|' + cell(g, 2, 4) + '|' + cell(g, 2, 5) + '|' + cell(g, 2, 8),
              QStringLiteral("photo.tar|gz|1024|追加"));

    // A refill that shrinks the table: a read before the reset reaches the
    // view answers nothing instead of reading past the end.
    const QModelIndex last = g.model()->index(3, 0);
    t.setRowCount(1);
    EXPECT_EQ(g.model()->data(last, Qt::DisplayRole), QVariant());
    EXPECT_FALSE(g.gridModel().toggleFlag(3));
    g.gridModel().reset();
    EXPECT_EQ(g.model()->rowCount(), 1);
}

TEST(ResultGrid, SpaceAndDoubleClickToggleTheFlag)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    g.gridModel().reset();
    g.resize(900, 300);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QSignalSpy toggled(&g, &ResultGrid::flagToggled);
    const auto dclick = [&](int r) {
        QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(g.model()->index(r, 1)).center());
    };

    g.setCurrentIndex(g.model()->index(0, 3));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(cell(g, 0, 7), QStringLiteral("0"));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(0).flag, QStringLiteral("1"));
    dclick(1);
    EXPECT_EQ(t.row(1).flag, QStringLiteral("1"));
    EXPECT_TRUE(g.findChildren<QLineEdit*>().isEmpty());  // no editor opened
    EXPECT_EQ(toggled.size(), 3);
    EXPECT_EQ(toggled.last().at(0).toInt(), 1);

    // A row the synchronisation has done stays done, and nothing is reported.
    dclick(3);
    g.setCurrentIndex(g.model()->index(3, 0));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(3).flag, QStringLiteral("2"));
    EXPECT_EQ(toggled.size(), 3);
}

TEST(ResultGrid, FailedResultInRedAndClipboardText)
{
    ResultTable t;
    ResultGrid g(t);
    EXPECT_EQ(g.clipboardText(), QString());
    fillSample(t);
    t.rows().resize(3);
    t.row(2).result = QStringLiteral("追加 Err");
    t.row(2).red = true;
    t.row(2).setWhy(WhyText(Why::ReadOnlyTarget, QStringLiteral("a/photo.tar.gz")));
    t.row(0).result = QStringLiteral("追加");
    t.row(1).setWhy(QStringLiteral("属性だけが違います: 日時"));
    g.gridModel().reset();

    const auto role = [&](int r, int col, int role) { return g.model()->data(g.model()->index(r, col - 1), role); };
    EXPECT_EQ(role(2, 12, Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(role(2, 8, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(role(0, 12, Qt::ForegroundRole).isValid());
    // The reason is the failed result's tooltip, and only there, in Japanese.
    const QString whyJa = QStringLiteral("a/photo.tar.gz は読み取り専用のため置き換えられません");
    EXPECT_EQ(role(2, 12, Qt::ToolTipRole).toString(), whyJa);
    EXPECT_FALSE(role(2, 8, Qt::ToolTipRole).isValid());
    EXPECT_FALSE(role(0, 12, Qt::ToolTipRole).isValid());
    // What the comparison found is the tooltip of the status and the result.
    EXPECT_EQ(role(1, 8, Qt::ToolTipRole).toString(), t.row(1).why());
    EXPECT_EQ(role(1, 12, Qt::ToolTipRole).toString(), t.row(1).why());

    // A row with a reason carries it as a 13th cell.
    EXPECT_EQ(g.clipboardText(), QStringLiteral("1\ta\t\t\t\t24/03/05 10:20\t1\t追加\t\t\t***\t追加\r\n"
                                                "2\ta\t\t\t\t24/03/05 10:20\t0\t追加\t\t\t***\t\t属性だけが違います: 日時\r\n"
                                                "3\ta\tphoto.tar\tgz\t1024\t24/03/05 10:20\t1\t追加\t\t\t***\t追加 Err"
                                                "\t")
                                    + whyJa + QStringLiteral("\r\n"));
}

TEST(ResultGrid, AMoveShowsWhileBothFlagsAreSet)
{
    ResultTable t;
    t.rows() = {row(1, "new", "jpg", "1"), row(2, "old", "jpg", "1")};
    t.row(1).status = QStringLiteral("削除");
    t.row(0).setMove(2, QStringLiteral("a/old.jpg"));
    t.row(1).setMove(1, QStringLiteral("a/new.jpg"));
    t.row(0).result = t.row(1).result = kMoved;
    ResultGrid g(t);
    g.gridModel().reset();
    const auto tip = [&](int r) { return g.model()->data(g.model()->index(r, 11), Qt::ToolTipRole).toString(); };
    EXPECT_EQ(cell(g, 0, 12), QStringLiteral("移動"));
    EXPECT_EQ(tip(0), QStringLiteral("移動元 a/old.jpg"));
    EXPECT_EQ(tip(1), QStringLiteral("移動先 a/new.jpg"));
    EXPECT_EQ(CountResults(t).copyBytes, 0);
    // Either flag cleared: both rows are an ordinary copy and deletion again.
    QSignalSpy changed(g.model(), &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(g.gridModel().toggleFlag(1));
    EXPECT_EQ(changed.size(), 2);  // the partner's row too
    for (int r : {0, 1}) {
        EXPECT_EQ(cell(g, r, 12), QString());
        EXPECT_EQ(tip(r), QString());
    }
    t.row(0).s1 = 10;
    EXPECT_EQ(CountResults(t).copyBytes, 10);
    EXPECT_FALSE(g.clipboardText().contains(QStringLiteral("移動")));
    ASSERT_TRUE(g.gridModel().toggleFlag(1));
    EXPECT_TRUE(g.clipboardText().endsWith(QStringLiteral("\t移動\t移動先 a/new.jpg\r\n")));
}

TEST(ResultGrid, HeaderClicksSortTheViewOnly)
{
    ResultTable t;
    fillSample(t);
    t.rows().push_back(row(5, "e", "txt", "1"));
    const long long sizes[] = {-1, 300, 20, 1000, 20};
    const long long sizes2[] = {5, -1, 700, 40, 5};  // folder 2's sizes, in another order
    const char* dates[] = {"99/12/31 23:59", "00/01/01 00:00", "69/06/01 10:00", "70/01/01 00:00", ""};
    const char* names[] = {"", "b", "B", "a", "c"};
    for (int r = 0; r < 5; ++r) {
        t.row(r).s1 = sizes[r];
        t.row(r).s2 = sizes2[r];
        t.row(r).u1 = QString::fromLatin1(dates[r]);
        t.row(r).name = QString::fromLatin1(names[r]);
    }
    ResultGrid g(t);
    QAbstractItemModelTester tester(g.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    g.gridModel().reset();
    g.resize(900, 300);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QSignalSpy sorted(&g, &ResultGrid::sortChanged);
    ResultGridHeader* h = g.twoRowHeader();
    const auto click = [&](int col) {
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() * 3 / 4));
    };
    const auto shown = [&] {
        QString numbers;
        for (int r = 0; r < g.model()->rowCount(); ++r)
            numbers += cell(g, r, 1);
        return numbers;
    };
    const QString clipboard = g.clipboardText();

    // Clicks on a header: ascending, descending (equal keys keep the
    // comparison's order), then the comparison's order again.
    const struct {
        int column;  // 1-based
        const char* order;
        int sortColumn;  // 0-based, -1: the comparison's order
        Qt::SortOrder direction;
    } clicks[] = {
        {5, "13524", 4, Qt::AscendingOrder},   // sizes as numbers, the empty size first
        {5, "42351", 4, Qt::DescendingOrder},
        {5, "12345", -1, Qt::AscendingOrder},
        {6, "54123", 5, Qt::AscendingOrder},   // dates by time: 70-99 before 00-69
        {3, "13425", 2, Qt::AscendingOrder},   // names as text
        {1, "12345", 0, Qt::AscendingOrder},   // a click on another header starts ascending
        {1, "54321", 0, Qt::DescendingOrder},  // running numbers as numbers
        {9, "21543", 8, Qt::AscendingOrder},   // folder 2's sizes by their own numbers
        {9, "34152", 8, Qt::DescendingOrder},
    };
    for (const auto& c : clicks) {
        SCOPED_TRACE(c.column);
        click(c.column - 1);
        EXPECT_EQ(shown(), QString::fromLatin1(c.order));
        ASSERT_FALSE(sorted.isEmpty());
        EXPECT_EQ(sorted.last().at(0).toInt(), c.sortColumn);
        EXPECT_EQ(h->sortIndicatorSection(), c.sortColumn);
        if (c.sortColumn >= 0) {
            EXPECT_EQ(sorted.last().at(1).value<Qt::SortOrder>(), c.direction);
        }
        (void)h->grab();  // the two-row header paints with its indicator
    }

    // Sorted by size: Space and a double click act on the rows shown there;
    // the current cell follows its row when the order changes.
    g.sortByColumn(4, Qt::AscendingOrder);
    ASSERT_EQ(shown(), QStringLiteral("13524"));
    QSignalSpy toggled(&g, &ResultGrid::flagToggled);
    g.setCurrentIndex(g.model()->index(1, 2));  // row no. 3
    QTest::keyClick(&g, Qt::Key_Space);
    QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(g.model()->index(3, 1)).center());  // no. 2
    EXPECT_EQ(t.row(2).flag, QStringLiteral("0"));
    EXPECT_EQ(t.row(1).flag, QStringLiteral("1"));
    ASSERT_EQ(toggled.size(), 2);
    EXPECT_EQ(toggled[0].at(0).toInt(), 2);
    EXPECT_EQ(toggled[1].at(0).toInt(), 1);
    EXPECT_EQ(cell(g, 1, 7), QStringLiteral("0"));
    g.setCurrentIndex(g.model()->index(1, 2));
    g.sortByColumn(4, Qt::DescendingOrder);
    EXPECT_EQ(cell(g, g.currentIndex().row(), 1), QStringLiteral("3"));

    // The table and the clipboard keep the comparison's order; a refill
    // starts again in it.
    for (int r = 0; r < t.rowCount(); ++r)
        EXPECT_EQ(t.row(r).no, r + 1);
    QStringList lines = clipboard.split(QStringLiteral("\r\n"));
    lines[1].replace(QStringLiteral("\t0\t追加"), QStringLiteral("\t1\t追加"));
    lines[2].replace(QStringLiteral("\t1\t追加"), QStringLiteral("\t0\t追加"));
    EXPECT_EQ(g.clipboardText(), lines.join(QStringLiteral("\r\n")));
    g.gridModel().reset();
    EXPECT_EQ(shown(), QStringLiteral("12345"));
    EXPECT_EQ(h->sortIndicatorSection(), -1);
    EXPECT_EQ(sorted.last().at(0).toInt(), -1);
}

TEST(ResultGrid, ASortedViewLeavesTheSynchronisationInTheComparisonsOrder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString f1 = tmp.path() + QStringLiteral("/src"), f2 = tmp.path() + QStringLiteral("/dst");
    makeDir(f1);
    makeDir(f2);
    ScopedPrompt prompt;
    Session s;
    ASSERT_TRUE(SetRoots(s, f1, f2));
    // Files larger by comparison order: the view sorted by size descending
    // shows them in reverse.
    constexpr int n = 40;
    long long bytes = 0;
    for (int i = 0; i < n; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        writeFile(f1 + QLatin1Char('/') + name + QStringLiteral(".txt"), QByteArray(i + 1, 'x'));
        ResultRow r = row(i + 1, name, QStringLiteral("txt"), QStringLiteral("1"));
        r.path.clear();
        r.s1 = i + 1;
        s.vSpr.rows().push_back(r);
        bytes += i + 1;
    }
    ResultGrid g(s.vSpr);
    g.gridModel().reset();
    g.resize(900, 300);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    g.sortByColumn(4, Qt::DescendingOrder);
    g.setCurrentIndex(g.model()->index(0, 0));
    QTest::keyClick(&g, Qt::Key_Space);  // the largest file, the last row of the table
    ASSERT_EQ(s.vSpr.row(n - 1).flag, QStringLiteral("0"));

    spWait wait;
    s.progress = &wait;
    QList<int> walked;
    QStringList details;
    QList<int> bar;
    SyncHooks hooks;
    hooks.showRow = [&](int r) {
        walked << r;
        g.showRow(r);
        const int view = g.gridModel().viewRow(r);
        if (view < g.verticalScrollBar()->maximum()) {  // the last screen aligns to the bottom
            EXPECT_EQ(g.rowAt(0), view) << r;
        }
    };
    hooks.progress = [&](int done, int total, long long bytesDone, long long bytesTotal) {
        wait.cProgress(done, total, bytesDone, bytesTotal);
        details << wait.detailText();
        bar << wait.barValue();
    };
    const SyncReport rep = SyncRun(s, hooks);
    EXPECT_EQ(rep.outcome, SyncReport::Outcome::Completed);
    EXPECT_EQ(rep.processed, n - 1);

    // Rows walked 1, 2, ... n (then back to the first), whatever the view shows.
    QList<int> inOrder;
    for (int r = 0; r < n; ++r)
        inOrder << r;
    EXPECT_EQ(walked, inOrder << 0);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(QFileInfo::exists(f2 + QStringLiteral("/f%1.txt").arg(i, 2, 10, QLatin1Char('0'))), i < n - 1) << i;
    ASSERT_FALSE(details.isEmpty());
    EXPECT_EQ(details.last(), ProgressText(n - 1, n - 1, bytes - n, bytes - n));
    EXPECT_TRUE(details.last().startsWith(QStringLiteral("39 / 39　")));
    EXPECT_EQ(bar.first(), 0);
    EXPECT_EQ(bar.last(), 1000) << "by bytes, whole at the end";
    EXPECT_EQ(wait.barValue(), -1) << "hidden with the dialog's end";
    EXPECT_TRUE(wait.detailText().isEmpty());  // the run's end closed the dialog
    EXPECT_EQ(g.gridModel().sortColumn(), 4);
    EXPECT_EQ(cell(g, 0, 1), QString::number(n));
}

TEST(ResultGrid, CtrlEndAndCtrlHomeKeepTheRowNumbersInSight)
{
    ResultTable t;
    t.rows().assign(500, row(0, "f", "txt", "1"));
    for (int r = 0; r < t.rowCount(); ++r)
        t.row(r).no = r + 1;
    ResultGrid g(t);
    g.gridModel().reset();
    g.resize(500, 300);  // narrower than the columns
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    ASSERT_GT(g.horizontalScrollBar()->maximum(), 0);
    const struct {
        int startColumn;
        Qt::Key key;
        int row;
    } moves[] = {{2, Qt::Key_End, 499}, {2, Qt::Key_Home, 0}, {0, Qt::Key_End, 499}};
    for (const auto& m : moves) {
        SCOPED_TRACE(m.key);
        g.setCurrentIndex(g.model()->index(250, m.startColumn));
        QTest::keyClick(&g, m.key, Qt::ControlModifier);
        EXPECT_EQ(g.currentIndex().row(), m.row);
        EXPECT_EQ(g.currentIndex().column(), m.startColumn);
        EXPECT_EQ(g.columnViewportPosition(0), 0);  // column 1 in sight
        EXPECT_TRUE(g.viewport()->rect().intersects(g.visualRect(g.currentIndex())));
    }
}

TEST(ResultGrid, ColumnWidthsRoundTrip)
{
    ResultTable t;
    ResultGrid g(t);
    const QList<double> w = {40, 300, 120, 45, 70, 95, 30, 60};
    g.setColumnWidths(w);
    EXPECT_EQ(g.columnWidths(), w);
    // A short list sets only its columns; what is no width is left out.
    g.setColumnWidths({33, 0, -5, std::numeric_limits<double>::quiet_NaN(), 1e12});
    EXPECT_EQ(g.columnWidths().mid(0, 4), (QList<double>{33, 300, 120, 45}));
    EXPECT_GT(g.columnWidth(4), 0);
}

TEST(ResultGrid, HundredThousandRowsCostOnlyWhatIsOnScreen)
{
    ResultTable t;
    ResultGrid g(t);
    CountingDelegate counting;
    g.setItemDelegate(&counting);
    g.resize(900, 400);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    const qsizetype children = g.findChildren<QObject*>().size();

    t.rows().assign(100000, row(0, "f", "txt", "1"));
    for (int r = 0; r < t.rowCount(); ++r)
        t.row(r).no = r + 1;
    g.gridModel().reset();
    (void)g.grab();
    g.showRow(99000);
    EXPECT_EQ(g.rowAt(0), 99000);
    (void)g.grab();

    // Rows never asked for their size, nothing created per row, and only the
    // visible cells painted (two screens).
    const int screenRows = g.viewport()->height() / g.verticalHeader()->defaultSectionSize() + 2;
    EXPECT_LT(counting.hints, 1000);
    EXPECT_GT(counting.paints, 0);
    EXPECT_LE(counting.paints, 2L * screenRows * 12);
    EXPECT_EQ(g.findChildren<QObject*>().size(), children);
    EXPECT_EQ(g.verticalHeader()->length(), 100000 * g.verticalHeader()->defaultSectionSize());
    g.setItemDelegate(nullptr);
}
