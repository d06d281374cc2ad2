#pragma once
// The program's icon: two folders, the source above and the destination
// below, joined by an arrow. Drawn with QPainter so that the window icon and
// the PNG files installed with the program come from one drawing (the SVG
// in data/ repeats the same shapes).
#include <QIcon>
#include <QImage>

class QPainter;

namespace velmor {

// Paints the icon into the square 0,0 .. size,size.
void PaintAppIcon(QPainter& p, int size);
// The icon as an image of size x size pixels (transparent outside the shape).
QImage AppIconImage(int size);
// The icon in the usual sizes.
QIcon AppIcon();

} // namespace velmor
