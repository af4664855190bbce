#include "widgets/qeventtimeslotwidget.h"

#include "widgets/qeventtimeslotwidgetdatasource.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextOption>
#include <QTimerEvent>

#include <climits>

namespace {

constexpr int kTickInterval = 33;
constexpr int kMargin = 25;

// Slot boundaries are computed in 64 bits so that a data source with an absurd slot count cannot
// overflow i * W.
int slotX(int i, int axisLength, int count)
{
    return static_cast<int>(static_cast<qint64>(i) * axisLength / count);
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
    repaint();
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

    if (totalTime_ != 0) {
        const double fraction = static_cast<double>(elapsedTime_) / totalTime_;
        painter.setPen(QPen(QBrush(palette().color(QPalette::Highlight), Qt::SolidPattern), 2.0,
                            Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
        painter.drawLine(0, 30, static_cast<int>(w * fraction), 30);
    }

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

    const QList<QEventTimeslotWidgetEvent> events = datasource_->events();
    for (const QEventTimeslotWidgetEvent &event : events) {
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
