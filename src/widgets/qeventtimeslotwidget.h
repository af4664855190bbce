#pragma once

#include "widgets/qeventtimeslotwidgetdatasource.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

#include <vector>

// A thin timeline of one network cycle: the axis split into the cycle's slots with their numbers,
// a cursor that runs along the axis for one cycle after each beacon, and one mark per node that
// answered. Everything it shows comes from a data source that it does not own and that must
// outlive it. Created and owned by its parent widget; GUI thread only; emits no signals.
class QEventTimeslotWidget : public QWidget
{
    Q_OBJECT

public:
    explicit QEventTimeslotWidget(QWidget *parent = nullptr);

    void setDatasource(QEventTimeslotWidgetDatasource *source);
    QEventTimeslotWidgetDatasource *datasource() const { return datasource_; }

    int timerId() const { return timerId_; }
    int totalTime() const { return totalTime_; }
    int elapsedTime() const { return elapsedTime_; }

public slots:
    void startTimeCursor(int totalTime);

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void paintScale(QPainter &painter, int axisLength, int slotCount);
    // The cursor's length in pixels; -1 while no cursor is shown.
    int cursorLength(int axisLength) const;
    void paintCursor(QPainter &painter, int axisLength);
    // Paints the marks from index `from` on, or those that `only` picks.
    void paintMarks(QPainter &painter, int axisLength,
                    const QList<QEventTimeslotWidgetEvent> &events, int from,
                    const std::vector<bool> *only = nullptr);
    bool paintPicture(QPainter &painter, int axisLength, int slotCount,
                      const QList<QEventTimeslotWidgetEvent> &events);

    QEventTimeslotWidgetDatasource *datasource_ = nullptr;
    int timerId_ = -1;
    int totalTime_ = 0;
    int elapsedTime_ = 0;
    // What was last painted, with what it was painted for: the widget repaints for every MPDU
    // and every animation step, and the scale rarely changes, the marks mostly grow by one.
    QImage scalePicture_;
    QString scaleKey_;
    QImage cursorPicture_; // the scale with the cursor
    QImage picture_;       // ... and the marks
    QString pictureKey_;
    int cursorDrawn_ = -1;
    QList<QEventTimeslotWidgetEvent> marksDrawn_;
};
