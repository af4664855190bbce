#include "gateway/runstatistics.h"

#include "gateway/verdicttext.h"

#include <algorithm>
#include <cmath>
#include <iterator>

DelaySummary summarize(std::vector<double> values)
{
    DelaySummary summary;
    summary.count = values.size();
    if (values.empty())
        return summary;

    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    summary.min = values.front();
    summary.max = values.back();

    // Two passes: a running sum of squares loses the jitter of long runs around a large mean.
    double sum = 0;
    for (double v : values)
        sum += v;
    summary.mean = sum / double(n);
    double squares = 0;
    for (double v : values)
        squares += (v - summary.mean) * (v - summary.mean);
    summary.standardDeviation = std::sqrt(squares / double(n));

    summary.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const size_t rank = size_t(std::ceil(0.99 * double(n)));
    summary.p99 = values[std::max<size_t>(rank, 1) - 1];
    return summary;
}

DelaySummary NodeRunStatistics::delays() const
{
    std::vector<double> values;
    values.reserve(samples.size());
    for (const CycleSample &sample : samples) {
        if (sample.isAnswer())
            values.push_back(sample.delay);
    }
    return summarize(std::move(values));
}

void RunStatistics::beaconSent(const verdict::Beacon &beacon)
{
    beacons_ += 1;
    if (!beacon.transmitted)
        beaconsNotTransmitted_ += 1;
    lastMask_ = beacon.svGroupMask;
    if (beaconTimes_.empty())
        firstCycle_ = beacon.cycle;
    // Cycles are numbered without gaps; a restart of the numbering starts the list again.
    if (beacon.cycle != firstCycle_ + beaconTimes_.size()) {
        firstCycle_ = beacon.cycle;
        beaconTimes_.clear();
    }
    beaconTimes_.push_back(beacon.beaconTime);
    if (settingsHistory_.empty() || settingsHistory_.back().cycleInterval != beacon.cycleInterval
        || settingsHistory_.back().slotDuration != beacon.slotDuration)
        settingsHistory_.push_back({beacon.cycle, beacon.cycleInterval, beacon.slotDuration});
}

uint32_t RunStatistics::slotDurationOf(verdict::CycleNumber cycle) const
{
    const auto after = std::upper_bound(
            settingsHistory_.begin(), settingsHistory_.end(), cycle,
            [](verdict::CycleNumber c, const BeaconSettings &s) { return c < s.firstCycle; });
    return after == settingsHistory_.begin() ? 0 : std::prev(after)->slotDuration;
}

uint32_t RunStatistics::beaconTimeOf(verdict::CycleNumber cycle) const
{
    if (cycle < firstCycle_ || cycle - firstCycle_ >= beaconTimes_.size())
        return 0;
    return beaconTimes_[size_t(cycle - firstCycle_)];
}

void RunStatistics::frameJudged(const verdict::Frame &frame)
{
    switch (frame.kind) {
    case verdict::FrameKind::Beacon:
        beaconsReceived_ += 1;
        return;
    case verdict::FrameKind::Invalid:
        invalidFrames_ += 1;
        return;
    case verdict::FrameKind::Mpdu:
        break;
    }

    NodeRunStatistics &node = entry(frame.node);
    if (frame.timing == verdict::Timing::OutsideCycle) {
        node.outsideCycle += 1;
        return;
    }

    expect(node, frame.cycle);
    node.answers += 1;
    CycleSample sample;
    sample.cycle = uint32_t(frame.cycle);
    sample.delay = int32_t(frame.delay);
    switch (frame.timing) {
    case verdict::Timing::InSlot:
        node.inSlot += 1;
        sample.outcome = CycleSample::InSlot;
        break;
    case verdict::Timing::Early:
        node.early += 1;
        sample.outcome = CycleSample::Early;
        break;
    case verdict::Timing::Late:
        node.late += 1;
        sample.outcome = CycleSample::Late;
        break;
    case verdict::Timing::OutsideCycle:
        break;
    }
    node.slotLower = frame.slotLower;
    node.slotUpper = frame.slotUpper;

    for (int group = 0; group < NodeRunStatistics::kSvGroupCount; ++group) {
        if (frame.svGroups & (1u << group))
            node.svDelivered[size_t(group)] += 1;
    }
    for (const verdict::PayloadFault &fault : frame.faults) {
        switch (fault.kind) {
        case verdict::FaultKind::InvalidSvGroup:
            sample.faults |= CycleSample::InvalidSvGroup;
            node.payloadErrors += 1;
            break;
        case verdict::FaultKind::InvalidEvent:
            sample.faults |= CycleSample::InvalidEvent;
            node.payloadErrors += 1;
            break;
        case verdict::FaultKind::FormatError:
            sample.faults |= CycleSample::FormatError;
            node.formatErrors += 1;
            break;
        }
    }
    node.samples.push_back(sample);
    if (frame.timing != verdict::Timing::InSlot || !frame.faults.isEmpty())
        noteFault(node, QStringLiteral("cycle %1: %2")
                                .arg(frame.cycle)
                                .arg(verdict::describeJudgement(frame)));
}

void RunStatistics::noteFault(NodeRunStatistics &node, const QString &description)
{
    if (node.firstFaults.size() < kFirstFaults)
        node.firstFaults.append(description);
}

void RunStatistics::nodeSilent(const verdict::Silent &silent)
{
    NodeRunStatistics &node = entry(silent.node);
    expect(node, silent.cycle);
    node.silent += 1;
    CycleSample sample;
    sample.cycle = uint32_t(silent.cycle);
    sample.outcome = CycleSample::Silent;
    node.samples.push_back(sample);
    noteFault(node, QStringLiteral("cycle %1: no MPDU").arg(silent.cycle));
}

void RunStatistics::cycleClosed(verdict::CycleNumber)
{
    cyclesClosed_ += 1;
}

void RunStatistics::nodesCleared()
{
    clear();
}

void RunStatistics::clear()
{
    const uint64_t generation = generation_ + 1;
    *this = RunStatistics();
    generation_ = generation;
}

const NodeRunStatistics *RunStatistics::node(uint8_t id) const
{
    const auto found = nodes_.find(id);
    return found == nodes_.end() ? nullptr : &found->second;
}

QList<const NodeRunStatistics *> RunStatistics::nodes() const
{
    QList<const NodeRunStatistics *> list;
    for (const auto &entry : nodes_)
        list.append(&entry.second);
    return list;
}

NodeRunStatistics &RunStatistics::entry(uint8_t id)
{
    NodeRunStatistics &node = nodes_[id];
    node.node = id;
    return node;
}

// A node is expected once per cycle, however many MPDUs it sends in it.
void RunStatistics::expect(NodeRunStatistics &node, verdict::CycleNumber cycle)
{
    if (node.lastExpectedCycle_ == cycle)
        return;
    node.lastExpectedCycle_ = uint32_t(cycle);
    node.cyclesExpected += 1;
    for (int group = 0; group < NodeRunStatistics::kSvGroupCount; ++group) {
        if (lastMask_ & (1u << group))
            node.svRequested[size_t(group)] += 1;
    }
}
