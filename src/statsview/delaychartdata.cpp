#include "statsview/delaychartdata.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct Extremes
{
    QPointF low{0, std::numeric_limits<double>::max()};
    QPointF high{0, std::numeric_limits<double>::lowest()};
    bool any() const { return low.y() <= high.y(); }
    void add(double cycle, double value)
    {
        if (value < low.y())
            low = {cycle, value};
        if (value > high.y())
            high = {cycle, value};
    }
};

// Each extreme at its own cycle, in cycle order.
void appendExtremes(QVector<QPointF> &points, const Extremes &column)
{
    if (!column.any())
        return;
    if (column.low == column.high) {
        points.append(column.low);
        return;
    }
    const bool lowFirst = column.low.x() <= column.high.x();
    points.append(lowFirst ? column.low : column.high);
    points.append(lowFirst ? column.high : column.low);
}

} // namespace

NodeDelayPoints delayPoints(const NodeRunStatistics &node, double from, double to, int columns,
                            double yLow, double yHigh)
{
    NodeDelayPoints points;
    if (to < from || node.samples.empty())
        return points;
    const auto first = std::lower_bound(
            node.samples.begin(), node.samples.end(), std::ceil(std::max(from, 0.0)),
            [](const CycleSample &sample, double cycle) { return sample.cycle < cycle; });
    auto pinned = [&](int32_t delay) {
        return std::clamp(double(delay), yLow, yHigh);
    };

    const double span = to - from;
    if (columns < 1 || span <= columns) {
        for (auto it = first; it != node.samples.end() && it->cycle <= to; ++it) {
            if (!it->isAnswer())
                continue;
            (it->outcome == CycleSample::InSlot ? points.inSlot : points.outOfSlot)
                    .append({double(it->cycle), pinned(it->delay)});
        }
        return points;
    }

    int column = -1;
    Extremes inSlot, outOfSlot;
    auto flush = [&] {
        appendExtremes(points.inSlot, inSlot);
        appendExtremes(points.outOfSlot, outOfSlot);
        inSlot = outOfSlot = Extremes();
    };
    for (auto it = first; it != node.samples.end() && it->cycle <= to; ++it) {
        if (!it->isAnswer())
            continue;
        const int at = std::min(int((it->cycle - from) / span * columns), columns - 1);
        if (at != column) {
            flush();
            column = at;
        }
        (it->outcome == CycleSample::InSlot ? inSlot : outOfSlot).add(it->cycle, pinned(it->delay));
    }
    flush();
    return points;
}

SlotBand slotBand(const RunStatistics &run, uint8_t node, double from, double to)
{
    SlotBand band;
    const auto &history = run.settingsHistory();
    for (size_t i = 0; i < history.size(); ++i) {
        const double start = std::max(double(history[i].firstCycle) - 0.5, from);
        const double end = i + 1 < history.size()
                                   ? std::min(double(history[i + 1].firstCycle) - 0.5, to)
                                   : to;
        if (end <= start)
            continue;
        const double lower = slotLowerFor(node, history[i].slotDuration);
        const double upper = slotUpperFor(node, history[i].slotDuration);
        band.lower << QPointF(start, lower) << QPointF(end, lower);
        band.upper << QPointF(start, upper) << QPointF(end, upper);
    }
    return band;
}
