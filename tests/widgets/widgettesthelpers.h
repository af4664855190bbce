#pragma once

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRect>

#include <algorithm>
#include <cstdlib>

// Counts the paint events a widget receives; synchronous repaints are counted at once.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QObject *watched) { watched->installEventFilter(this); }

    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Largest channel difference, ignoring alpha.
inline int colorDistance(QColor a, QColor b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

inline QColor pixelAt(const QImage &image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

// Bounding box of the pixels within `tolerance` of `color`; null when there are none.
inline QRect boundsOf(const QImage &image, QColor color, int tolerance = 0)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (colorDistance(pixelAt(image, x, y), color) <= tolerance)
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}
