#pragma once

#include <QChartView>

#include <cstdint>
#include <map>

QT_CHARTS_BEGIN_NAMESPACE
class QAreaSeries;
class QLineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

// How often each delay came from one node, around its slot: 1 ms bins (wider ones when the slot is
// so long that the bins would be too narrow to see), the slot's bounds as dashed lines, the
// answers beyond the drawn stretch counted in the title. GUI thread.
class HistogramChart : public QtCharts::QChartView
{
    Q_OBJECT

public:
    explicit HistogramChart(QWidget *parent = nullptr);

    // The node, its delay counts (ms to answers) and its slot.
    void show(uint8_t node, const std::map<int32_t, uint64_t> &counts, uint32_t slotLower,
              uint32_t slotUpper);
    void showNothing();

    // The width of one bin for a slot duration, in ms.
    static int binWidth(uint32_t slotDuration);

private:
    QtCharts::QChart *chart_;
    QtCharts::QValueAxis *axisX_;
    QtCharts::QValueAxis *axisY_;
    QtCharts::QLineSeries *counts_;
    QtCharts::QAreaSeries *bars_;
    QtCharts::QLineSeries *lowerBound_;
    QtCharts::QLineSeries *upperBound_;
};
