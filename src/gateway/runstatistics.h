#pragma once

#include "gateway/verdict.h"

#include <QList>
#include <QStringList>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

// What became of one node in one cycle: an MPDU judged in the cycle, or the node's silence.
// 12 bytes each.
struct CycleSample
{
    enum Outcome : uint8_t { InSlot, Early, Late, Silent };
    // Bits of `faults`.
    enum Fault : uint8_t { InvalidSvGroup = 1, InvalidEvent = 2, FormatError = 4 };

    uint32_t cycle = 0;
    // Milliseconds after the beacon; negative for an MPDU stamped before its beacon; 0 when silent.
    int32_t delay = 0;
    Outcome outcome = InSlot;
    uint8_t faults = 0;

    bool isAnswer() const { return outcome != Silent; }
};

// The figures of a run of delays, exact (no bins).
struct DelaySummary
{
    size_t count = 0;
    double min = 0;
    double mean = 0;
    double standardDeviation = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

// Everything the run taught about one node.
struct NodeRunStatistics
{
    static constexpr int kSvGroupCount = 16;

    uint8_t node = 0;
    // Cycles in which the node was judged: it answered or it was charged as silent.
    uint64_t cyclesExpected = 0;
    uint64_t answers = 0;
    uint64_t inSlot = 0;
    uint64_t early = 0;
    uint64_t late = 0;
    uint64_t silent = 0;
    uint64_t outsideCycle = 0;
    // Rejected SV groups and events.
    uint64_t payloadErrors = 0;
    uint64_t formatErrors = 0;
    // Per SV group: cycles in which the beacon asked the node for it, MPDUs that carried it.
    std::array<uint64_t, kSvGroupCount> svRequested{};
    std::array<uint64_t, kSvGroupCount> svDelivered{};
    // Every MPDU judged in a cycle and every silence, in the order they were judged.
    std::vector<CycleSample> samples;
    // Plain-word descriptions of the node's first faults.
    QStringList firstFaults;
    // The node's slot in the last cycle it was judged in.
    uint32_t slotLower = 0;
    uint32_t slotUpper = 0;

    uint64_t faults() const { return early + late + silent + payloadErrors + formatErrors; }
    uint64_t timingFaults() const { return early + late + silent; }
    DelaySummary delays() const;

private:
    friend class RunStatistics;
    uint32_t lastExpectedCycle_ = 0;
};

// The per-node figures of a whole run, fed by the engine's verdicts. Delays are kept one by one
// (12 bytes per MPDU or silence: 12 MB for a million), so the percentiles are exact; a summary
// sorts a copy of one node's delays, O(n log n). A day of 1 s cycles with 128 nodes keeps 11 M
// samples, 133 MB. Engine thread only.
class RunStatistics : public verdict::Observer
{
public:
    void beaconSent(const verdict::Beacon &beacon) override;
    void frameJudged(const verdict::Frame &frame) override;
    void nodeSilent(const verdict::Silent &silent) override;
    void cycleClosed(verdict::CycleNumber cycle) override;
    void nodesCleared() override;

    void clear();

    // How many fault descriptions a node keeps.
    static constexpr int kFirstFaults = 5;

    uint64_t beacons() const { return beacons_; }
    uint64_t beaconsNotTransmitted() const { return beaconsNotTransmitted_; }
    uint64_t cyclesClosed() const { return cyclesClosed_; }
    uint16_t lastSvGroupMask() const { return lastMask_; }
    // The beacon time of every cycle from firstCycle() on.
    const std::vector<uint32_t> &beaconTimes() const { return beaconTimes_; }
    verdict::CycleNumber firstCycle() const { return firstCycle_; }
    uint32_t beaconTimeOf(verdict::CycleNumber cycle) const;
    // The beacon's interval and slot from a cycle on: one entry per change, a few for a run.
    struct BeaconSettings
    {
        verdict::CycleNumber firstCycle = 0;
        uint32_t cycleInterval = 0;
        uint32_t slotDuration = 0;
    };
    const std::vector<BeaconSettings> &settingsHistory() const { return settingsHistory_; }
    // The slot duration of that cycle's beacon; 0 before the first beacon.
    uint32_t slotDurationOf(verdict::CycleNumber cycle) const;
    // Counts the clears, so that a reader keeping figures derived from these knows to start over.
    uint64_t generation() const { return generation_; }
    // Frames that were neither beacon nor MPDU, and beacons heard from others (or echoed).
    uint64_t invalidFrames() const { return invalidFrames_; }
    uint64_t beaconsReceived() const { return beaconsReceived_; }

    // By node id; null for a node the run has not seen.
    const NodeRunStatistics *node(uint8_t id) const;
    // Every node seen, by id ascending.
    QList<const NodeRunStatistics *> nodes() const;

private:
    NodeRunStatistics &entry(uint8_t id);
    void expect(NodeRunStatistics &node, verdict::CycleNumber cycle);
    static void noteFault(NodeRunStatistics &node, const QString &description);

    std::map<uint8_t, NodeRunStatistics> nodes_;
    uint64_t beacons_ = 0;
    uint64_t beaconsNotTransmitted_ = 0;
    uint64_t cyclesClosed_ = 0;
    uint64_t invalidFrames_ = 0;
    uint64_t beaconsReceived_ = 0;
    uint16_t lastMask_ = 0;
    verdict::CycleNumber firstCycle_ = 0;
    std::vector<uint32_t> beaconTimes_;
    std::vector<BeaconSettings> settingsHistory_;
    uint64_t generation_ = 0;
};

// The figures of any run of values; empty input gives an all-zero summary. Percentiles use the
// nearest-rank method on the sorted values.
DelaySummary summarize(std::vector<double> values);
