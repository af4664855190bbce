#include "statsview/histogramchart.h"

#include <QAreaSeries>
#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

QT_CHARTS_USE_NAMESPACE

namespace {

// More bins than this across the drawn stretch (twice the slot) would be thinner than a pixel or
// two; the delays themselves come in whole milliseconds, so 1 ms is the finest bin there is.
constexpr int kMostBins = 240;
const QColor kBars(0, 114, 178);
const QColor kBounds(200, 0, 0);

// The count axis's top: a tenth or more above the tallest bar, in steps of 1, 2 or 5 times a power
// of ten of about a fifth of it, so that it moves (and the chart lays its labels out anew) once in
// many answers, not with every one.
double tidyTop(uint64_t highest)
{
    const double least = double(highest) * 1.1;
    const double fifth = std::max(1.0, least / 5);
    const double magnitude = std::pow(10.0, std::floor(std::log10(fifth)));
    double step = 10 * magnitude;
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * magnitude >= fifth) {
            step = factor * magnitude;
            break;
        }
    }
    return std::ceil(least / step) * step;
}

void replaceIfChanged(QLineSeries *series, const QVector<QPointF> &points)
{
    if (series->pointsVector() != points)
        series->replace(points);
}

} // namespace

HistogramChart::HistogramChart(QWidget *parent)
    : QChartView(parent)
    , chart_(new QChart)
    , axisX_(new QValueAxis)
    , axisY_(new QValueAxis)
    , counts_(new QLineSeries)
    , bars_(new QAreaSeries(counts_))
    , lowerBound_(new QLineSeries)
    , upperBound_(new QLineSeries)
{
    counts_->setParent(bars_);
    QColor fill = kBars;
    fill.setAlpha(160);
    bars_->setBrush(fill);
    bars_->setPen(QPen(kBars, 1));
    bars_->setName(QStringLiteral("answers"));
    const QPen boundPen(kBounds, 2, Qt::DashLine);
    lowerBound_->setPen(boundPen);
    upperBound_->setPen(boundPen);
    lowerBound_->setName(QStringLiteral("slot bounds (both included)"));

    axisX_->setTitleText(QStringLiteral("Delay (ms)"));
    axisX_->setLabelFormat(QStringLiteral("%.0f"));
    axisY_->setTitleText(QStringLiteral("Answers"));
    axisY_->setLabelFormat(QStringLiteral("%.0f"));
    axisY_->setTickInterval(1);
    axisY_->setTickAnchor(0);
    axisY_->setTickType(QValueAxis::TicksDynamic);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    for (QAbstractSeries *series :
         std::initializer_list<QAbstractSeries *>{bars_, lowerBound_, upperBound_}) {
        chart_->addSeries(series);
        series->attachAxis(axisX_);
        series->attachAxis(axisY_);
    }
    for (QLegendMarker *marker : chart_->legend()->markers(upperBound_))
        marker->setVisible(false);
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    // The view came with a default chart of its own, which it gives up, not deletes, when replaced.
    QChart *placeholder = chart();
    setChart(chart_);
    delete placeholder;
    setRenderHint(QPainter::Antialiasing);
    showNothing();
}

int HistogramChart::binWidth(uint32_t slotDuration)
{
    return std::max(1, int(std::ceil(2.0 * slotDuration / kMostBins)));
}

void HistogramChart::showNothing()
{
    chart_->setTitle(QStringLiteral("Delays of the selected node"));
    counts_->clear();
    lowerBound_->clear();
    upperBound_->clear();
    axisX_->setRange(0, 100);
    axisY_->setRange(0, 1);
}

void HistogramChart::show(uint8_t node, const std::map<int32_t, uint64_t> &counts,
                          uint32_t slotLower, uint32_t slotUpper)
{
    const int slot = int(slotUpper - slotLower);
    const int bin = binWidth(uint32_t(slot));
    // Half a slot each side shows the early and late answers next to it. Bins are centred on
    // whole milliseconds, so that an answer at a bound falls on the bound's own side.
    const int first = int(slotLower) - slot / 2;
    const int bins = (2 * slot + bin) / bin;
    const int last = first + bins * bin - 1;

    std::vector<uint64_t> binned(size_t(bins), 0);
    uint64_t before = 0, after = 0;
    for (const auto &entry : counts) {
        if (entry.first < first)
            before += entry.second;
        else if (entry.first > last)
            after += entry.second;
        else
            binned[size_t((entry.first - first) / bin)] += entry.second;
    }

    QVector<QPointF> steps;
    steps.reserve(2 * bins + 2);
    uint64_t highest = 1;
    for (int i = 0; i < bins; ++i) {
        const double left = first + i * bin - 0.5;
        steps << QPointF(left, double(binned[size_t(i)]))
              << QPointF(left + bin, double(binned[size_t(i)]));
        highest = std::max(highest, binned[size_t(i)]);
    }
    // Every change below repaints or lays out the chart: only what differs is handed over.
    replaceIfChanged(counts_, steps);
    const double top = tidyTop(highest);
    replaceIfChanged(lowerBound_, QVector<QPointF>{{slotLower - 0.5, 0}, {slotLower - 0.5, top}});
    replaceIfChanged(upperBound_, QVector<QPointF>{{slotUpper + 0.5, 0}, {slotUpper + 0.5, top}});
    if (axisX_->min() != first - 0.5 || axisX_->max() != last + 0.5)
        axisX_->setRange(first - 0.5, last + 0.5);
    if (axisY_->max() != top || axisY_->min() != 0) {
        axisY_->setTickInterval(std::max(1.0, std::ceil(top / 6)));
        axisY_->setRange(0, top);
    }
    const QString binText = QStringLiteral("Delay (ms), %1 ms bins").arg(bin);
    if (axisX_->titleText() != binText)
        axisX_->setTitleText(binText);

    // The dashed lines are the slot's bounds.
    QString title = QStringLiteral("Node %1, slot %2-%3 ms (dashed)")
                            .arg(node)
                            .arg(slotLower)
                            .arg(slotUpper);
    if (before || after)
        title += QStringLiteral("; off the axis: %1 before, %2 after").arg(before).arg(after);
    if (chart_->title() != title)
        chart_->setTitle(title);
}
