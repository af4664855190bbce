#pragma once

#include "gateway/runstatistics.h"

#include <QPointF>
#include <QVector>

#include <cstdint>

// What the delay chart draws of one node over a stretch of cycles, as (cycle, delay ms) points.
struct NodeDelayPoints
{
    QVector<QPointF> inSlot;
    // Early or late answers.
    QVector<QPointF> outOfSlot;
};

// The node's answers from cycle `from` to `to`. A silent cycle gives no point. Over a grid of
// `columns` by `rows` cells spanning the stretch and [yLow, yHigh] (a pixel each, say), only the
// first answer of each kind in a cell is kept: the others would be drawn on the same spot, so
// drawing costs the chart's area, not the run's length, and no outlier is lost. Delays outside
// [yLow, yHigh] are drawn at that edge.
NodeDelayPoints delayPoints(const NodeRunStatistics &node, double from, double to, int columns,
                            int rows, double yLow, double yHigh);

// The edges of a node's slot from cycle `from` to `to`, each cycle covering cycle ± 0.5; a step
// where the beacon's slot duration changed. Empty before the first beacon.
struct SlotBand
{
    QVector<QPointF> lower;
    QVector<QPointF> upper;
};
SlotBand slotBand(const RunStatistics &run, uint8_t node, double from, double to);

// The node's slot for a slot duration, as the engine judges it (both ends included).
inline uint32_t slotLowerFor(uint8_t node, uint32_t slotDuration)
{
    return (uint32_t(node) + 1) * slotDuration;
}
inline uint32_t slotUpperFor(uint8_t node, uint32_t slotDuration)
{
    return (uint32_t(node) + 2) * slotDuration;
}
