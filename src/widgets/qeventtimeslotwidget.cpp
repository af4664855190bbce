#include "widgets/qeventtimeslotwidget.h"

#include "widgets/qeventtimeslotwidgetdatasource.h"
#include "widgets/rasterformat.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>
#include <QTimerEvent>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr int kTickInterval = 33;
constexpr int kMargin = 25;

// Slot boundaries are computed in 64 bits so that a data source with an absurd slot count cannot
// overflow i * W.
int slotX(int i, int axisLength, int count)
{
    return static_cast<int>(static_cast<qint64>(i) * axisLength / count);
}

// The solid colour under a widget that paints no background of its own: the one the nearest
// ancestor that fills its background (the window at last) paints there. The widget's own palette
// must agree, since a grab of the widget alone fills with that. Invalid when there is no such
// single colour.
QColor backgroundUnder(const QWidget *widget)
{
    const QWidget *filler = widget;
    while (filler && !filler->isWindow() && !filler->autoFillBackground())
        filler = filler->parentWidget();
    if (!filler || widget->autoFillBackground())
        return QColor();
    const QBrush &fill = filler->palette().brush(filler->backgroundRole());
    if (fill.style() != Qt::SolidPattern || fill.color().alpha() != 255
        || widget->palette().brush(widget->backgroundRole()) != fill)
        return QColor();
    return fill.color();
}

// The pixels a mark can touch, on the device: its pointer, its box with the box's outline and a
// label wider than the box, and a pixel for antialiasing. Empty for a mark that is not drawn.
QRect markBounds(const QEventTimeslotWidgetEvent &event, int axisLength,
                 const QTransform &transform)
{
    if (!(event.position >= 0.0 && event.position <= 1.0))
        return QRect();
    const double x = static_cast<double>(axisLength) * event.position;
    return transform.mapRect(QRectF(x - 16.0, -2.0, 32.0, 36.0))
            .toAlignedRect()
            .adjusted(-1, -1, 1, 1);
}

// Copies the pixels of one picture into another of the same size and format without making a
// new one: a fresh image for every cycle costs the kernel's page faults, up to a few tenths of a
// millisecond in a paint that the next MPDU may be waiting for.
void copyPixels(const QImage &from, QImage &to)
{
    if (to.size() != from.size() || to.format() != from.format()
        || to.bytesPerLine() != from.bytesPerLine()) {
        to = from.copy();
        return;
    }
    std::memcpy(to.bits(), from.constBits(), size_t(from.sizeInBytes()));
}

} // namespace

QEventTimeslotWidget::QEventTimeslotWidget(QWidget *parent)
    : QWidget(parent)
{
    setFixedHeight(44);
    setMinimumWidth(300);
}

void QEventTimeslotWidget::setDatasource(QEventTimeslotWidgetDatasource *source)
{
    datasource_ = source;
}

void QEventTimeslotWidget::startTimeCursor(int totalTime)
{
    if (!datasource_)
        return;
    totalTime_ = totalTime;
    elapsedTime_ = 0;
    // This paint comes between a cycle's start and its beacon, so it should be short. Over a
    // solid background the widget paints every pixel itself, and what lies beneath need not be
    // painted first.
    setAttribute(Qt::WA_OpaquePaintEvent, backgroundUnder(this).isValid());
    repaint();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (timerId_ != -1)
        killTimer(timerId_);
    timerId_ = startTimer(kTickInterval, Qt::CoarseTimer);
}

void QEventTimeslotWidget::timerEvent(QTimerEvent *)
{
    // Saturate rather than wrap: a cycle close to INT_MAX ms must still end.
    const qint64 elapsed = static_cast<qint64>(elapsedTime_) + kTickInterval;
    elapsedTime_ = static_cast<int>(qMin<qint64>(elapsed, INT_MAX));
    if (elapsed >= totalTime_) {
        totalTime_ = 0;
        elapsedTime_ = 0;
        killTimer(timerId_);
        timerId_ = -1;
    }
    repaint();
}

void QEventTimeslotWidget::paintEvent(QPaintEvent *)
{
    if (!datasource_)
        return;

    QPainter painter(this);
    QFont font = painter.font();
    font.setPointSize(7);
    painter.setFont(font);
    painter.translate(kMargin, 2.0);

    const int w = width() - 2 * kMargin;
    const int n = datasource_->timeslotCount();
    const QList<QEventTimeslotWidgetEvent> events = datasource_->events();
    if (paintPicture(painter, w, n, events))
        return;
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        painter.save();
        painter.resetTransform();
        painter.fillRect(rect(), backgroundUnder(this));
        painter.restore();
    }
    paintScale(painter, w, n);
    paintCursor(painter, w);
    paintMarks(painter, w, events, 0);
}

void QEventTimeslotWidget::paintScale(QPainter &painter, int axisLength, int slotCount)
{
    const int w = axisLength;
    const int n = slotCount;
    painter.setPen(QPen(palette().mid(), 1.0));
    painter.drawLine(0, 30, w, 30);
    painter.drawLine(0, 25, 0, 35);
    painter.drawLine(w, 25, w, 35);

    for (int i = 1; i < n; ++i) {
        const int x = slotX(i, w, n);
        painter.drawLine(x, 28, x, 32);
    }
    if (n > 0) {
        const QTextOption centred(Qt::AlignCenter);
        const int cellWidth = w / n;
        for (int i = 0; i < n; ++i) {
            const QRectF cell(slotX(i, w, n), 32.0, cellWidth, 8.0);
            painter.drawText(cell, QString("%1").arg(i), centred);
        }
    }
}

int QEventTimeslotWidget::cursorLength(int axisLength) const
{
    if (totalTime_ == 0)
        return -1;
    const double fraction = static_cast<double>(elapsedTime_) / totalTime_;
    return static_cast<int>(axisLength * fraction);
}

void QEventTimeslotWidget::paintCursor(QPainter &painter, int axisLength)
{
    const int length = cursorLength(axisLength);
    if (length == -1)
        return;
    painter.setPen(QPen(QBrush(palette().color(QPalette::Highlight), Qt::SolidPattern), 2.0,
                        Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
    painter.drawLine(0, 30, length, 30);
}

void QEventTimeslotWidget::paintMarks(QPainter &painter, int axisLength,
                                      const QList<QEventTimeslotWidgetEvent> &events, int from,
                                      const std::vector<bool> *only)
{
    const int w = axisLength;
    QFont font = painter.font();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    font.setWeight(75);
    font.setPointSize(8);
    painter.setFont(font);

    QPainterPath pointer;
    pointer.moveTo(0.0, 42.0);
    pointer.lineTo(4.33, 28.0);
    pointer.lineTo(-4.33, 28.0);
    pointer.closeSubpath();
    const QRectF box(-10.0, 10.0, 20.0, 20.0);
    const QTextOption centred(Qt::AlignCenter);

    for (int i = from; i < events.size(); ++i) {
        if (only && !(*only)[size_t(i)])
            continue;
        const QEventTimeslotWidgetEvent &event = events.at(i);
        // Written so that NaN fails the test as well.
        if (!(event.position >= 0.0 && event.position <= 1.0))
            continue;
        painter.save();
        painter.translate(static_cast<double>(w) * event.position, -10.0);
        painter.setBrush(event.color.isValid() ? QBrush(event.color, Qt::SolidPattern)
                                               : palette().highlight());
        painter.drawPath(pointer);
        painter.setPen(QColor(Qt::white));
        painter.drawRoundedRect(box, 5.0, 5.0, Qt::AbsoluteSize);
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(box, event.label, centred);
        painter.restore();
    }
}

// Puts the whole timeline in place from a picture painted on the colour that lies under the
// widget and in the pixel format of the target, so that it gives the very pixels of painting in
// place (no shape crosses the widget's edge, where a clip would rasterise it along another road).
// The picture is kept: its scale while the size and palette stay, its cursor until the next
// animation step, and its marks while the data source repeats them, so that an MPDU that adds a
// mark at the end costs one mark. False, with nothing painted, where a picture cannot promise that.
bool QEventTimeslotWidget::paintPicture(QPainter &painter, int axisLength, int slotCount,
                                        const QList<QEventTimeslotWidgetEvent> &events)
{
    const QColor background = backgroundUnder(this);
    const QImage::Format format = rasterTargetFormat(painter);
    const QPaintDevice *device = painter.device();
    static const int imageDpi = QImage(1, 1, QImage::Format_RGB32).logicalDpiY();
    if (!background.isValid() || format == QImage::Format_Invalid || !device
        || device->devicePixelRatioF() != 1.0 || device->logicalDpiY() != imageDpi
        || painter.opacity() != 1.0
        || painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;

    const QPalette &colours = palette();
    const QString scaleKey = QString::number(width()) + QLatin1Char('x') + QString::number(height())
                             + QLatin1Char(':') + QString::number(axisLength) + QLatin1Char(':')
                             + QString::number(slotCount) + QLatin1Char(':')
                             + QString::number(colours.mid().color().rgba()) + QLatin1Char(':')
                             + QString::number(colours.mid().style()) + QLatin1Char(':')
                             + QString::number(background.rgba()) + QLatin1Char(':')
                             + QString::number(int(format)) + QLatin1Char(':')
                             + QString::number(int(painter.renderHints())) + QLatin1Char(':')
                             + painter.font().key();
    const auto setUp = [&](QPainter &picture) {
        picture.setRenderHints(painter.renderHints());
        picture.setFont(painter.font());
        picture.setTransform(painter.worldTransform());
    };
    if (scaleKey != scaleKey_) {
        scalePicture_ = QImage(size(), format);
        scalePicture_.fill(background);
        QPainter picture(&scalePicture_);
        setUp(picture);
        paintScale(picture, axisLength, slotCount);
        scaleKey_ = scaleKey;
        pictureKey_.clear();
    }

    const QString key = scaleKey + QLatin1Char(':')
                        + QString::number(colours.highlight().color().rgba()) + QLatin1Char(':')
                        + QString::number(colours.highlight().style()) + QLatin1Char(':')
                        + QString::number(colours.color(QPalette::HighlightedText).rgba());
    const int cursor = cursorLength(axisLength);
    int drawn = int(marksDrawn_.size());
    const auto same = [](const QEventTimeslotWidgetEvent &a, const QEventTimeslotWidgetEvent &b) {
        return a.position == b.position && a.label == b.label && a.color == b.color;
    };
    const bool extends
            = key == pictureKey_ && events.size() >= drawn
              && std::equal(marksDrawn_.begin(), marksDrawn_.end(), events.begin(), same);
    // A cursor that only grows can be drawn again over itself with the very same pixels when it
    // covers whole pixels in one opaque colour; then only the marks around its new part are
    // painted again.
    const QTransform &transform = painter.worldTransform();
    const bool cursorGrows
            = extends && cursor > cursorDrawn_ && !(painter.renderHints() & QPainter::Antialiasing)
              && transform.type() <= QTransform::TxTranslate
              && transform.dx() == int(transform.dx()) && transform.dy() == int(transform.dy())
              && palette().color(QPalette::Highlight).alpha() == 255;
    const bool redrawn = !extends || (cursor != cursorDrawn_ && !cursorGrows);
    if (redrawn && events.isEmpty()) {
        // Only the scale and the cursor, as at a cycle's start: put straight on the device. The
        // other pictures are made again when a paint needs them.
        painter.save();
        painter.resetTransform();
        painter.drawImage(0, 0, scalePicture_);
        painter.restore();
        paintCursor(painter, axisLength);
        pictureKey_.clear();
        return true;
    }
    if (redrawn) {
        copyPixels(scalePicture_, cursorPicture_);
        QPainter picture(&cursorPicture_);
        setUp(picture);
        paintCursor(picture, axisLength);
        picture.end();
        copyPixels(cursorPicture_, picture_);
        cursorDrawn_ = cursor;
        marksDrawn_.clear();
        drawn = 0;
    } else if (cursorGrows) {
        QPainter underMarks(&cursorPicture_);
        setUp(underMarks);
        paintCursor(underMarks, axisLength);
        underMarks.end();
        // The cursor's new part, then every mark that touches what is to be painted again, until
        // no other mark does: the marks outside keep their pixels, those inside are painted in
        // their order on the cursor, as a whole picture would have them.
        QRect again = transform
                              .mapRect(QRectF(std::max(cursorDrawn_, 0), 28.0,
                                              cursor - std::max(cursorDrawn_, 0), 4.0))
                              .toAlignedRect()
                              .adjusted(-1, -1, 1, 1);
        std::vector<QRect> bounds;
        bounds.reserve(size_t(marksDrawn_.size()));
        for (const QEventTimeslotWidgetEvent &mark : qAsConst(marksDrawn_))
            bounds.push_back(markBounds(mark, axisLength, transform));
        std::vector<bool> repainted(bounds.size(), false);
        for (bool grew = true; grew;) {
            grew = false;
            for (size_t i = 0; i < bounds.size(); ++i) {
                if (!repainted[i] && bounds[i].intersects(again)) {
                    repainted[i] = true;
                    again |= bounds[i];
                    grew = true;
                }
            }
        }
        QPainter picture(&picture_);
        picture.setCompositionMode(QPainter::CompositionMode_Source);
        picture.drawImage(again, cursorPicture_, again);
        picture.setCompositionMode(QPainter::CompositionMode_SourceOver);
        setUp(picture);
        paintMarks(picture, axisLength, marksDrawn_, 0, &repainted);
        cursorDrawn_ = cursor;
    }
    if (drawn < events.size()) {
        QPainter picture(&picture_);
        setUp(picture);
        paintMarks(picture, axisLength, events, drawn);
    }
    marksDrawn_ = events;
    pictureKey_ = key;
    painter.save();
    painter.resetTransform();
    painter.drawImage(0, 0, picture_);
    painter.restore();
    return true;
}
