#pragma once
// The result grid vSpr: a table model over the session's result rows and its
// view. Two header rows (the upper one spans the column pairs 5-6, 7-8 and
// 9-10), the twelve columns of the result list, the action flag that the
// user toggles per row (Space or a double click: "1" <-> "0"), the result
// column shown red on failed rows. No widget per row: the view draws from
// the rows, so 100,000 rows scroll smoothly.
#include "compare/ResultTable.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTableView>

namespace velmor {

class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
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

class ResultGrid : public QTableView {
    Q_OBJECT
public:
    explicit ResultGrid(ResultTable& table, QWidget* parent = nullptr);
    ResultGridModel& gridModel();

    // Widths of columns 1 to 8 in the grid's unit (pixels).
    QList<double> columnWidths() const;
    void setColumnWidths(const QList<double>& widths);
    // Scrolls so that row (0-based) is the top visible row.
    void showRow(int row);
    // Every cell of the grid as text: TAB between cells, CR LF after each row.
    QString clipboardText() const;

signals:
    // The user toggled the action flag of row (0-based).
    void flagToggled(int row);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    ResultGridModel m_model;
};

} // namespace velmor
