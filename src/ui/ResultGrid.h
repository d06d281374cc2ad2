#pragma once
// The result grid vSpr: a table model over the session's result rows and its
// view. Two header rows (the upper one spans the column pairs 5-6, 7-8 and
// 9-10), the twelve columns of the result list, the action flag that the
// user toggles per row (Space or a double click: "1" <-> "0"), the result
// column shown red on failed rows. No widget per row: the view draws from
// the rows, so 100,000 rows scroll smoothly.
#include "compare/ResultTable.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QList>
#include <QTableView>

#include <utility>

namespace velmor {

class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Horizontal header roles: Qt::DisplayRole is the upper caption (the same
    // text on both columns of a pair), LowerCaptionRole the lower caption.
    static constexpr int LowerCaptionRole = Qt::UserRole + 1;
    static constexpr int kColumns = 12;

    explicit ResultGridModel(ResultTable& table, QObject* parent = nullptr);

    // The table was refilled or emptied: the view starts again.
    void reset();
    // Rows first..last (0-based) changed in place (flags, results, colours).
    void rowsChanged(int first, int last);
    // Toggles the action flag of row (0-based) between "1" and "0"; a done
    // row ("2") and a row without a flag stay as they are. True when changed.
    bool toggleFlag(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

private:
    ResultTable& m_table;
};

// The grid's horizontal header in two rows. Adjacent columns with the same
// non-empty upper caption share one upper cell (5-6 "同期元", 7-8 "処理",
// 9-10 "同期先") and show their lower captions below it; every other column
// is one cell over both rows. Paints from the model's header data only.
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
    void paintCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text) const;
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
    void setColumnWidths(const QList<double>& widths);
    // Scrolls so that row (0-based) is the top visible row.
    void showRow(int row);
    // Every cell of the grid as text (no captions): TAB between cells, CR LF
    // after each row; "" for an empty grid.
    QString clipboardText() const;

signals:
    // The user toggled the action flag of row (0-based).
    void flagToggled(int row);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    // Toggles the flag of row and reports it when it changed.
    void toggleRow(int row);

    ResultGridModel m_model;
    ResultGridHeader* m_header;
};

} // namespace velmor
