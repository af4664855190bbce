#pragma once

#include <QImage>

class QPainter;

// The pixel format the painter really draws in, or Format_Invalid when it does not draw into an
// image or pixmap through the raster engine. Blending rounds differently from one format to
// another, so a cached picture must be made in the format of the pixels it will be put on.
QImage::Format rasterTargetFormat(const QPainter &painter);
