#include "widgets/qjoystickwidget.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

// The picture is designed in a 64 x 64 square.
constexpr double kDesignSize = 64.0;

QPainterPath upArrow()
{
    QPainterPath path;
    path.moveTo(32.5, -0.15);
    path.lineTo(21.39, 17.3);
    path.cubicTo(24.46, 15.01, 28.27, 13.65, 32.39, 13.65);
    path.cubicTo(36.71, 13.65, 40.67, 15.13, 43.81, 17.62);
    path.lineTo(32.5, -0.15);
    path.closeSubpath();
    return path;
}

QPainterPath rightArrow()
{
    QPainterPath path;
    path.moveTo(46.85, 20.66);
    path.cubicTo(49.33, 23.8, 50.81, 27.76, 50.81, 32.07);
    path.cubicTo(50.81, 36.22, 49.44, 40.05, 47.12, 43.13);
    path.lineTo(64.63, 31.98);
    path.lineTo(46.85, 20.66);
    path.closeSubpath();
    return path;
}

QPainterPath leftArrow()
{
    QPainterPath path;
    path.moveTo(17.72, 20.93);
    path.lineTo(0.37, 31.98);
    path.lineTo(17.47, 42.87);
    path.cubicTo(15.27, 39.83, 13.98, 36.81, 13.98, 32.07);
    path.cubicTo(13.98, 27.88, 15.37, 24.02, 17.72, 20.93);
    path.closeSubpath();
    return path;
}

QPainterPath downArrow()
{
    QPainterPath path;
    path.moveTo(43.59, 46.69);
    path.cubicTo(40.49, 49.07, 36.6, 50.48, 32.39, 50.48);
    path.cubicTo(28.36, 50.48, 24.64, 49.19, 21.61, 47.0);
    path.lineTo(32.5, 64.11);
    path.lineTo(43.59, 46.69);
    path.closeSubpath();
    return path;
}

} // namespace

QJoystickWidget::QJoystickWidget(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(48, 48);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void QJoystickWidget::setPosition(QJoystickWidgetPosition position)
{
    if (position == position_)
        return;
    position_ = position;
    repaint();
}

void QJoystickWidget::paintEvent(QPaintEvent *)
{
    QJoystickWidgetStyleOption option;
    option.rect = contentsRect();
    option.state = QStyle::State_Enabled;
    option.position = position_;
    QPainter painter(this);
    drawJoystick(&option, &painter, this);
}

void QJoystickWidget::drawJoystick(const QJoystickWidgetStyleOption *option, QPainter *painter,
                                   const QWidget *)
{
    const QRect &rect = option->rect;
    const double scale
            = std::min((rect.width() - 4) / kDesignSize, (rect.height() - 4) / kDesignSize);
    // A rectangle too small for the margins would mirror the picture around its centre and
    // spill it outside the rectangle.
    if (scale <= 0.0)
        return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.left() + rect.width() / 2, rect.top() + rect.height() / 2);
    painter->scale(scale, scale);
    painter->translate(-kDesignSize / 2, -kDesignSize / 2);

    const QPalette &palette = option->palette;
    painter->setPen(QPen(QBrush(palette.color(QPalette::ButtonText), Qt::SolidPattern), 1.0,
                         Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    const auto fillFor = [&](QJoystickWidgetPosition bit) {
        painter->setBrush(
                palette.brush(option->position & bit ? QPalette::Highlight : QPalette::Midlight));
    };

    fillFor(Up);
    painter->drawPath(upArrow());
    fillFor(Right);
    painter->drawPath(rightArrow());
    fillFor(Left);
    painter->drawPath(leftArrow());
    fillFor(Down);
    painter->drawPath(downArrow());
    fillFor(Center);
    painter->drawEllipse(QRect(19, 19, 26, 26));

    painter->restore();
}
