#pragma once

#include <QColor>
#include <QWidget>

class QStyleOptionButton;

// A round indicator lamp of one colour that is either lit or dark, and can be flashed: lit now
// and put out again after a given time. Every state change repaints synchronously so that even a
// short flash is seen. Owned by its parent widget; GUI thread only; emits no signals.
class QLedWidget : public QWidget
{
    Q_OBJECT

public:
    explicit QLedWidget(QWidget *parent = nullptr);

    void setColor(const QColor &color);
    QColor color() const { return color_; }
    bool value() const { return value_; }
    int timerId() const { return timerId_; }

    // Draws the lamp into option->rect: lit when option->state holds State_On, in the colour of
    // the option palette's WindowText.
    static void drawLed(const QStyleOptionButton *option, QPainter *painter);

public slots:
    void setValue(bool value);
    void toggle();
    void flash(uint duration);

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool value_ = false;
    QColor color_;
    int timerId_ = -1;
};
