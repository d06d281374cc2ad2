#include "ui/ResultGrid.h"

#include <QColor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>

#include <array>
#include <cmath>

namespace velmor {

namespace {

// Captions of columns 1 to 12: upper row, lower row.
const std::array<const char16_t*, ResultGridModel::kColumns> kUpper = {
    u"", u"ﾊﾟｽ", u"ﾌｧｲﾙ名", u"拡張子", u"同期元", u"同期元", u"処理", u"処理", u"同期先", u"同期先", u"属性", u"確認"};
const std::array<const char16_t*, ResultGridModel::kColumns> kLower = {
    u"", u"", u"", u"", u"ｻｲｽﾞ", u"更新日", u"", u"", u"ｻｲｽﾞ", u"更新日", u"", u""};

// Design widths of columns 1 to 12 in pixels.
constexpr std::array<int, ResultGridModel::kColumns> kDesignWidths = {56, 220, 160, 56, 90, 110, 40, 56, 90, 110, 44, 90};

// Widths above this are damage, not a layout the user made.
constexpr double kMaxColumnWidth = 10000;

constexpr int kFlagColumn = 6;    // column 7, 0-based
constexpr int kResultColumn = 11; // column 12, 0-based

} // namespace

// --- model -----------------------------------------------------------------

ResultGridModel::ResultGridModel(ResultTable& table, QObject* parent) : QAbstractTableModel(parent), m_table(table) {}

void ResultGridModel::reset()
{
    beginResetModel();
    endResetModel();
}

void ResultGridModel::rowsChanged(int first, int last)
{
    first = qMax(first, 0);
    last = qMin(last, rowCount() - 1);
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, kColumns - 1));
}

bool ResultGridModel::toggleFlag(int row)
{
    if (row < 0 || row >= m_table.rowCount())
        return false;
    QString& flag = m_table.row(row).flag;
    if (flag != QLatin1String("1") && flag != QLatin1String("0"))
        return false;
    flag = flag == QLatin1String("1") ? QStringLiteral("0") : QStringLiteral("1");
    const QModelIndex i = index(row, kFlagColumn);
    emit dataChanged(i, i, {Qt::DisplayRole});
    return true;
}

int ResultGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_table.rowCount(); }

int ResultGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant ResultGridModel::data(const QModelIndex& index, int role) const
{
    // The table may shrink before the view hears of it (reset follows the refill).
    if (!index.isValid() || index.row() >= m_table.rowCount() || index.column() >= kColumns)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_table.row(index.row()).text(index.column() + 1);
    case Qt::ForegroundRole:
        if (index.column() == kResultColumn && m_table.row(index.row()).red)
            return QColor(255, 0, 0);
        return {};
    case Qt::TextAlignmentRole:
        switch (index.column()) {
        case 0:
        case 4:
        case 8:
            return int(Qt::AlignRight | Qt::AlignVCenter);
        case kFlagColumn:
            return int(Qt::AlignCenter);
        default:
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    default:
        return {};
    }
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || section < 0 || section >= kColumns)
        return QAbstractTableModel::headerData(section, o, role);
    if (role == Qt::DisplayRole)
        return QString::fromUtf16(kUpper[size_t(section)]);
    if (role == LowerCaptionRole)
        return QString::fromUtf16(kLower[size_t(section)]);
    return {};
}

// --- header ----------------------------------------------------------------

ResultGridHeader::ResultGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignCenter);
    // A resize moves the shared upper cell's caption over both of its columns.
    connect(this, &QHeaderView::sectionResized, viewport(), qOverload<>(&QWidget::update));
}

QString ResultGridHeader::upperCaption(int logical) const
{
    return model() ? model()->headerData(logical, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
}

QString ResultGridHeader::lowerCaption(int logical) const
{
    return model() ? model()->headerData(logical, Qt::Horizontal, ResultGridModel::LowerCaptionRole).toString()
                   : QString();
}

std::pair<int, int> ResultGridHeader::upperSpan(int logical) const
{
    const QString caption = upperCaption(logical);
    if (caption.isEmpty())
        return {logical, 1};
    int first = logical;
    while (first > 0 && upperCaption(first - 1) == caption)
        --first;
    int last = logical;
    while (last + 1 < count() && upperCaption(last + 1) == caption)
        ++last;
    return {first, last - first + 1};
}

QSize ResultGridHeader::sizeHint() const
{
    QSize s = QHeaderView::sizeHint();
    s.setHeight(s.height() * 2);
    return s;
}

void ResultGridHeader::paintCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text) const
{
    QStyleOptionHeader opt;
    initStyleOptionForIndex(&opt, logicalIndex);
    opt.rect = rect;
    opt.text = text;
    opt.textAlignment = Qt::AlignCenter;
    opt.sortIndicator = QStyleOptionHeader::None;
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
}

void ResultGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    const auto [first, span] = upperSpan(logicalIndex);
    const QString lower = lowerCaption(logicalIndex);
    if (span == 1 && lower.isEmpty()) {
        paintCell(painter, rect, logicalIndex, upperCaption(logicalIndex));
        return;
    }
    // Each column of a pair paints the whole shared upper cell, so it is
    // complete whichever of the two is repainted.
    const int upperHeight = rect.height() / 2;
    int width = 0;
    for (int c = first; c < first + span; ++c)
        width += sectionSize(c);
    const QRect upper(sectionViewportPosition(first), rect.top(), width, upperHeight);
    const QRect lowerRect(rect.left(), rect.top() + upperHeight, rect.width(), rect.height() - upperHeight);
    paintCell(painter, upper, first, upperCaption(logicalIndex));
    paintCell(painter, lowerRect, logicalIndex, lower);
}

// --- view ------------------------------------------------------------------

ResultGrid::ResultGrid(ResultTable& table, QWidget* parent)
    : QTableView(parent), m_model(table), m_header(new ResultGridHeader(this))
{
    setHorizontalHeader(m_header);
    setModel(&m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);

    // Uniform row heights that never ask the rows for their size: a fill of
    // 100,000 rows costs only what is on screen.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    m_header->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < ResultGridModel::kColumns; ++c)
        setColumnWidth(c, kDesignWidths[size_t(c)]);
}

ResultGridModel& ResultGrid::gridModel() { return m_model; }

ResultGridHeader* ResultGrid::twoRowHeader() const { return m_header; }

QList<double> ResultGrid::columnWidths() const
{
    QList<double> w;
    for (int c = 0; c < 8; ++c)
        w.append(columnWidth(c));
    return w;
}

void ResultGrid::setColumnWidths(const QList<double>& widths)
{
    for (int c = 0; c < 8 && c < widths.size(); ++c) {
        const double w = widths[c];
        if (std::isfinite(w) && w > 0)
            setColumnWidth(c, int(std::lround(qMin(w, kMaxColumnWidth))));
    }
}

void ResultGrid::showRow(int row)
{
    if (row < 0 || row >= m_model.rowCount())
        return;
    // Only the rows move; the columns stay where the user scrolled them.
    const int visual = verticalHeader()->visualIndex(row);
    verticalScrollBar()->setValue(verticalScrollMode() == QAbstractItemView::ScrollPerItem
                                      ? visual
                                      : verticalHeader()->sectionPosition(row));
}

QString ResultGrid::clipboardText() const
{
    QString text;
    const int rows = m_model.rowCount();
    const int columns = m_model.columnCount();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                text += QLatin1Char('\t');
            text += m_model.data(m_model.index(r, c), Qt::DisplayRole).toString();
        }
        text += QLatin1String("\r\n");
    }
    return text;
}

void ResultGrid::toggleRow(int row)
{
    if (m_model.toggleFlag(row))
        emit flagToggled(row);
}

void ResultGrid::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier) {
        if (currentIndex().isValid())
            toggleRow(currentIndex().row());
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

void ResultGrid::mouseDoubleClickEvent(QMouseEvent* e)
{
    QTableView::mouseDoubleClickEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    const QModelIndex i = indexAt(e->position().toPoint());
    if (i.isValid())
        toggleRow(i.row());
}

} // namespace velmor
