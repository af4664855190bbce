#include "statsview/histogramchart.h"

#include <QChart>
#include <QGraphicsItem>
#include <QLineSeries>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
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
// What the antialiased 1 px edge of a bar can reach beyond its rectangle.
constexpr qreal kEdgeReach = 2;
// Where the chart would put a series of its own: above the grid and the axes' lines, and below
// the bounds' series, so that the dashed lines stay on top of the bars.
constexpr qreal kBarsZ = 3.5;

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

// The bars, over the plot area. Child of the chart; the chart view tells it where it changed.
class HistogramBars : public QGraphicsItem
{
public:
    HistogramBars(const HistogramChart &view, QGraphicsItem *parent)
        : QGraphicsItem(parent)
        , view_(view)
    {
        setAcceptedMouseButtons(Qt::NoButton);
        setFlag(ItemUsesExtendedStyleOption);
        setZValue(kBarsZ);
        QColor fill = kBars;
        fill.setAlpha(160);
        brush_ = fill;
    }

    const QRectF &plot() const { return plot_; }
    void setPlot(const QRectF &plot)
    {
        if (plot == plot_)
            return;
        prepareGeometryChange();
        plot_ = plot;
        update();
    }

    QRectF boundingRect() const override
    {
        return plot_.adjusted(-kEdgeReach, -kEdgeReach, kEdgeReach, kEdgeReach);
    }

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *) override
    {
        painter->setPen(QPen(kBars, 1));
        painter->setBrush(brush_);
        // Only the bars in the repainted stretch: usually the one that grew and its neighbours.
        const QRectF exposed = option->exposedRect;
        for (size_t i = 0; i < view_.binned_.size(); ++i) {
            if (view_.binned_[i] == 0)
                continue;
            const QRectF bar = view_.barRect(i, view_.binned_[i]);
            if (bar.adjusted(-kEdgeReach, -kEdgeReach, kEdgeReach, kEdgeReach).intersects(exposed))
                painter->drawRect(bar);
        }
    }

private:
    const HistogramChart &view_;
    QRectF plot_;
    QBrush brush_;
};

HistogramChart::HistogramChart(QWidget *parent)
    : QChartView(parent)
    , chart_(new QChart)
    , axisX_(new QValueAxis)
    , axisY_(new QValueAxis)
    , lowerBound_(new QLineSeries)
    , upperBound_(new QLineSeries)
    , bars_(nullptr)
{
    const QPen boundPen(kBounds, 2, Qt::DashLine);
    lowerBound_->setPen(boundPen);
    upperBound_->setPen(boundPen);

    axisX_->setTitleText(QStringLiteral("Delay (ms)"));
    axisX_->setLabelFormat(QStringLiteral("%.0f"));
    axisY_->setTitleText(QStringLiteral("Answers"));
    axisY_->setLabelFormat(QStringLiteral("%.0f"));
    axisY_->setTickInterval(1);
    axisY_->setTickAnchor(0);
    axisY_->setTickType(QValueAxis::TicksDynamic);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    for (QLineSeries *series : {lowerBound_, upperBound_}) {
        chart_->addSeries(series);
        series->attachAxis(axisX_);
        series->attachAxis(axisY_);
    }
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    // The view came with a default chart of its own, which it gives up, not deletes, when replaced.
    QChart *placeholder = chart();
    setChart(chart_);
    delete placeholder;
    bars_ = new HistogramBars(*this, chart_);
    connect(chart_, &QChart::plotAreaChanged, this,
            [this](const QRectF &plot) { bars_->setPlot(plot); });
    setRenderHint(QPainter::Antialiasing);
    showNothing();
}

int HistogramChart::binWidth(uint32_t slotDuration)
{
    return std::max(1, int(std::ceil(2.0 * slotDuration / kMostBins)));
}

QRectF HistogramChart::barRect(size_t index, uint64_t count) const
{
    const QRectF &plot = bars_->plot();
    const double left = firstEdge_ + double(index) * bin_;
    const double xScale = plot.width() / (xMax_ - xMin_);
    const double height = plot.height() * std::min(double(count) / top_, 1.0);
    return QRectF(plot.left() + (left - xMin_) * xScale, plot.bottom() - height, bin_ * xScale,
                  height);
}

// Whatever moves the axes repaints the whole chart, bars included.
void HistogramChart::setRanges(double xMin, double xMax, double top)
{
    if (axisX_->min() != xMin || axisX_->max() != xMax)
        axisX_->setRange(xMin, xMax);
    if (axisY_->max() != top || axisY_->min() != 0) {
        axisY_->setTickInterval(std::max(1.0, std::ceil(top / 6)));
        axisY_->setRange(0, top);
    }
    if (xMin_ == xMin && xMax_ == xMax && top_ == top)
        return;
    xMin_ = xMin;
    xMax_ = xMax;
    top_ = top;
    bars_->update();
}

void HistogramChart::showNothing()
{
    chart_->setTitle(QStringLiteral("Delays of the selected node"));
    binned_.clear();
    lowerBound_->clear();
    upperBound_->clear();
    setRanges(0, 100, 1);
    bars_->update();
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
    uint64_t highest = 1;
    for (uint64_t answers : binned)
        highest = std::max(highest, answers);
    const double top = tidyTop(highest);

    // Every change to the chart below repaints or lays it out: only what differs is handed over.
    const bool sameBins = firstEdge_ == first - 0.5 && bin_ == bin
                          && binned_.size() == binned.size() && xMin_ == firstEdge_ && top_ == top;
    if (sameBins) {
        // The bars that changed, each as far up as the taller of its old and new self.
        for (size_t i = 0; i < binned.size(); ++i) {
            if (binned[i] != binned_[i]) {
                bars_->update(barRect(i, std::max(binned[i], binned_[i]))
                                      .adjusted(-kEdgeReach, -kEdgeReach, kEdgeReach, kEdgeReach));
            }
        }
        binned_.swap(binned);
    } else {
        binned_.swap(binned);
        firstEdge_ = first - 0.5;
        bin_ = bin;
        setRanges(first - 0.5, last + 0.5, top);
        bars_->update();
    }
    replaceIfChanged(lowerBound_, QVector<QPointF>{{slotLower - 0.5, 0}, {slotLower - 0.5, top}});
    replaceIfChanged(upperBound_, QVector<QPointF>{{slotUpper + 0.5, 0}, {slotUpper + 0.5, top}});
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
