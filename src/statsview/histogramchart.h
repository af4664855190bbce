#pragma once

#include <QChartView>

#include <cstdint>
#include <map>
#include <vector>

QT_CHARTS_BEGIN_NAMESPACE
class QLineSeries;
class QValueAxis;
QT_CHARTS_END_NAMESPACE

class HistogramBars;

// How often each delay came from one node, around its slot: 1 ms bins (wider ones when the slot is
// so long that the bins would be too narrow to see), the slot's bounds as dashed lines, the
// answers beyond the drawn stretch counted in the title. Qt Charts draws the axes, the title and
// the bounds; the bars are one item of our own over the plot area, because an area series makes
// the chart repaint its whole plot area whenever one count grows, and that is once per cycle. A
// new answer repaints only the bar it fell in; the axes move (and everything is repainted) only
// when the slot changes or the tallest bar nears the top. GUI thread.
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
    friend class HistogramBars;

    // Where the bar of bin `index` with `count` answers is drawn, in chart coordinates.
    QRectF barRect(size_t index, uint64_t count) const;
    void setRanges(double xMin, double xMax, double top);

    QtCharts::QChart *chart_;
    QtCharts::QValueAxis *axisX_;
    QtCharts::QValueAxis *axisY_;
    QtCharts::QLineSeries *lowerBound_;
    QtCharts::QLineSeries *upperBound_;
    HistogramBars *bars_;
    // The answers per bin, the first bin's left edge in ms and the bins' width.
    std::vector<uint64_t> binned_;
    double firstEdge_ = 0;
    int bin_ = 1;
    // The axes' ranges as last set, which the bars are drawn against.
    double xMin_ = 0;
    double xMax_ = 100;
    double top_ = 1;
};
