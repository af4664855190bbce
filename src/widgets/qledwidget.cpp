#include "widgets/qledwidget.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

QLedWidget::QLedWidget(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(32, 32);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    color_ = QGuiApplication::palette().brush(QPalette::Highlight).color();
}

void QLedWidget::setColor(const QColor &color)
{
    if (color == color_)
        return;
    color_ = color;
    repaint();
}

void QLedWidget::setValue(bool value)
{
    if (value == value_)
        return;
    value_ = value;
    repaint();
}

void QLedWidget::toggle()
{
    value_ = !value_;
    repaint();
}

void QLedWidget::flash(uint duration)
{
    if (!value_) {
        value_ = true;
        repaint();
    }
    if (timerId_ != -1)
        killTimer(timerId_);
    // A timer interval is a signed int; a longer flash simply lasts as long as a timer can.
    const int interval = static_cast<int>(std::min<uint>(duration, INT_MAX));
    timerId_ = startTimer(interval, Qt::CoarseTimer);
}

void QLedWidget::timerEvent(QTimerEvent *event)
{
    if (value_) {
        value_ = false;
        repaint();
    }
    killTimer(event->timerId());
    timerId_ = -1;
}

void QLedWidget::paintEvent(QPaintEvent *)
{
    QStyleOptionButton option;
    option.rect = contentsRect();
    option.palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(color_, Qt::SolidPattern));
    option.state = QStyle::State_Enabled | (value_ ? QStyle::State_On : QStyle::State_Off);
    QPainter painter(this);
    drawLed(&option, &painter);
}

void QLedWidget::drawLed(const QStyleOptionButton *option, QPainter *painter)
{
    const QRect &rect = option->rect;
    const bool on = option->state & QStyle::State_On;

    painter->save();
    const int r = std::min(rect.height() / 2, rect.width() / 2);
    const int cx = (rect.left() + rect.right()) / 2;
    const int cy = (rect.top() + rect.bottom()) / 2;
    const QColor lamp = option->palette.color(QPalette::WindowText);
    painter->setRenderHint(QPainter::Antialiasing);

    const QColor rim = option->palette.color(QPalette::Base).darker(400);
    painter->setPen(QPen(QBrush(rim, Qt::SolidPattern), r / 100.0, Qt::SolidLine, Qt::SquareCap,
                         Qt::BevelJoin));
    painter->setBrush(QBrush(on ? lamp.darker(200) : lamp.darker(300), Qt::SolidPattern));
    painter->drawEllipse(QRect(cx - r, cy - r, 2 * r, 2 * r));

    const int r2 = static_cast<int>(r * 0.85);
    const QColor dome = on ? lamp.darker(120) : lamp.darker(300);
    painter->setPen(Qt::NoPen);
    QLinearGradient shade(0.0, 0.0, 0.0, static_cast<int>(2 * r2));
    shade.setColorAt(0.0, dome.lighter(100));
    shade.setColorAt(1.0, dome.lighter(150));
    painter->setBrush(shade);
    painter->drawEllipse(QRect(cx - r2, cy - r2, 2 * r2, 2 * r2));

    if (!on && !(option->features & QStyleOptionButton::Flat)) {
        const int glareTop = cy - r2 / 2;
        QLinearGradient glare(cx, glareTop, cx, glareTop + r2 / 3 - 1);
        glare.setColorAt(0.0, QColor(255, 255, 255, 20));
        glare.setColorAt(1.0, QColor(255, 255, 255, 80));
        painter->setBrush(glare);
        painter->setCompositionMode(QPainter::CompositionMode_SoftLight);
        painter->drawEllipse(
                QRectF(cx - r2 / 1.5, cy - r2 / 2.5 - r2 / 3.0, 2 * (r2 / 1.5), 2 * (r2 / 3.0)));
    }
    painter->restore();
}
