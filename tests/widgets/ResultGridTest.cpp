// The result grid vSpr: two-row captions, the rows' cells, toggling the action
// flag, the red result, the clipboard text, column widths, and a fill of
// 100,000 rows that only costs what is on screen.
#include "ui/ResultGrid.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

using namespace velmor;

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
    t.row(0).result = QStringLiteral("追加");
    g.gridModel().reset();

    const auto colour = [&](int r, int col) { return g.model()->data(g.model()->index(r, col - 1), Qt::ForegroundRole); };
    EXPECT_EQ(colour(2, 12).value<QColor>(), QColor(255, 0, 0));
    EXPECT_FALSE(colour(2, 8).isValid());
    EXPECT_FALSE(colour(0, 12).isValid());

    EXPECT_EQ(g.clipboardText(), QStringLiteral("1\ta\t\t\t\t24/03/05 10:20\t1\t追加\t\t\t***\t追加\r\n"
                                                "2\ta\t\t\t\t24/03/05 10:20\t0\t追加\t\t\t***\t\r\n"
                                                "3\ta\tphoto.tar\tgz\t1024\t24/03/05 10:20\t1\t追加\t\t\t***\t追加 Err\r\n"));
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
