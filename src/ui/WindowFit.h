#pragma once
// Where a top-level window goes on the desktop: rectangle arithmetic in
// pixels, in the desktop's coordinates, free of widgets. A frame rectangle
// is the window with its title bar and borders; an area is a screen's
// available geometry (the screen less its panels).
#include <QList>
#include <QRect>

namespace velmor {

// The area that holds the largest part of `frame`; the first area (the
// primary screen) when none holds any of it. An empty rectangle when there
// are no areas.
QRect screenAreaFor(const QRect& frame, const QList<QRect>& areas);

// `frame` pulled onto `area`: its size held within the area's but never
// below `minimum`, then moved the least distance that puts it inside the
// area. A frame that cannot fit (its minimum is larger than the area) keeps
// its top-left corner at the area's. An empty area leaves `frame` as it is.
QRect fitFrame(const QRect& frame, const QRect& area, const QSize& minimum);

// `sizes` made `excess` smaller in all, each in proportion to its size, but
// none below `least` (so they may give way by less); unchanged when the
// excess is 0 or less.
QList<int> giveWay(const QList<int>& sizes, int excess, int least);

} // namespace velmor
