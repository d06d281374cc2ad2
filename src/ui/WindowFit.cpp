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

QList<int> giveWay(const QList<int>& sizes, int excess, int least)
{
    qint64 total = 0;
    for (int s : sizes)
        total += s;
    if (excess <= 0 || total <= 0)
        return sizes;
    QList<int> shrunk;
    qint64 given = 0, seen = 0;
    for (int s : sizes) {
        // Cumulative shares, so that the parts add up to the excess exactly.
        seen += s;
        const qint64 share = qMin<qint64>(excess, total) * seen / total - given;
        given += share;
        shrunk.append(qMax(least, int(s - share)));
    }
    return shrunk;
}

} // namespace velmor
