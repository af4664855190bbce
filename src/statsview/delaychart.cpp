#include "statsview/delaychart.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsSceneHoverEvent>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QStyleOptionGraphicsItem>
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
constexpr qreal kPointSize = 6;
constexpr qreal kOutOfSlotSize = 12;
constexpr qreal kOutOfSlotPen = 2.5;
const QColor kOutOfSlotEdge(220, 0, 0);
// Room around the plot area for the marks of points at its edges.
constexpr qreal kMarkMargin = kOutOfSlotSize / 2 + kOutOfSlotPen;
// How near the pointer must come to a mark for its tip, in pixels.
constexpr qreal kTipReach = kOutOfSlotSize / 2 + 2;

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

QImage blankPicture(QSize pixels, qreal pixelRatio)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    return image;
}

// A marker as the scatter series would draw it: `size` across, the pen on its edge, antialiased.
QImage markImage(QScatterSeries::MarkerShape shape, qreal size, const QPen &pen,
                 const QBrush &brush, qreal pixelRatio)
{
    const qreal penWidth = pen.style() == Qt::NoPen ? 0 : std::max<qreal>(pen.widthF(), 1);
    const int side = int(std::ceil((size + penWidth) * pixelRatio)) + 2;
    QImage image = blankPicture(QSize(side, side), pixelRatio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen);
    painter.setBrush(brush);
    const qreal centre = side / pixelRatio / 2;
    const QRectF rect(centre - size / 2, centre - size / 2, size, size);
    if (shape == QScatterSeries::MarkerShapeCircle)
        painter.drawEllipse(rect);
    else
        painter.drawRect(rect);
    return image;
}

} // namespace

// The points of the delay chart as two pictures over the plot area, the early and late answers
// above those in their slot. Child of the chart, above its series; the chart view paints the
// pictures onto it and tells it where they changed.
class DelayPointLayer : public QGraphicsItem
{
public:
    enum Picture { InSlot, OutOfSlot };

    DelayPointLayer(const DelayChart &view, QGraphicsItem *parent)
        : QGraphicsItem(parent)
        , view_(view)
    {
        setAcceptedMouseButtons(Qt::NoButton);
        setAcceptHoverEvents(true);
        setFlag(ItemUsesExtendedStyleOption);
        // Above every series, below nothing that overlaps the plot area.
        setZValue(1000);
    }

    QRectF boundingRect() const override { return rect_; }

    // Blank pictures covering `rect` (chart coordinates) at the pixel ratio.
    void reset(const QRectF &rect, qreal pixelRatio)
    {
        if (rect != rect_)
            prepareGeometryChange();
        rect_ = rect;
        const QSize pixels(int(std::ceil(rect.width() * pixelRatio)),
                           int(std::ceil(rect.height() * pixelRatio)));
        for (QImage &picture : pictures_)
            picture = blankPicture(pixels, pixelRatio);
        update();
    }

    // Stamps a mark centred on `at` (chart coordinates), on whole pixels so that every mark of a
    // kind looks the same; returns where it landed.
    QRectF stamp(QPainter &painter, const QImage &mark, const QPointF &at) const
    {
        const qreal ratio = mark.devicePixelRatio();
        const QPointF corner(std::round((at.x() - rect_.left()) * ratio - mark.width() / 2.0),
                             std::round((at.y() - rect_.top()) * ratio - mark.height() / 2.0));
        const QRectF target(corner / ratio, QSizeF(mark.size()) / ratio);
        painter.drawImage(target.topLeft(), mark);
        return target.translated(rect_.topLeft());
    }

    QImage &picture(Picture which) { return pictures_[which]; }

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *) override
    {
        const QRectF exposed = option->exposedRect.intersected(rect_);
        if (exposed.isEmpty())
            return;
        for (const QImage &picture : pictures_) {
            const qreal ratio = picture.devicePixelRatio();
            const QRectF source((exposed.topLeft() - rect_.topLeft()) * ratio,
                                exposed.size() * ratio);
            painter->drawImage(exposed, picture, source);
        }
    }

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override
    {
        const QString text = view_.describeAt(event->scenePos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->screenPos(), text, event->widget());
    }
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *) override { QToolTip::hideText(); }

private:
    const DelayChart &view_;
    QRectF rect_;
    QImage pictures_[2];
};

DelayChart::DelayChart(const RunStatistics &run, QWidget *parent)
    : QChartView(parent)
    , run_(run)
    , chart_(new QChart)
    , axisX_(new QValueAxis)
    , axisY_(new QValueAxis)
    , slotAxis_(new QCategoryAxis)
    , slotAxisAnchor_(new QLineSeries)
    , points_(nullptr)
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
    key->setPen(QPen(kOutOfSlotEdge, kOutOfSlotPen));
    chart_->addSeries(key);
    key->attachAxis(axisX_);
    key->attachAxis(axisY_);

    // The view came with a default chart of its own, which it gives up, not deletes, when replaced.
    QChart *placeholder = chart();
    setChart(chart_);
    delete placeholder;
    points_ = new DelayPointLayer(*this, chart_);
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::HorizontalRubberBand);
    setFocusPolicy(Qt::StrongFocus);
    connect(axisX_, &QValueAxis::rangeChanged, this, &DelayChart::axisRangeChanged);
    // The plot area moves when the axes' labels or the legend change width.
    connect(chart_, &QChart::plotAreaChanged, this, &DelayChart::drawPoints);
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
             std::initializer_list<QAbstractSeries *>{shown.band, shown.key}) {
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

        shown.key = new QScatterSeries;
        // Fixed, so that no refresh lays the chart out anew.
        shown.key->setName(QStringLiteral("node %1").arg(shown.node));
        shown.key->setMarkerShape(QScatterSeries::MarkerShapeCircle);
        shown.key->setMarkerSize(kPointSize);
        shown.key->setColor(color);
        shown.key->setBorderColor(color);
        shown_.append(shown);
    }

    for (const Shown &shown : shown_) {
        chart_->addSeries(shown.band);
        shown.band->attachAxis(axisX_);
        shown.band->attachAxis(axisY_);
        for (QLegendMarker *marker : chart_->legend()->markers(shown.band))
            marker->setVisible(false);
    }
    for (const Shown &shown : shown_) {
        chart_->addSeries(shown.key);
        shown.key->attachAxis(axisX_);
        shown.key->attachAxis(axisY_);
    }
    pointsStale_ = true;
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

    for (int i = 0; i < shown_.size(); ++i) {
        setPoints(shown_[i].lower, bands[i].lower);
        setPoints(shown_[i].upper, bands[i].upper);
    }
    drawPoints();
    emit viewChanged();
}

QPointF DelayChart::positionOf(const PointView &view, double cycle, double delay) const
{
    const double x = (cycle - view.from) / (view.to - view.from);
    const double y
            = (std::clamp(delay, view.yLow, view.yHigh) - view.yLow) / (view.yHigh - view.yLow);
    return {view.plot.left() + x * view.plot.width(), view.plot.bottom() - y * view.plot.height()};
}

void DelayChart::drawPoints()
{
    PointView view;
    view.from = from_;
    view.to = to_;
    view.yLow = yLow_;
    view.yHigh = yHigh_;
    view.plot = chart_->plotArea();
    view.pixelRatio = devicePixelRatioF();
    view.generation = generation_;
    if (pointsStale_ || !(view == pointView_)) {
        redrawAllPoints(view);
        return;
    }
    if (view.plot.isEmpty() || view.to <= view.from || view.yHigh <= view.yLow)
        return;

    // Only the answers judged since the last call; the earlier ones are on the pictures.
    for (const Shown &shown : shown_) {
        const NodeRunStatistics *node = run_.node(shown.node);
        if (node && node->samples.size() < shown.samplesDrawn) {
            redrawAllPoints(view);
            return;
        }
    }
    QRectF changed;
    QPainter inSlot(&points_->picture(DelayPointLayer::InSlot));
    QPainter outOfSlot(&points_->picture(DelayPointLayer::OutOfSlot));
    for (Shown &shown : shown_) {
        const NodeRunStatistics *node = run_.node(shown.node);
        if (!node)
            continue;
        for (size_t i = shown.samplesDrawn; i < node->samples.size(); ++i) {
            const CycleSample &sample = node->samples[i];
            if (!sample.isAnswer() || sample.cycle < view.from || sample.cycle > view.to)
                continue;
            const QPointF at = positionOf(view, sample.cycle, sample.delay);
            changed |= sample.outcome == CycleSample::InSlot
                               ? points_->stamp(inSlot, shown.inSlotMark, at)
                               : points_->stamp(outOfSlot, shown.outOfSlotMark, at);
        }
        shown.samplesDrawn = node->samples.size();
    }
    if (!changed.isEmpty())
        points_->update(changed);
}

void DelayChart::redrawAllPoints(const PointView &view)
{
    pointView_ = view;
    pointsStale_ = false;
    const qreal ratio = view.pixelRatio;
    points_->reset(view.plot.adjusted(-kMarkMargin, -kMarkMargin, kMarkMargin, kMarkMargin), ratio);
    const bool drawable = !view.plot.isEmpty() && view.to > view.from && view.yHigh > view.yLow;
    QPainter inSlot(&points_->picture(DelayPointLayer::InSlot));
    QPainter outOfSlot(&points_->picture(DelayPointLayer::OutOfSlot));
    for (Shown &shown : shown_) {
        if (shown.inSlotMark.isNull() || shown.inSlotMark.devicePixelRatio() != ratio) {
            shown.inSlotMark = markImage(QScatterSeries::MarkerShapeCircle, kPointSize,
                                         shown.key->pen(), shown.key->brush(), ratio);
            shown.outOfSlotMark
                    = markImage(QScatterSeries::MarkerShapeRectangle, kOutOfSlotSize,
                                QPen(kOutOfSlotEdge, kOutOfSlotPen), shown.key->brush(), ratio);
        }
        const NodeRunStatistics *node = run_.node(shown.node);
        shown.samplesDrawn = node ? node->samples.size() : 0;
        if (!node || !drawable)
            continue;
        // A pixel each: points that would land on the same one are stamped once.
        const NodeDelayPoints points
                = delayPoints(*node, view.from, view.to, int(std::ceil(view.plot.width() * ratio)),
                              int(std::ceil(view.plot.height() * ratio)), view.yLow, view.yHigh);
        for (const QPointF &point : points.inSlot)
            points_->stamp(inSlot, shown.inSlotMark, positionOf(view, point.x(), point.y()));
        for (const QPointF &point : points.outOfSlot)
            points_->stamp(outOfSlot, shown.outOfSlotMark, positionOf(view, point.x(), point.y()));
    }
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

QString DelayChart::describeAt(const QPointF &scenePos) const
{
    const PointView &view = pointView_;
    if (view.plot.isEmpty() || view.to <= view.from)
        return QString();
    const QPointF at = chart_->mapFromScene(scenePos);
    const double cyclesPerPixel = (view.to - view.from) / view.plot.width();
    const double cycle = view.from + (at.x() - view.plot.left()) * cyclesPerPixel;
    const double reach = kTipReach * cyclesPerPixel;

    const CycleSample *best = nullptr;
    uint8_t bestNode = 0;
    double bestDistance = kTipReach;
    for (const Shown &shown : shown_) {
        const NodeRunStatistics *node = run_.node(shown.node);
        if (!node)
            continue;
        const auto &samples = node->samples;
        auto it = std::lower_bound(samples.begin(), samples.end(), cycle - reach,
                                   [](const CycleSample &s, double c) { return s.cycle < c; });
        for (; it != samples.end() && it->cycle <= cycle + reach; ++it) {
            if (!it->isAnswer())
                continue;
            const QPointF mark = positionOf(view, it->cycle, it->delay);
            const double distance = std::hypot(mark.x() - at.x(), mark.y() - at.y());
            // Early and late answers lie on top: they win a tie.
            if (distance < bestDistance
                || (best && distance == bestDistance && it->outcome != CycleSample::InSlot)) {
                best = &*it;
                bestNode = shown.node;
                bestDistance = distance;
            }
        }
    }
    if (!best)
        return QString();
    const uint32_t slot = run_.slotDurationOf(best->cycle);
    const char *verdict = best->outcome == CycleSample::Early  ? "early"
                          : best->outcome == CycleSample::Late ? "late"
                                                               : "in slot";
    return QStringLiteral("Node %1, cycle %2: %3 ms, %4 (slot %5-%6 ms)")
            .arg(bestNode)
            .arg(best->cycle)
            .arg(best->delay)
            .arg(QLatin1String(verdict))
            .arg(slotLowerFor(bestNode, slot))
            .arg(slotUpperFor(bestNode, slot));
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
    // The axes and the pictures follow the size.
    refresh();
}
