// Where the main window stands and how its panes are sized: the window
// state stored at the end and restored at the start, the window fitted to
// the screens there are, and the first start's split of the height.
#include "fmSync.h"
#include "WindowDesign.h"

#include "app/WinState.h"
#include "env/Usr.h"
#include "ui/ResultGrid.h"
#include "ui/WindowFit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace velmor {

using namespace design;

namespace {

void setFixedPaneSize(QWidget* pane, int width, int height)
{
    if (width > 0)
        pane->setFixedWidth(width);
    if (height > 0)
        pane->setFixedHeight(height);
}

} // namespace

void fmSync::WinStateLoad()
{
    const WinStateData d = LoadWinState();
    {
        BusyGuard busy;
        m_st.ApplyWinState(d);  // roots, display mode, linked mode, lbRoot, sFtpAp
    }
    // Panes still fixed by an earlier load would raise the window's minimum.
    releasePanes();
    if (d.width > 0 && d.height > 0)
        placeWindow(QRect(d.left / kTwipsPerPixel, d.top / kTwipsPerPixel, d.width / kTwipsPerPixel,
                          d.height / kTwipsPerPixel));
    else if (!isVisible())
        placeWindow({});  // the design size, on the primary screen
    // The tree panes hold their stored size until the window is first
    // activated, whatever the window's own size does meanwhile.
    m_splitPending = !isVisible() && !(d.dr1Wd > 300 && d.dirHi > 300);
    if (d.dr1Wd > 300 && d.dirHi > 300) {
        fixPanes(d.dr1Wd / kTwipsPerPixel, d.dr2Wd / kTwipsPerPixel, d.dirHi / kTwipsPerPixel);
        // Restored again after a task was deleted: no activation follows to
        // release them, so they are released once the layout has taken them.
        if (m_activated)
            QTimer::singleShot(0, this, [this] { releasePanes(); });
    }
    if (!d.clsWd.isEmpty())
        vSpr->setColumnWidths(parseColumnWidths(d.clsWd));
    showState();
}

QMargins fmSync::frameMargins() const
{
    const QRect inner = geometry();
    const QRect frame = frameGeometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

void fmSync::placeWindow(const QRect& stored)
{
    QList<QRect> areas;  // the primary screen first
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        areas.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != primary)
            areas.append(screen->availableGeometry());
    // The desktop draws the frame only once the window is shown: until then
    // room is left for a title bar and borders, so that the frame fits too.
    QMargins m = frameMargins();
    if (!isVisible()) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
        m = {border, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this), border, border};
    }
    QRect frame;
    QRect area;
    if (stored.isValid()) {
        frame = QRect(stored.topLeft(), stored.size().grownBy(m));
        area = screenAreaFor(frame, areas);
    } else {
        frame = QRect(QPoint(), size().grownBy(m));
        area = areas.value(0);
        frame.moveCenter(area.center());
    }
    const QRect fitted = fitFrame(frame, area, minimumSizeHint().grownBy(m));
    move(fitted.topLeft());
    resize(fitted.size().shrunkBy(m));
}

void fmSync::WinStateSave()
{
    WinStateData d;
    // The position of the frame and the size inside it, as they are
    // restored; a maximised or minimised window saves its normal place.
    const QRect normal = normalGeometry();
    const QMargins m = frameMargins();
    d.left = (normal.left() - m.left()) * kTwipsPerPixel;
    d.top = (normal.top() - m.top()) * kTwipsPerPixel;
    d.width = normal.width() * kTwipsPerPixel;
    d.height = normal.height() * kTwipsPerPixel;
    m_st.FillWinState(d);
    d.dr1Wd = pTr1->width() * kTwipsPerPixel;
    d.dr2Wd = pTr2->width() * kTwipsPerPixel;
    d.dirHi = pTr1->height() * kTwipsPerPixel;
    d.clsWd = columnWidthsText(vSpr->columnWidths());
    SaveWinState(d);  // a failure has been written to stderr; the window closes all the same
}

void fmSync::fixPanes(int width1, int width2, int height)
{
    setFixedPaneSize(pTr1, width1, height);
    setFixedPaneSize(pTr2, width2, 0);
    m_panesFixed = true;
    // A window smaller than the stored panes need (its stored size was
    // pulled onto a smaller screen): the panes give way, rather than the
    // window growing past the screen.
    Splitter->updateGeometry();  // the window's layout learns of the fixed panes now, shown or not
    const QSize excess = minimumSizeHint() - size();
    if (excess.width() <= 0 && excess.height() <= 0)
        return;
    const int least = kDesignTreeWidth / 3;  // a tree stays wide and tall enough to use
    const QList<int> widths =
        giveWay(width2 > 0 ? QList<int>{width1, width2} : QList<int>{width1}, excess.width(), least);
    setFixedPaneSize(pTr1, widths[0], giveWay({height}, excess.height(), least)[0]);
    setFixedPaneSize(pTr2, widths.value(1), 0);
    Splitter->updateGeometry();
}

void fmSync::splitFirstStart()
{
    // A laptop screen: the grid shows this many rows, the upper panel (its
    // options scroll) giving way down to its least height; a taller window
    // keeps the upper panel's design height and gives the rest to the grid.
    constexpr int kGridRowsFirst = 20;
    const QList<int> sizes = Splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int need = vSpr->heightForRows(kGridRowsFirst);
    const int top = std::max(std::min(kDesignTreeHeight + 80, total - need), Splitter->widget(0)->minimumSizeHint().height());
    Splitter->setSizes({top, total - top});
}

void fmSync::releasePanes()
{
    if (!m_panesFixed)
        return;
    m_panesFixed = false;
    // The splitters above the tree panes take the sizes that the fixed
    // panes gave them as their own: released, the panes keep their sizes
    // rather than falling back to the splitters' earlier ones.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QList<std::pair<QSplitter*, QList<int>>> held;
    for (QWidget* pane : {pTr1, pTr2}) {
        for (QWidget* w = pane->parentWidget(); w && w != this; w = w->parentWidget()) {
            auto* s = qobject_cast<QSplitter*>(w);
            if (s && std::none_of(held.cbegin(), held.cend(), [s](const auto& h) { return h.first == s; }))
                held.append({s, s->sizes()});
        }
    }
    for (QWidget* pane : {pTr1, pTr2}) {
        pane->setMinimumSize(0, 0);
        pane->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    for (const auto& [s, sizes] : held)
        s->setSizes(sizes);
}

} // namespace velmor
