// The result grid vSpr: two-row captions, the rows' cells, toggling the action
// flag, the red result, the clipboard text, column widths, scrolling, and a
// fill of 100,000 rows that only costs what is on screen.
#include "ui/ResultGrid.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace velmor;

namespace {

ResultRow folderRow(long long no, const QString& path, const QString& flag, const QString& status)
{
    ResultRow r;
    r.no = no;
    r.path = path;
    r.u1 = QStringLiteral("24/03/05 10:20");
    r.flag = flag;
    r.status = status;
    r.u2 = QStringLiteral("24/03/04 09:00");
    r.at = QStringLiteral("***");
    return r;
}

ResultRow fileRow(long long no, const QString& path, const QString& name, const QString& ext, const QString& flag,
                  const QString& status)
{
    ResultRow r = folderRow(no, path, flag, status);
    r.name = name;
    r.ext = ext;
    r.s1 = QStringLiteral("1024");
    r.s2 = QStringLiteral("2048");
    return r;
}

// Three folder rows, then two file rows, as the comparison fills them.
void fillSample(ResultTable& t)
{
    t.clear();
    t.rows().push_back(folderRow(1, QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("追加")));
    t.rows().push_back(folderRow(2, QStringLiteral("a/b"), QStringLiteral("0"), QStringLiteral("同一")));
    t.rows().push_back(folderRow(3, QStringLiteral("c"), QStringLiteral("2"), QStringLiteral("削除")));
    t.rows().push_back(fileRow(4, QStringLiteral("a"), QStringLiteral("photo.tar"), QStringLiteral("gz"),
                               QStringLiteral("1"), QStringLiteral("上書")));
    t.rows().push_back(fileRow(5, QString(), QString(), QStringLiteral("htaccess"), QStringLiteral("0"),
                               QStringLiteral("保護")));
}

QString cell(ResultGrid& g, int row, int col)
{
    return g.model()->data(g.model()->index(row, col - 1), Qt::DisplayRole).toString();
}

// Counts what the view asks of its delegate.
class CountingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
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
    mutable long paints = 0;
    mutable long hints = 0;
};

} // namespace

TEST(ResultGrid, TwoHeaderRowsWithSharedUpperCells)
{
    ResultTable t;
    ResultGrid g(t);
    const QStringList upper = {QString(), "ﾊﾟｽ", "ﾌｧｲﾙ名", "拡張子", "同期元", "同期元",
                               "処理", "処理", "同期先", "同期先", "属性", "確認"};
    const QStringList lower = {QString(), QString(), QString(), QString(), "ｻｲｽﾞ", "更新日",
                               QString(), QString(), "ｻｲｽﾞ", "更新日", QString(), QString()};
    ASSERT_EQ(g.model()->columnCount(), 12);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(g.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), upper[c]) << c;
        EXPECT_EQ(g.model()->headerData(c, Qt::Horizontal, ResultGridModel::LowerCaptionRole).toString(), lower[c])
            << c;
    }

    ResultGridHeader* h = g.twoRowHeader();
    ASSERT_EQ(g.horizontalHeader(), h);
    using Span = std::pair<int, int>;
    // Columns 5-6, 7-8 and 9-10 (0-based 4-5, 6-7, 8-9) share an upper cell.
    for (int c : {4, 5})
        EXPECT_EQ(h->upperSpan(c), Span(4, 2)) << c;
    for (int c : {6, 7})
        EXPECT_EQ(h->upperSpan(c), Span(6, 2)) << c;
    for (int c : {8, 9})
        EXPECT_EQ(h->upperSpan(c), Span(8, 2)) << c;
    // Column 1 has an empty caption; it spans nothing, however many empties.
    for (int c : {0, 1, 2, 3, 10, 11})
        EXPECT_EQ(h->upperSpan(c), Span(c, 1)) << c;

    // Room for two rows of captions; painting both rows is sound.
    g.resize(900, 300);
    g.show();
    EXPECT_GE(h->height(), 2 * h->fontMetrics().height());
    EXPECT_FALSE(h->grab().isNull());
}

TEST(ResultGrid, ShowsTheRowsWithRunningNumbers)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    QAbstractItemModelTester tester(g.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    g.gridModel().reset();
    ASSERT_EQ(g.model()->rowCount(), 5);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(cell(g, r, 1), QString::number(r + 1));
    EXPECT_EQ(cell(g, 3, 2), QStringLiteral("a"));
    EXPECT_EQ(cell(g, 3, 3), QStringLiteral("photo.tar"));
    EXPECT_EQ(cell(g, 3, 4), QStringLiteral("gz"));
    EXPECT_EQ(cell(g, 3, 5), QStringLiteral("1024"));
    EXPECT_EQ(cell(g, 3, 7), QStringLiteral("1"));
    EXPECT_EQ(cell(g, 3, 8), QStringLiteral("上書"));
    EXPECT_EQ(cell(g, 3, 9), QStringLiteral("2048"));
    EXPECT_EQ(cell(g, 4, 3), QString());
    EXPECT_EQ(cell(g, 4, 4), QStringLiteral("htaccess"));

    // A refill that shrinks the table: the view follows after reset, and a
    // read in between answers nothing instead of reading past the end.
    const QModelIndex last = g.model()->index(4, 0);
    t.setRowCount(2);
    EXPECT_EQ(g.model()->data(last, Qt::DisplayRole), QVariant());
    g.gridModel().reset();
    EXPECT_EQ(g.model()->rowCount(), 2);
    EXPECT_FALSE(g.gridModel().toggleFlag(4));
}

TEST(ResultGrid, SpaceTogglesTheCurrentRowsFlag)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    g.gridModel().reset();
    QSignalSpy toggled(&g, &ResultGrid::flagToggled);

    g.setCurrentIndex(g.model()->index(0, 3));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(0).flag, QStringLiteral("0"));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(0).flag, QStringLiteral("1"));
    g.setCurrentIndex(g.model()->index(1, 0));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(1).flag, QStringLiteral("1"));
    ASSERT_EQ(toggled.size(), 3);
    EXPECT_EQ(toggled[0][0].toInt(), 0);
    EXPECT_EQ(toggled[2][0].toInt(), 1);
    // The change reaches the view.
    EXPECT_EQ(cell(g, 2, 7), QStringLiteral("2"));
    EXPECT_EQ(cell(g, 1, 7), QStringLiteral("1"));

    // A row the synchronisation has done stays done, and nothing is reported.
    g.setCurrentIndex(g.model()->index(2, 0));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_EQ(t.row(2).flag, QStringLiteral("2"));
    // Nor does a row without a flag change.
    t.row(4).flag.clear();
    g.setCurrentIndex(g.model()->index(4, 0));
    QTest::keyClick(&g, Qt::Key_Space);
    EXPECT_TRUE(t.row(4).flag.isEmpty());
    EXPECT_EQ(toggled.size(), 3);
}

TEST(ResultGrid, DoubleClickTogglesTheRowsFlag)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    g.gridModel().reset();
    g.resize(900, 300);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QSignalSpy toggled(&g, &ResultGrid::flagToggled);

    const auto dclick = [&](int row, int col) {
        QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(g.model()->index(row, col)).center());
    };
    dclick(3, 1);  // anywhere on the row
    EXPECT_EQ(t.row(3).flag, QStringLiteral("0"));
    dclick(3, 6);
    EXPECT_EQ(t.row(3).flag, QStringLiteral("1"));
    dclick(2, 6);  // done row
    EXPECT_EQ(t.row(2).flag, QStringLiteral("2"));
    ASSERT_EQ(toggled.size(), 2);
    EXPECT_EQ(toggled[1][0].toInt(), 3);
    // No editor is opened by a double click.
    EXPECT_TRUE(g.findChildren<QLineEdit*>().isEmpty());
}

TEST(ResultGrid, FailedRowsShowTheirResultInRed)
{
    ResultTable t;
    fillSample(t);
    ResultGrid g(t);
    g.gridModel().reset();
    QSignalSpy changed(g.model(), &QAbstractItemModel::dataChanged);

    t.row(3).result = QStringLiteral("上書 Err");
    t.row(3).red = true;
    t.row(0).result = QStringLiteral("追加");
    g.gridModel().rowsChanged(0, 3);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>(), g.model()->index(0, 0));
    EXPECT_EQ(changed[0][1].value<QModelIndex>(), g.model()->index(3, 11));

    const auto colour = [&](int row, int col) {
        return g.model()->data(g.model()->index(row, col - 1), Qt::ForegroundRole);
    };
    EXPECT_EQ(colour(3, 12).value<QColor>(), QColor(255, 0, 0));
    EXPECT_EQ(cell(g, 3, 12), QStringLiteral("上書 Err"));
    // Only the result column of a failed row is red.
    EXPECT_FALSE(colour(3, 8).isValid());
    EXPECT_FALSE(colour(0, 12).isValid());
    // A new run clears the mark.
    t.row(3).red = false;
    g.gridModel().rowsChanged(3, 3);
    EXPECT_FALSE(colour(3, 12).isValid());
    // Ranges past the end are cut to the rows there are.
    g.gridModel().rowsChanged(4, 99);
    EXPECT_EQ(changed.size(), 3);
    EXPECT_EQ(changed[2][1].value<QModelIndex>(), g.model()->index(4, 11));
    g.gridModel().rowsChanged(7, 9);
    EXPECT_EQ(changed.size(), 3);
}

TEST(ResultGrid, ClipboardTextIsEveryCellTabsAndCrLf)
{
    ResultTable t;
    ResultGrid g(t);
    EXPECT_EQ(g.clipboardText(), QString());

    t.rows().push_back(folderRow(1, QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("追加")));
    t.rows().push_back(fileRow(2, QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("txt"),
                               QStringLiteral("2"), QStringLiteral("上書")));
    t.row(1).result = QStringLiteral("上書");
    g.gridModel().reset();
    EXPECT_EQ(g.clipboardText(),
              QStringLiteral("1\ta\t\t\t\t24/03/05 10:20\t1\t追加\t\t24/03/04 09:00\t***\t\r\n"
                             "2\ta\tx\ttxt\t1024\t24/03/05 10:20\t2\t上書\t2048\t24/03/04 09:00\t***\t上書\r\n"));
}

TEST(ResultGrid, ColumnWidthsRoundTrip)
{
    ResultTable t;
    ResultGrid g(t);
    const QList<double> w = {40, 300, 120, 45, 70, 95, 30, 60};
    g.setColumnWidths(w);
    EXPECT_EQ(g.columnWidths(), w);
    const int col9 = g.columnWidth(8);

    // A short list sets only its columns; widths that are no widths are left out.
    g.setColumnWidths({33, 0, -5, std::numeric_limits<double>::quiet_NaN(), 44.6});
    EXPECT_EQ(g.columnWidths(), (QList<double>{33, 300, 120, 45, 45, 95, 30, 60}));
    // Columns 9 to 12 are not part of the list.
    g.setColumnWidths({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(g.columnWidths().size(), 8);
    EXPECT_EQ(g.columnWidth(8), col9);
    // A huge stored value does not overflow into a hidden column.
    g.setColumnWidths({1e12});
    EXPECT_GT(g.columnWidth(0), 0);
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

    t.setRowCount(100000);
    for (int r = 0; r < t.rowCount(); ++r)
        t.row(r) = fileRow(r + 1, QStringLiteral("d") + QString::number(r / 100), QStringLiteral("f"),
                           QStringLiteral("txt"), QStringLiteral("1"), QStringLiteral("追加"));
    g.gridModel().reset();
    ASSERT_EQ(g.model()->rowCount(), 100000);
    (void)g.grab();
    g.showRow(99000);
    (void)g.grab();

    // Rows never asked for their size, nothing created per row, and only the
    // visible cells painted (two screens of at most a few dozen rows).
    const int visibleRows = g.viewport()->height() / g.verticalHeader()->defaultSectionSize() + 2;
    EXPECT_LT(counting.hints, 1000);
    EXPECT_LE(counting.paints, 2L * 2 * visibleRows * 12);
    EXPECT_GT(counting.paints, 0);
    EXPECT_EQ(g.findChildren<QObject*>().size(), children);
    EXPECT_EQ(g.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_EQ(g.verticalHeader()->length(), 100000 * g.verticalHeader()->defaultSectionSize());
    g.setItemDelegate(nullptr);
}

TEST(ResultGrid, ShowRowPutsTheRowOnTop)
{
    ResultTable t;
    t.setRowCount(500);
    for (int r = 0; r < 500; ++r)
        t.row(r) = folderRow(r + 1, QString::number(r), QStringLiteral("1"), QStringLiteral("追加"));
    ResultGrid g(t);
    g.gridModel().reset();
    g.resize(600, 300);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QCoreApplication::processEvents();
    g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum());
    const int hpos = g.horizontalScrollBar()->value();

    g.showRow(200);
    EXPECT_EQ(g.rowAt(0), 200);
    // The horizontal position stays where the user left it.
    EXPECT_EQ(g.horizontalScrollBar()->value(), hpos);
    g.showRow(0);
    EXPECT_EQ(g.rowAt(0), 0);
    g.showRow(500);  // past the end: nothing moves
    g.showRow(-1);
    EXPECT_EQ(g.rowAt(0), 0);
}
