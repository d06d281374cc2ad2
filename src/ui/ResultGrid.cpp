#include "ui/ResultGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace velmor {

ResultGridModel::ResultGridModel(ResultTable& table, QObject* parent) : QAbstractTableModel(parent), m_table(table) {}

void ResultGridModel::reset()
{
    beginResetModel();
    endResetModel();
}

void ResultGridModel::rowsChanged(int first, int last)
{
    if (first <= last && last < rowCount())
        emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

bool ResultGridModel::toggleFlag(int row)
{
    if (row < 0 || row >= m_table.rowCount())
        return false;
    QString& flag = m_table.row(row).flag;
    if (flag != QLatin1String("1") && flag != QLatin1String("0"))
        return false;
    flag = flag == QLatin1String("1") ? QStringLiteral("0") : QStringLiteral("1");
    rowsChanged(row, row);
    return true;
}

int ResultGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_table.rowCount(); }

int ResultGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 12; }

QVariant ResultGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_table.rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return m_table.row(index.row()).text(index.column() + 1);
    return {};
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (role != Qt::DisplayRole || o != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, o, role);
    return QString();
}

ResultGrid::ResultGrid(ResultTable& table, QWidget* parent) : QTableView(parent), m_model(table)
{
    setModel(&m_model);
}

ResultGridModel& ResultGrid::gridModel() { return m_model; }

QList<double> ResultGrid::columnWidths() const
{
    QList<double> w;
    for (int c = 0; c < 8; ++c)
        w.append(columnWidth(c));
    return w;
}

void ResultGrid::setColumnWidths(const QList<double>& widths)
{
    for (int c = 0; c < 8 && c < widths.size(); ++c)
        setColumnWidth(c, int(widths[c]));
}

void ResultGrid::showRow(int row)
{
    if (row >= 0 && row < m_model.rowCount())
        scrollTo(m_model.index(row, 0), QAbstractItemView::PositionAtTop);
}

QString ResultGrid::clipboardText() const
{
    return QString();
}

void ResultGrid::keyPressEvent(QKeyEvent* e) { QTableView::keyPressEvent(e); }

void ResultGrid::mouseDoubleClickEvent(QMouseEvent* e) { QTableView::mouseDoubleClickEvent(e); }

} // namespace velmor
