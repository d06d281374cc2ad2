#include "ui/WindowFit.h"

#include <QtGlobal>

namespace velmor {

QRect screenAreaFor(const QRect& frame, const QList<QRect>& areas)
{
    if (areas.isEmpty())
        return {};
    QRect best = areas.first();
    qint64 bestShare = 0;
    for (const QRect& area : areas) {
        const QRect common = area.intersected(frame);
        const qint64 share = qint64(common.width()) * common.height();
        if (share > bestShare) {
            best = area;
            bestShare = share;
        }
    }
    return best;
}

QRect fitFrame(const QRect& frame, const QRect& area, const QSize& minimum)
{
    if (area.isEmpty())
        return frame;
    const QSize size = frame.size().boundedTo(area.size()).expandedTo(minimum);
    // The corner's range within the area; a frame wider or taller than the
    // area starts at the area's edge.
    const auto place = [](int at, int extent, int areaStart, int areaExtent) {
        return qMax(areaStart, qMin(at, areaStart + areaExtent - extent));
    };
    return {place(frame.x(), size.width(), area.x(), area.width()),
            place(frame.y(), size.height(), area.y(), area.height()), size.width(), size.height()};
}

} // namespace velmor
