#include "statsview/delaychartdata.h"

#include <algorithm>
#include <cmath>
#include <vector>

NodeDelayPoints delayPoints(const NodeRunStatistics &node, double from, double to, int columns,
                            int rows, double yLow, double yHigh)
{
    NodeDelayPoints points;
    if (to < from || node.samples.empty())
        return points;
    columns = std::max(columns, 1);
    rows = std::max(rows, 1);
    const double xScale = to > from ? columns / (to - from) : 0;
    const double yScale = yHigh > yLow ? rows / (yHigh - yLow) : 0;
    // One bit per cell and kind: in slot, then early or late.
    std::vector<bool> taken(size_t(columns) * size_t(rows) * 2);

    const auto first = std::lower_bound(
            node.samples.begin(), node.samples.end(), std::ceil(std::max(from, 0.0)),
            [](const CycleSample &sample, double cycle) { return sample.cycle < cycle; });
    for (auto it = first; it != node.samples.end() && it->cycle <= to; ++it) {
        if (!it->isAnswer())
            continue;
        const double delay = std::clamp(double(it->delay), yLow, yHigh);
        const int column = std::min(int((it->cycle - from) * xScale), columns - 1);
        const int row = std::min(int((delay - yLow) * yScale), rows - 1);
        const bool inSlot = it->outcome == CycleSample::InSlot;
        const size_t cell = (size_t(inSlot ? 0 : 1) * size_t(rows) + size_t(row)) * size_t(columns)
                            + size_t(column);
        if (taken[cell])
            continue;
        taken[cell] = true;
        (inSlot ? points.inSlot : points.outOfSlot).append({double(it->cycle), delay});
    }
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
