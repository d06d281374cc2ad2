#include "ui/ResultGrid.h"

#include "env/Reasons.h"

#include <QColor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyleOptionHeader>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

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
constexpr int kStatusColumn = 7;  // column 8, 0-based
constexpr int kResultColumn = 11; // column 12, 0-based

// Where the digits of a date text "yy/MM/dd hh:mm" are.
constexpr int kDateDigits[] = {0, 1, 3, 4, 6, 7, 9, 10, 12, 13};

// yyMMddhhmm as yyyyMMddhhmm, with the years 70-99 in the 1900s and 00-69 in
// the 2000s.
long long withCentury(long long yyMMddhhmm)
{
    const long long yy = yyMMddhhmm / 100'000'000;
    return yyMMddhhmm + (yy >= 70 ? 1900 : 2000) * 100'000'000LL;
}

// Sort key of a date text: yyyyMMddhhmm; -1 for an empty or other text.
long long dateKey(const QString& text)
{
    if (text.size() != 14)
        return -1;
    long long key = 0;
    for (int i : kDateDigits) {
        const int d = text[i].digitValue();
        if (d < 0 || d > 9)
            return -1;
        key = key * 10 + d;
    }
    return withCentury(key);
}

// The same from a cell: a date cell's digits are read without making a text.
long long dateKey(CellText cell)
{
    char text[14];
    if (!cell.dateText(text))
        return dateKey(cell.toString());
    long long key = 0;
    for (int i : kDateDigits)
        key = key * 10 + (text[i] - '0');
    return withCentury(key);
}

} // namespace

// --- model -----------------------------------------------------------------

ResultGridModel::ResultGridModel(ResultTable& table, QObject* parent) : QAbstractTableModel(parent), m_table(table) {}

int ResultGridModel::tableRow(int view) const
{
    if (m_order.empty())
        return view >= 0 ? view : -1;
    return view >= 0 && size_t(view) < m_order.size() ? m_order[size_t(view)] : -1;
}

int ResultGridModel::viewRow(int row) const
{
    if (m_viewOf.empty())
        return row >= 0 ? row : -1;
    return row >= 0 && size_t(row) < m_viewOf.size() ? m_viewOf[size_t(row)] : -1;
}

void ResultGridModel::reset()
{
    const bool wasSorted = m_sortColumn >= 0;
    beginResetModel();
    m_sortColumn = -1;
    m_sortOrder = Qt::AscendingOrder;
    m_order.clear();
    m_viewOf.clear();
    endResetModel();
    if (wasSorted)
        emit sortChanged(-1, Qt::AscendingOrder);
}

void ResultGridModel::rowsChanged(int first, int last)
{
    first = qMax(first, 0);
    last = qMin(last, rowCount() - 1);
    if (first > last)
        return;
    // Sorted, the rows lie anywhere in the view; a range only repaints what is on screen.
    if (!m_order.empty()) {
        first = 0;
        last = rowCount() - 1;
    }
    emit dataChanged(index(first, 0), index(last, kColumns - 1));
}

bool ResultGridModel::showsMove(int row) const
{
    const ResultRow& r = m_table.row(row);
    return r.flag == kFlagDone ? r.result == kMoved : m_table.movePartner(row) >= 0;
}

bool ResultGridModel::toggleFlag(int row)
{
    if (row < 0 || row >= m_table.rowCount())
        return false;
    CellText& flag = m_table.row(row).flag;
    if (flag != kFlagDo && flag != kFlagOff)
        return false;
    flag = flag == kFlagDo ? kFlagOff : kFlagDo;
    // The partner of a move shows whether the pair still moves.
    const int partner = m_table.rowOfNumber(m_table.row(row).moveNo());
    for (const int r : {row, partner}) {
        const int view = r < 0 ? -1 : viewRow(r);
        if (view >= 0 && view < rowCount())
            emit dataChanged(index(view, kFlagColumn), index(view, kResultColumn), {Qt::DisplayRole, Qt::ToolTipRole});
    }
    return true;
}

void ResultGridModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kColumns)
        column = -1;
    if (column == m_sortColumn && (column < 0 || order == m_sortOrder))
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> rows;
    rows.reserve(size_t(before.size()));
    for (const QModelIndex& i : before)
        rows.push_back(tableRow(i.row()));
    m_sortColumn = column;
    m_sortOrder = order;
    buildOrder();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype k = 0; k < before.size(); ++k) {
        const int view = viewRow(rows[size_t(k)]);
        after.append(view >= 0 && view < rowCount() ? index(view, before[k].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    emit sortChanged(column, order);
}

void ResultGridModel::buildOrder()
{
    m_order.clear();
    m_viewOf.clear();
    if (m_sortColumn < 0)
        return;
    const std::vector<ResultRow>& rows = m_table.rows();
    m_order.resize(rows.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    const auto sortBy = [this](const auto& keys) {
        if (m_sortOrder == Qt::AscendingOrder)
            std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
        else
            std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) { return keys[size_t(b)] < keys[size_t(a)]; });
    };
    const auto numbers = [&](auto key) {
        std::vector<long long> keys;
        keys.reserve(rows.size());
        for (const ResultRow& r : rows)
            keys.push_back(key(r));
        sortBy(keys);
    };
    switch (m_sortColumn) {
    case 0:
        numbers([](const ResultRow& r) { return r.no; });
        break;
    case 4:
        numbers([](const ResultRow& r) { return r.s1; });
        break;
    case 8:
        numbers([](const ResultRow& r) { return r.s2; });
        break;
    case 5:
        numbers([](const ResultRow& r) { return dateKey(r.u1); });
        break;
    case 9:
        numbers([](const ResultRow& r) { return dateKey(r.u2); });
        break;
    default: {
        std::vector<QString> keys;
        keys.reserve(rows.size());
        for (const ResultRow& r : rows)
            keys.push_back(r.text(m_sortColumn + 1));
        sortBy(keys);
    }
    }
    m_viewOf.resize(m_order.size());
    for (size_t v = 0; v < m_order.size(); ++v)
        m_viewOf[size_t(m_order[v])] = int(v);
}

int ResultGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_table.rowCount(); }

int ResultGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant ResultGridModel::data(const QModelIndex& index, int role) const
{
    // The table may shrink before the view hears of it (reset follows the refill).
    const int r = index.isValid() ? tableRow(index.row()) : -1;
    if (r < 0 || r >= m_table.rowCount() || index.column() >= kColumns)
        return {};
    const ResultRow& row = m_table.row(r);
    switch (role) {
    case Qt::DisplayRole:
        // A move whose flags were cleared is an ordinary copy and deletion again.
        if (index.column() == kResultColumn && row.result == kMoved && !showsMove(r))
            return QString();
        return row.text(index.column() + 1);
    case Qt::ForegroundRole:
        if (index.column() == kResultColumn && row.red)
            return QColor(255, 0, 0);
        return {};
    case Qt::ToolTipRole:
        // A failure's reason is the result's; what the comparison found is
        // also the status's. Both in the window's language.
        if ((index.column() == kResultColumn || (index.column() == kStatusColumn && !row.red)) && !row.why().isEmpty())
            return ReasonJa(row.why());
        if ((index.column() == kResultColumn || index.column() == kStatusColumn) && showsMove(r))
            return row.moveText();
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
    setSectionsClickable(true);  // a click sorts the view
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

void ResultGridHeader::paintCell(QPainter* painter, const QRect& rect, int logicalIndex, const QString& text,
                                 bool own) const
{
    QStyleOptionHeader opt;
    initStyleOptionForIndex(&opt, logicalIndex);
    opt.rect = rect;
    opt.text = text;
    opt.textAlignment = Qt::AlignCenter;
    // As QHeaderView draws it: ascending is the style's "down" arrow.
    opt.sortIndicator = !own || !isSortIndicatorShown() || sortIndicatorSection() != logicalIndex
                            ? QStyleOptionHeader::None
                            : sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortDown
                                                                         : QStyleOptionHeader::SortUp;
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
}

void ResultGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    const auto [first, span] = upperSpan(logicalIndex);
    const QString lower = lowerCaption(logicalIndex);
    if (span == 1 && lower.isEmpty()) {
        paintCell(painter, rect, logicalIndex, upperCaption(logicalIndex), true);
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
    paintCell(painter, upper, first, upperCaption(logicalIndex), false);
    paintCell(painter, lowerRect, logicalIndex, lower, true);
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
    scaleColumns(0, 1.0);
    // A column the user drags is the user's: the grid no longer sizes them
    // (the last one, which the header stretches to the edge, is nobody's).
    connect(m_header, &QHeaderView::sectionResized, this, [this](int logical) {
        if (!m_sizing && !(logical == ResultGridModel::kColumns - 1 && m_header->stretchLastSection()))
            m_fitToWidth = false;
    });

    // Header clicks cycle ascending, descending, the comparison's order; the
    // view's sort calls the model's sort. A refill clears the indicator.
    m_header->setSortIndicatorClearable(true);
    m_header->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    connect(&m_model, &ResultGridModel::sortChanged, this, [this](int column, Qt::SortOrder order) {
        if (m_header->sortIndicatorSection() != column)
            m_header->setSortIndicator(column, order);
        emit sortChanged(column, order);
    });
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

void ResultGrid::scaleColumns(int from, double scale)
{
    const QScopedValueRollback sizing(m_sizing, true);
    const int least = fontMetrics().horizontalAdvance(QStringLiteral("000")) + 8;
    for (int c = from; c < ResultGridModel::kColumns; ++c)
        setColumnWidth(c, std::max(least, int(kDesignWidths[size_t(c)] * std::min(scale, 1.0))));
}

void ResultGrid::resizeEvent(QResizeEvent* e)
{
    QTableView::resizeEvent(e);
    if (!m_fitToWidth)
        return;
    // Room is kept for the vertical scroll bar, which comes with the rows.
    const QScrollBar* bar = verticalScrollBar();
    const int room = viewport()->width() - (bar->isVisible() ? 0 : bar->sizeHint().width());
    const int design = std::accumulate(kDesignWidths.begin(), kDesignWidths.end(), 0);
    scaleColumns(0, double(room) / design);
}

int ResultGrid::heightForRows(int rows) const
{
    return horizontalHeader()->sizeHint().height() + rows * verticalHeader()->defaultSectionSize() + 2 * frameWidth();
}

void ResultGrid::setColumnWidths(const QList<double>& widths)
{
    // The design widths as stored by a window that never sized a column
    // are no choice of the user's.
    bool asDesigned = widths.size() >= 8;
    for (int c = 0; c < 8 && c < widths.size(); ++c)
        asDesigned = asDesigned && widths[c] == kDesignWidths[size_t(c)];
    if (asDesigned)
        return;
    m_fitToWidth = false;
    double stored = 0, design = 0;
    for (int c = 0; c < 8 && c < widths.size(); ++c) {
        const double w = widths[c];
        if (std::isfinite(w) && w > 0) {
            setColumnWidth(c, int(std::lround(qMin(w, kMaxColumnWidth))));
            stored += columnWidth(c);
            design += kDesignWidths[size_t(c)];
        }
    }
    if (design > 0)
        scaleColumns(8, stored / design);
}

void ResultGrid::showRow(int row)
{
    const int view = m_model.viewRow(row);
    if (view < 0 || view >= m_model.rowCount())
        return;
    // Only the rows move; the columns stay where the user scrolled them.
    const int visual = verticalHeader()->visualIndex(view);
    verticalScrollBar()->setValue(verticalScrollMode() == QAbstractItemView::ScrollPerItem
                                      ? visual
                                      : verticalHeader()->sectionPosition(view));
}

bool ResultGrid::goToFailed(bool forward)
{
    const int n = m_model.rowCount();
    const ResultTable& rows = m_model.table();
    const int from = currentIndex().isValid() ? currentIndex().row() : (forward ? -1 : n);
    for (int k = 1; k <= n; ++k) {
        const int view = ((from + (forward ? k : -k)) % n + n) % n;
        const int row = m_model.tableRow(view);
        if (row >= 0 && rows.row(row).red) {
            const int column = currentIndex().isValid() ? currentIndex().column() : ResultGridModel::kColumns - 1;
            setCurrentIndex(m_model.index(view, column));
            scrollTo(currentIndex());
            return true;
        }
    }
    return false;
}

QString ResultGrid::clipboardText() const
{
    QString text;
    const ResultTable& table = m_model.table();
    for (int r = 0; r < table.rowCount(); ++r) {
        const ResultRow& row = table.row(r);
        const bool move = m_model.showsMove(r);
        for (int c = 1; c <= ResultGridModel::kColumns; ++c) {
            if (c > 1)
                text += QLatin1Char('\t');
            if (c != ResultGridModel::kColumns || row.result != kMoved || move)
                text += row.text(c);
        }
        if (!row.why().isEmpty())
            text += QLatin1Char('\t') + ReasonJa(row.why());
        else if (move)
            text += QLatin1Char('\t') + row.moveText();
        text += QLatin1String("\r\n");
    }
    return text;
}

void ResultGrid::toggleRow(int view)
{
    const int row = m_model.tableRow(view);
    if (m_model.toggleFlag(row))
        emit flagToggled(row);
}

void ResultGrid::moveToRow(int view)
{
    if (view < 0 || view >= m_model.rowCount())
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    // Setting the current cell scrolls it into view both ways; the columns go
    // back to where they were, so column 1 stays in sight.
    const int x = horizontalScrollBar()->value();
    setCurrentIndex(m_model.index(view, column));
    horizontalScrollBar()->setValue(x);
}

void ResultGrid::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier) {
        if (currentIndex().isValid())
            toggleRow(currentIndex().row());
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Home || e->key() == Qt::Key_End) && e->modifiers() == Qt::ControlModifier) {
        moveToRow(e->key() == Qt::Key_Home ? 0 : m_model.rowCount() - 1);
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
