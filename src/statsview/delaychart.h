#pragma once

#include "gateway/runstatistics.h"
#include "statsview/delaychartdata.h"

#include <QChartView>
#include <QColor>
#include <QVector>

#include <cstdint>

QT_CHARTS_BEGIN_NAMESPACE
class QAreaSeries;
class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

// The delay of every answer of a few nodes, cycle by cycle, over each node's slot drawn as a
// band: a point outside its band was early or late (drawn as a large square), a silent cycle
// leaves a gap. It follows the whole run until the user zooms (wheel, drag across, +/-) or pans
// (Shift+wheel, arrow keys); showWholeRun() follows again. Its series hold only what the visible
// stretch needs, at most two points per pixel column and kind, so that a refresh costs the
// chart's width, not the run's length. Reads the run statistics it is given; GUI thread.
class DelayChart : public QtCharts::QChartView
{
    Q_OBJECT

public:
    static constexpr int kMaxNodes = 8;

    explicit DelayChart(const RunStatistics &run, QWidget *parent = nullptr);

    // The nodes to draw, at most kMaxNodes (the rest is ignored).
    void setNodes(const QVector<uint8_t> &nodes);
    const QVector<uint8_t> &nodes() const { return nodes_; }
    // Takes in what the run learnt since the last call.
    void refresh();

    bool isFollowing() const { return following_; }
    double visibleFrom() const { return from_; }
    double visibleTo() const { return to_; }
    // The cycles the run has judged so far, as the axis spans them (cycle ± 0.5).
    double runFrom() const;
    double runTo() const;
    void showWholeRun();
    void showCycles(double from, double to);
    void zoom(double factor, double aroundCycle);
    void pan(double cycles);

    static QColor nodeColor(int index);
    // What a point of the node at about this cycle and delay stands for, in words.
    QString describe(uint8_t node, double cycle, double delay) const;

signals:
    // The visible stretch or the run's extent changed (for a scroll bar).
    void viewChanged();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Shown
    {
        uint8_t node = 0;
        QtCharts::QAreaSeries *band = nullptr;
        QtCharts::QLineSeries *lower = nullptr;
        QtCharts::QLineSeries *upper = nullptr;
        QtCharts::QScatterSeries *inSlot = nullptr;
        QtCharts::QScatterSeries *outOfSlot = nullptr;
    };

    void rebuildSeries();
    void updateRange();
    void updateSlotAxis(double low, double high);
    void axisRangeChanged(double min, double max);
    void showPointTip(uint8_t node, const QPointF &point, bool entering);
    int columnCount() const;

    const RunStatistics &run_;
    QtCharts::QChart *chart_;
    QtCharts::QValueAxis *axisX_;
    QtCharts::QValueAxis *axisY_;
    QtCharts::QCategoryAxis *slotAxis_;
    QtCharts::QLineSeries *slotAxisAnchor_;
    QVector<uint8_t> nodes_;
    QVector<Shown> shown_;
    bool following_ = true;
    double from_ = 0;
    double to_ = 10;
    double yLow_ = 0;
    double yHigh_ = 100;
    // Set while this class moves the axes itself, so that only the user's zoom leaves following.
    bool settingRange_ = false;
    uint64_t generation_ = 0;
};
