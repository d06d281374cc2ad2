#pragma once
// The result grid vSpr: a table model over the session's result rows and its
// view. Two header rows (the upper one spans the column pairs 5-6, 7-8 and
// 9-10), the twelve columns of the result list, the action flag that the
// user toggles per row (Space or a double click: "1" <-> "0"), the result
// column shown red on failed rows, with the reason as its tooltip. A click on
// a header sorts the view only. No widget per row: the view draws from
// the rows, so 100,000 rows scroll smoothly.
#include "compare/ResultTable.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QList>
#include <QTableView>

#include <utility>
#include <vector>

namespace velmor {

class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Horizontal header roles: Qt::DisplayRole is the upper caption (the same
    // text on both columns of a pair), LowerCaptionRole the lower caption.
    static constexpr int LowerCaptionRole = Qt::UserRole + 1;
    static constexpr int kColumns = 12;

    explicit ResultGridModel(ResultTable& table, QObject* parent = nullptr);

    const ResultTable& table() const { return m_table; }

    // The model's rows are view rows; the table keeps the comparison's order
    // whatever the view shows. The sort maps one to the other.
    // Table row of view row `view`, -1 when there is none.
    int tableRow(int view) const;
    // View row of table row `row`, -1 when there is none.
    int viewRow(int row) const;
    // Table row `row` shows its move: the pair still moves (both flags
    // "1"), or the synchronisation moved it.
    bool showsMove(int row) const;

    // The table was refilled or emptied: the view starts again, in the
    // comparison's order.
    void reset();
    // Table rows first..last (0-based) changed in place (flags, results, colours).
    void rowsChanged(int first, int last);
    // Toggles the action flag of table row `row` (0-based) between "1" and
    // "0"; a done row ("2") and a row without a flag stay as they are. True
    // when changed.
    bool toggleFlag(int row);

    // Orders the view by column (0-based): the running number and the sizes
    // as numbers, the dates by time, the rest as text; rows that compare
    // equal keep the comparison's order. column -1 gives the comparison's
    // order back. The keys are read once here: rows changed later (a
    // synchronisation's flags and results) keep their place until the next
    // sort. Persistent indexes (the current cell) follow their rows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // The column the view is sorted by, -1 for the comparison's order.
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Qt::ToolTipRole of the result cell of a failed row: why it failed, in
    // Japanese (ReasonJa).
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

signals:
    // The view's order changed (column -1: the comparison's order).
    void sortChanged(int column, Qt::SortOrder order);

private:
    // Fills m_order and m_viewOf for the current sort column and order.
    void buildOrder();

    ResultTable& m_table;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::vector<int> m_order;   // view row -> table row; empty: the same
    std::vector<int> m_viewOf;  // table row -> view row; empty: the same
};

// The grid's horizontal header in two rows. Adjacent columns with the same
// non-empty upper caption share one upper cell (5-6 "同期元", 7-8 "処理",
// 9-10 "同期先") and show their lower captions below it; every other column
// is one cell over both rows. Paints from the model's header data only; the
// sort indicator goes into the sorted column's own caption cell.
class ResultGridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit ResultGridHeader(QWidget* parent = nullptr);

    // The upper cell that covers logical column `logical`: its first logical
    // column and the number of columns it spans (1 when not shared).
    std::pair<int, int> upperSpan(int logical) const;

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QString upperCaption(int logical) const;
    QString lowerCaption(int logical) const;
    void paintCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text, bool own) const;
};

class ResultGrid : public QTableView {
    Q_OBJECT
public:
    explicit ResultGrid(ResultTable& table, QWidget* parent = nullptr);
    ResultGridModel& gridModel();
    ResultGridHeader* twoRowHeader() const;

    // Widths of columns 1 to 8 in the grid's unit (pixels).
    QList<double> columnWidths() const;
    // Sets columns 1, 2, ... from widths[0], widths[1], ... (at most eight);
    // an entry that is not a width greater than 0 leaves its column as it is.
    // The four columns not stored take the same scale as the eight against
    // their design widths. The columns are the user's from then on (unless
    // the eight are the design widths: those are no choice).
    void setColumnWidths(const QList<double>& widths);
    // The height that shows the header and rows rows, with the frame (no
    // horizontal scroll bar).
    int heightForRows(int rows) const;
    // Scrolls so that table row `row` (0-based) is the top visible row,
    // wherever the sort shows it.
    void showRow(int row);
    // Makes the next failed row after the current one (forward), or the one
    // before it, in the order shown, the current row and scrolls it into
    // view; past the last it goes on from the first. False when no row failed.
    bool goToFailed(bool forward);
    // Every cell of the grid as text (no captions), in the comparison's
    // order whatever the view's sort: TAB between cells, CR LF after each
    // row; a failed row carries its reason as a 13th cell. "" for an empty grid.
    QString clipboardText() const;

signals:
    // The user toggled the action flag of table row `row` (0-based).
    void flagToggled(int row);
    // A click on a header sorted the view (or a refill gave the comparison's
    // order back, column -1). Clicks cycle: ascending, descending, the
    // comparison's order.
    void sortChanged(int column, Qt::SortOrder order);

protected:
    // Space toggles the flag of the current row; Ctrl+Home / Ctrl+End move
    // to the first / last row in the current column, leaving the columns
    // where they are scrolled.
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    // Until the user sizes a column (or stored widths are set), the columns
    // keep their design widths, narrowed alike where the grid is narrower,
    // so every column is in view without a horizontal scroll bar.
    void resizeEvent(QResizeEvent* e) override;

private:
    // Toggles the flag of view row `view` and reports it when it changed.
    void toggleRow(int view);
    // Makes view row `view` current in the current column (column 1 when
    // none), scrolling the rows only.
    void moveToRow(int view);
    // Sets the design widths times scale (at most 1), none narrower than a
    // few characters.
    void scaleColumns(int from, double scale);

    ResultGridModel m_model;
    ResultGridHeader* m_header;
    bool m_fitToWidth = true;  // no width is the user's yet
    bool m_sizing = false;     // the widths being set are the grid's own
};

} // namespace velmor
