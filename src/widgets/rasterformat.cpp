#include "widgets/rasterformat.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>

QImage::Format rasterTargetFormat(const QPainter &painter)
{
    const QPaintEngine *engine = painter.paintEngine();
    const QPaintDevice *target = engine ? engine->paintDevice() : nullptr;
    if (!target || engine->type() != QPaintEngine::Raster)
        return QImage::Format_Invalid;
    if (target->devType() == QInternal::Image)
        return static_cast<const QImage *>(target)->format();
    if (target->devType() == QInternal::Pixmap)
        return static_cast<const QPixmap *>(target)->hasAlphaChannel()
                       ? QImage::Format_ARGB32_Premultiplied
                       : QImage::Format_RGB32;
    return QImage::Format_Invalid;
}
