#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QEventTimeslotWidgetDatasource;

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
    bool paintScalePicture(QPainter &painter, int axisLength, int slotCount);

    QEventTimeslotWidgetDatasource *datasource_ = nullptr;
    int timerId_ = -1;
    int totalTime_ = 0;
    int elapsedTime_ = 0;
    // The axis, ticks and slot numbers as last painted, with what they were painted for: the
    // widget repaints for every MPDU and every animation step, and they rarely change.
    QImage scalePicture_;
    QString scaleKey_;
};
