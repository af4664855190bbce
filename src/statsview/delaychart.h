#pragma once

#include "gateway/runstatistics.h"
#include "statsview/delaychartdata.h"

#include <QChartView>
#include <QColor>
#include <QImage>
#include <QRectF>
#include <QVector>

#include <cstdint>

QT_CHARTS_BEGIN_NAMESPACE
class QAreaSeries;
class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

class DelayPointLayer;

// The delay of every answer of a few nodes, cycle by cycle, over each node's slot drawn as a
// band: a point outside its band was early or late (drawn as a large square), a silent cycle
// leaves a gap. It follows the whole run until the user zooms (wheel, drag across, +/-) or pans
// (Shift+wheel, arrow keys); showWholeRun() follows again. Qt Charts draws the axes, bands and
// legend; the points are stamped onto two kept pictures (answers in slot, then early or late ones
// above them) in one item, because Qt Charts makes a graphics item of every scatter point and
// repaints them all whenever one is added. A refresh stamps only the answers that are new since
// the last one and repaints where they landed; the pictures are made anew only when the axes,
// the plot area or the nodes change, at most one point per pixel and kind. Reads the run
// statistics it is given; GUI thread.
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
    // The answer drawn nearest to a point of the chart (its scene coordinates), in words; empty
    // when no point is drawn there.
    QString describeAt(const QPointF &scenePos) const;

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
        // Empty: the node's entry in the legend, and the look of its points.
        QtCharts::QScatterSeries *key = nullptr;
        QImage inSlotMark;
        QImage outOfSlotMark;
        // The node's samples that are on the pictures, or were outside the stretch.
        size_t samplesDrawn = 0;
    };
    // What the pictures were drawn for; any change redraws them.
    struct PointView
    {
        double from = 0, to = 0, yLow = 0, yHigh = 0;
        QRectF plot;
        qreal pixelRatio = 0;
        uint64_t generation = 0;
        bool operator==(const PointView &o) const
        {
            return from == o.from && to == o.to && yLow == o.yLow && yHigh == o.yHigh
                   && plot == o.plot && pixelRatio == o.pixelRatio && generation == o.generation;
        }
    };

    void rebuildSeries();
    void drawPoints();
    void redrawAllPoints(const PointView &view);
    QPointF positionOf(const PointView &view, double cycle, double delay) const;
    void updateRange();
    void updateSlotAxis(double low, double high);
    void axisRangeChanged(double min, double max);

    const RunStatistics &run_;
    QtCharts::QChart *chart_;
    QtCharts::QValueAxis *axisX_;
    QtCharts::QValueAxis *axisY_;
    QtCharts::QCategoryAxis *slotAxis_;
    QtCharts::QLineSeries *slotAxisAnchor_;
    DelayPointLayer *points_;
    PointView pointView_;
    bool pointsStale_ = true;
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
