#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace velmor {

namespace {

// A folder: its tab on the upper left, its body below (64-unit grid).
void folder(QPainter& p, const QRectF& body, const QColor& fill)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);  // the tab and the body make one outline
    path.addRoundedRect(QRectF(body.left(), body.top() - 4, body.width() * 0.42, 8), 1.5, 1.5);
    path.addRoundedRect(body, 2.5, 2.5);
    p.setPen(QPen(QColor(0x1D, 0x3F, 0x66), 1.2));
    p.setBrush(fill);
    p.drawPath(path.simplified());
}

} // namespace

void PaintAppIcon(QPainter& p, int size)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2F, 0x6F, 0xB5));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    folder(p, QRectF(8, 13, 28, 19), QColor(0xF6, 0xC4, 0x53));   // source
    folder(p, QRectF(28, 37, 28, 19), QColor(0x9B, 0xD3, 0x6A));  // destination

    // The one-way arrow from the source down to the destination.
    QPainterPath arc;
    arc.moveTo(16, 35);
    arc.quadTo(16, 46, 22, 46);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(21, 40), QPointF(28, 46), QPointF(21, 52)}));
    p.restore();
}

QImage AppIconImage(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    PaintAppIcon(p, size);
    p.end();
    return img;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(s)));
    return icon;
}

} // namespace velmor
