#pragma once

#include <QStyleOptionButton>
#include <QWidget>

// One bit per element of a five-way joystick; a reported state is any combination of them.
// Unscoped so that states combine with | and read as plain unsigned bit sets.
enum QJoystickWidgetPosition : quint32 {
    Neutral = 1,
    Left = 2,
    Right = 4,
    Up = 8,
    Down = 16,
    Center = 32,
};

// What drawJoystick needs: the rectangle and palette of the button option and the state to show.
class QJoystickWidgetStyleOption : public QStyleOptionButton
{
public:
    unsigned int position = Neutral;
};

// The picture of a five-way joystick: four arrows around a centre disc, each highlighted while
// its bit is set. drawJoystick is shared with the node table's joystick cells. Owned by its
// parent widget; GUI thread only; emits no signals.
class QJoystickWidget : public QWidget
{
    Q_OBJECT

public:
    explicit QJoystickWidget(QWidget *parent = nullptr);

    QJoystickWidgetPosition position() const { return position_; }

    // Draws the picture, keeping its aspect ratio, centred in option->rect less 2 pixels on every
    // side. widget may be null.
    static void drawJoystick(const QJoystickWidgetStyleOption *option, QPainter *painter,
                             const QWidget *widget);

public slots:
    void setPosition(QJoystickWidgetPosition position);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QJoystickWidgetPosition position_ = Neutral;
};
