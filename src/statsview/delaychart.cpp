#include "statsview/delaychart.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

QT_CHARTS_USE_NAMESPACE

namespace {

constexpr double kZoomStep = 1.25;
constexpr double kPanStep = 0.1;
constexpr double kMinimumSpan = 4;
constexpr int kMinimumColumns = 50;
// One column of points per this many pixels: denser points merge into a smear anyway, and every
// point is an item to draw.
constexpr int kPixelsPerColumn = 3;
constexpr qreal kPointSize = 6;
constexpr qreal kOutOfSlotSize = 12;
const QColor kOutOfSlotEdge(220, 0, 0);

// The smallest of 1, 2 or 5 times a power of ten that is at least `least` (and at least 1).
double tidyStep(double least)
{
    least = std::max(least, 1.0);
    const double magnitude = std::pow(10.0, std::floor(std::log10(least)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * magnitude >= least)
            return factor * magnitude;
    }
    return 10 * magnitude;
}

// A tidy axis end at or above `last` that moves rarely: in steps of 1, 2 or 5 times a power of
// ten of about a tenth of the span.
double tidyEnd(double first, double last)
{
    const double step = tidyStep(std::max(last - first + 1, 10.0) / 10);
    return std::ceil((last + 1) / step) * step;
}

void setPoints(QXYSeries *series, const QVector<QPointF> &points)
{
    if (series->pointsVector() != points)
        series->replace(points);
}

} // namespace

DelayChart::DelayChart(const RunStatistics &run, QWidget *parent)
    : QChartView(parent)
    , run_(run)
    , chart_(new QChart)
    , axisX_(new QValueAxis)
    , axisY_(new QValueAxis)
    , slotAxis_(new QCategoryAxis)
    , slotAxisAnchor_(new QLineSeries)
    , generation_(run.generation())
{
    chart_->setTitle(
            QStringLiteral("Delay per cycle. Band: the node's slot; square: early or late; "
                           "gap: silent"));
    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->setMargins(QMargins(4, 4, 4, 4));

    axisX_->setTitleText(QStringLiteral("Cycle"));
    axisX_->setLabelFormat(QStringLiteral("%.0f"));
    // Dynamic ticks at tidy multiples; an interval first, as none would be an endless row.
    for (QValueAxis *axis : {axisX_, axisY_}) {
        axis->setTickInterval(10);
        axis->setTickAnchor(0);
        axis->setTickType(QValueAxis::TicksDynamic);
    }
    axisY_->setTitleText(QStringLiteral("Delay (ms)"));
    axisY_->setLabelFormat(QStringLiteral("%.0f"));
    slotAxis_->setTitleText(QStringLiteral("Slot of node"));
    slotAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    slotAxis_->setGridLineVisible(false);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    chart_->addAxis(slotAxis_, Qt::AlignRight);

    // The slot axis needs a series of its own to show; this one draws nothing.
    slotAxisAnchor_->setPen(Qt::NoPen);
    chart_->addSeries(slotAxisAnchor_);
    slotAxisAnchor_->attachAxis(axisX_);
    slotAxisAnchor_->attachAxis(slotAxis_);
    for (QLegendMarker *marker : chart_->legend()->markers(slotAxisAnchor_))
        marker->setVisible(false);

    // A legend entry that says what a square is.
    auto *key = new QScatterSeries;
    key->setName(QStringLiteral("early or late"));
    key->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    key->setMarkerSize(kOutOfSlotSize);
    key->setColor(Qt::white);
    key->setBorderColor(kOutOfSlotEdge);
    key->setPen(QPen(kOutOfSlotEdge, 2.5));
    chart_->addSeries(key);
    key->attachAxis(axisX_);
    key->attachAxis(axisY_);

    // The view came with a default chart of its own, which it gives up, not deletes, when replaced.
    QChart *placeholder = chart();
    setChart(chart_);
    delete placeholder;
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::HorizontalRubberBand);
    setFocusPolicy(Qt::StrongFocus);
    connect(axisX_, &QValueAxis::rangeChanged, this, &DelayChart::axisRangeChanged);
    refresh();
}

QColor DelayChart::nodeColor(int index)
{
    // Told apart also by colour-blind readers (Okabe and Ito), plus two darker tones.
    static const QColor colors[kMaxNodes] = {
            QColor(0, 114, 178),  QColor(230, 159, 0), QColor(0, 158, 115), QColor(204, 121, 167),
            QColor(86, 180, 233), QColor(213, 94, 0),  QColor(60, 60, 60),  QColor(140, 86, 75),
    };
    return colors[index % kMaxNodes];
}

void DelayChart::setNodes(const QVector<uint8_t> &nodes)
{
    QVector<uint8_t> chosen = nodes.mid(0, kMaxNodes);
    std::sort(chosen.begin(), chosen.end());
    if (chosen == nodes_)
        return;
    nodes_ = chosen;
    rebuildSeries();
    refresh();
}

void DelayChart::rebuildSeries()
{
    for (const Shown &shown : shown_) {
        for (QAbstractSeries *series :
             std::initializer_list<QAbstractSeries *>{shown.band, shown.inSlot, shown.outOfSlot}) {
            chart_->removeSeries(series);
            delete series;
        }
    }
    shown_.clear();

    for (int i = 0; i < nodes_.size(); ++i) {
        Shown shown;
        shown.node = nodes_[i];
        const QColor color = nodeColor(i);

        shown.upper = new QLineSeries;
        shown.lower = new QLineSeries;
        shown.band = new QAreaSeries(shown.upper, shown.lower);
        shown.upper->setParent(shown.band);
        shown.lower->setParent(shown.band);
        QColor fill = color;
        fill.setAlpha(45);
        QColor edge = color;
        edge.setAlpha(140);
        shown.band->setBrush(fill);
        shown.band->setPen(QPen(edge, 1));

        shown.inSlot = new QScatterSeries;
        // Fixed, so that no refresh lays the chart out anew.
        shown.inSlot->setName(QStringLiteral("node %1").arg(shown.node));
        shown.inSlot->setMarkerShape(QScatterSeries::MarkerShapeCircle);
        shown.inSlot->setMarkerSize(kPointSize);
        shown.inSlot->setColor(color);
        shown.inSlot->setBorderColor(color);

        shown.outOfSlot = new QScatterSeries;
        shown.outOfSlot->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        shown.outOfSlot->setMarkerSize(kOutOfSlotSize);
        shown.outOfSlot->setColor(color);
        shown.outOfSlot->setPen(QPen(kOutOfSlotEdge, 2.5));
        shown_.append(shown);
    }

    // Later series lie on top: an early or late answer often falls where a neighbour answers in
    // its slot, and must not hide behind that neighbour's points.
    QVector<QAbstractSeries *> order;
    for (const Shown &shown : shown_)
        order << shown.band;
    for (const Shown &shown : shown_)
        order << shown.inSlot;
    for (const Shown &shown : shown_)
        order << shown.outOfSlot;
    for (QAbstractSeries *series : order) {
        chart_->addSeries(series);
        series->attachAxis(axisX_);
        series->attachAxis(axisY_);
    }
    for (const Shown &shown : shown_) {
        for (QAbstractSeries *series : {static_cast<QAbstractSeries *>(shown.band),
                                        static_cast<QAbstractSeries *>(shown.outOfSlot)}) {
            for (QLegendMarker *marker : chart_->legend()->markers(series))
                marker->setVisible(false);
        }
        const uint8_t node = shown.node;
        for (QScatterSeries *series : {shown.inSlot, shown.outOfSlot})
            connect(series, &QScatterSeries::hovered, this,
                    [this, node](const QPointF &point, bool entering) {
                        showPointTip(node, point, entering);
                    });
    }
}

double DelayChart::runFrom() const
{
    const auto &history = run_.settingsHistory();
    return history.empty() ? 0 : double(history.front().firstCycle) - 0.5;
}

double DelayChart::runTo() const
{
    if (run_.beaconTimes().empty())
        return runFrom();
    return double(run_.firstCycle() + run_.beaconTimes().size() - 1) + 0.5;
}

void DelayChart::showWholeRun()
{
    following_ = true;
    refresh();
}

void DelayChart::showCycles(double from, double to)
{
    if (to - from < kMinimumSpan) {
        const double middle = (from + to) / 2;
        from = middle - kMinimumSpan / 2;
        to = middle + kMinimumSpan / 2;
    }
    following_ = false;
    from_ = from;
    to_ = to;
    refresh();
}

void DelayChart::zoom(double factor, double aroundCycle)
{
    const double from = aroundCycle - (aroundCycle - from_) / factor;
    const double to = aroundCycle + (to_ - aroundCycle) / factor;
    if (factor < 1 && from <= runFrom() && to >= runTo())
        showWholeRun();
    else
        showCycles(std::max(from, runFrom()), to);
}

void DelayChart::pan(double cycles)
{
    const double span = to_ - from_;
    const double from = std::clamp(from_ + cycles, runFrom(), std::max(runFrom(), runTo() - span));
    showCycles(from, from + span);
}

void DelayChart::updateRange()
{
    if (following_) {
        from_ = runFrom();
        to_ = std::max(tidyEnd(from_ + 0.5, runTo() - 0.5) + 0.5, from_ + 10);
    }
    if (axisX_->min() != from_ || axisX_->max() != to_) {
        settingRange_ = true;
        axisX_->setTickInterval(tidyStep((to_ - from_) / 8));
        axisX_->setRange(from_, to_);
        settingRange_ = false;
    }
}

void DelayChart::axisRangeChanged(double min, double max)
{
    if (settingRange_ || (min == from_ && max == to_))
        return;
    // The user zoomed with the rubber band: take the stretch, after the chart settled.
    QMetaObject::invokeMethod(
            this, [this, min, max] { showCycles(min, max); }, Qt::QueuedConnection);
}

void DelayChart::refresh()
{
    generation_ = run_.generation();
    updateRange();

    QVector<SlotBand> bands;
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    double pad = 0;
    for (const Shown &shown : shown_) {
        bands.append(slotBand(run_, shown.node, from_, to_));
        for (int i = 0; i < bands.last().lower.size(); ++i) {
            low = std::min(low, bands.last().lower[i].y());
            high = std::max(high, bands.last().upper[i].y());
            pad = std::max(pad, bands.last().upper[i].y() - bands.last().lower[i].y());
        }
    }
    if (low > high) {
        low = 0;
        high = 100;
    }
    // Room for the early and late answers around the bands; farther ones sit at the edge.
    yLow_ = low - pad;
    yHigh_ = high + pad;
    if (axisY_->min() != yLow_ || axisY_->max() != yHigh_) {
        axisY_->setTickInterval(tidyStep((yHigh_ - yLow_) / 10));
        axisY_->setRange(yLow_, yHigh_);
    }
    updateSlotAxis(yLow_, yHigh_);

    const int columns = columnCount();
    for (int i = 0; i < shown_.size(); ++i) {
        Shown &shown = shown_[i];
        setPoints(shown.lower, bands[i].lower);
        setPoints(shown.upper, bands[i].upper);
        const NodeRunStatistics *node = run_.node(shown.node);
        const NodeDelayPoints points
                = node ? delayPoints(*node, from_, to_, columns, yLow_, yHigh_) : NodeDelayPoints();
        setPoints(shown.inSlot, points.inSlot);
        setPoints(shown.outOfSlot, points.outOfSlot);
    }
    emit viewChanged();
}

void DelayChart::updateSlotAxis(double low, double high)
{
    const uint32_t slot = run_.settingsHistory().empty()
                                  ? 0
                                  : run_.slotDurationOf(verdict::CycleNumber(std::max(to_, 0.0)));
    QStringList labels;
    QVector<double> ends;
    double at = low;
    QString gap;
    for (uint8_t node : nodes_) {
        const double lower = slotLowerFor(node, slot), upper = slotUpperFor(node, slot);
        if (slot == 0 || upper <= low || lower >= high)
            continue;
        if (lower > at) {
            // Labels must differ; a run of spaces is an empty label.
            gap += QLatin1Char(' ');
            labels << gap;
            ends << lower;
        }
        labels << QString::number(node);
        ends << upper;
        at = upper;
    }
    if (slotAxis_->categoriesLabels() == labels && slotAxis_->min() == low
        && slotAxis_->max() == high)
        return;
    for (const QString &label : slotAxis_->categoriesLabels())
        slotAxis_->remove(label);
    slotAxis_->setStartValue(low);
    for (int i = 0; i < labels.size(); ++i)
        slotAxis_->append(labels[i], ends[i]);
    slotAxis_->setRange(low, high);
}

int DelayChart::columnCount() const
{
    return std::max(kMinimumColumns, int(chart_->plotArea().width()) / kPixelsPerColumn);
}

QString DelayChart::describe(uint8_t node, double cycle, double delay) const
{
    const NodeRunStatistics *statistics = run_.node(node);
    if (!statistics)
        return QString();
    // A point may stand for the extremes of a column of cycles: look through the column.
    const int columns = columnCount();
    const double width = std::max(1.0, (to_ - from_) / columns);
    const auto &samples = statistics->samples;
    auto it = std::lower_bound(samples.begin(), samples.end(), std::floor(cycle),
                               [](const CycleSample &s, double c) { return s.cycle < c; });
    const CycleSample *best = nullptr;
    double bestDistance = std::numeric_limits<double>::max();
    for (; it != samples.end() && it->cycle < cycle + width; ++it) {
        if (!it->isAnswer())
            continue;
        const double distance = std::abs(std::clamp(double(it->delay), yLow_, yHigh_) - delay);
        if (distance < bestDistance) {
            best = &*it;
            bestDistance = distance;
        }
    }
    if (!best)
        return QString();
    const uint32_t slot = run_.slotDurationOf(best->cycle);
    const char *verdict = best->outcome == CycleSample::Early  ? "early"
                          : best->outcome == CycleSample::Late ? "late"
                                                               : "in slot";
    return QStringLiteral("Node %1, cycle %2: %3 ms, %4 (slot %5-%6 ms)")
            .arg(node)
            .arg(best->cycle)
            .arg(best->delay)
            .arg(QLatin1String(verdict))
            .arg(slotLowerFor(node, slot))
            .arg(slotUpperFor(node, slot));
}

void DelayChart::showPointTip(uint8_t node, const QPointF &point, bool entering)
{
    if (!entering) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(QCursor::pos(), describe(node, point.x(), point.y()), this);
}

void DelayChart::wheelEvent(QWheelEvent *event)
{
    const QPoint steps = event->angleDelta() / 120;
    const double cycle = chart_->mapToValue(event->position(), slotAxisAnchor_).x();
    if (steps.x() || (event->modifiers() & Qt::ShiftModifier)) {
        const int notches = steps.x() ? steps.x() : steps.y();
        pan(-notches * kPanStep * (to_ - from_));
    } else if (steps.y()) {
        zoom(std::pow(kZoomStep, steps.y()), cycle);
    }
    event->accept();
}

void DelayChart::keyPressEvent(QKeyEvent *event)
{
    const double middle = (from_ + to_) / 2;
    switch (event->key()) {
    case Qt::Key_Left:
        pan(-kPanStep * (to_ - from_));
        break;
    case Qt::Key_Right:
        pan(kPanStep * (to_ - from_));
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(kZoomStep, middle);
        break;
    case Qt::Key_Minus:
        zoom(1 / kZoomStep, middle);
        break;
    case Qt::Key_Home:
        showWholeRun();
        break;
    default:
        QChartView::keyPressEvent(event);
    }
}

void DelayChart::resizeEvent(QResizeEvent *event)
{
    QChartView::resizeEvent(event);
    // The number of columns follows the width.
    refresh();
}
