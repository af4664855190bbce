#pragma once

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QImage>
#include <QPalette>

#include <algorithm>
#include <cstdlib>

const QColor kBackground(255, 255, 255); // Window and Base
const QColor kMid(0, 0, 0);              // Mid and ButtonText: axis, outlines
const QColor kHighlight(0, 160, 0);
const QColor kMidlight(0, 0, 255);
const QColor kHighlightedText(255, 255, 0);

// A palette whose every colour tells one drawn element apart, and a fixed font, since the
// offscreen platform's default one differs from a desktop's.
inline void useTestLook()
{
    QPalette palette;
    for (auto role : {QPalette::Window, QPalette::Base})
        palette.setColor(role, kBackground);
    for (auto role : {QPalette::Mid, QPalette::ButtonText})
        palette.setColor(role, kMid);
    palette.setColor(QPalette::Highlight, kHighlight);
    palette.setColor(QPalette::Midlight, kMidlight);
    palette.setColor(QPalette::HighlightedText, kHighlightedText);
    QApplication::setPalette(palette);
    QApplication::setFont(QFont("DejaVu Sans", 9));
}

// Counts the paint events a widget receives; synchronous repaints are counted at once.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QObject *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

inline int colorDistance(QColor a, QColor b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

// Bounding box of the pixels whose colour satisfies `accept`; null when there are none.
template<typename Predicate>
QRect boundsWhere(const QImage &image, Predicate accept)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (accept(image.pixelColor(x, y)))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

inline QRect boundsOf(const QImage &image, QColor color, int tolerance = 0)
{
    return boundsWhere(image, [&](QColor c) { return colorDistance(c, color) <= tolerance; });
}

inline bool isBlank(const QImage &image)
{
    return !boundsWhere(image, [](QColor c) { return c != kBackground; }).isValid();
}

inline QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject *object)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(object);
}
