#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

// The engine's judgements as data, for the run statistics, reports and captures. They travel
// beside the log lines and say the same, so nothing ever has to be read back out of log text.
namespace verdict {

// Cycles are counted from 1 by the engine; 0 means "before the first beacon".
using CycleNumber = uint64_t;

// One beacon the engine sent (or tried to: `transmitted` is the driver's answer).
struct Beacon
{
    CycleNumber cycle = 0;
    uint32_t beaconTime = 0;
    uint32_t cycleInterval = 0;
    uint32_t slotDuration = 0;
    uint16_t svGroupMask = 0;
    bool transmitted = false;
    // The frame's bytes as handed to the driver.
    QByteArray frame;
};

enum class Timing : uint8_t {
    InSlot,
    Early,
    Late,
    // No cycle ran when the MPDU came: neither judged nor decoded.
    OutsideCycle,
};

enum class FaultKind : uint8_t {
    InvalidSvGroup,
    InvalidEvent,
    FormatError,
};

// A fault found while an MPDU was taken apart: one per rejected ePDU, one per broken structure.
struct PayloadFault
{
    FaultKind kind = FaultKind::InvalidSvGroup;
    // The SV group or event id (0 for a format error).
    uint16_t id = 0;
    QByteArray payload;
    // For a format error: the ePDU index and byte position the walk stopped at.
    size_t ePduIndex = 0;
    size_t position = 0;
};

enum class FrameKind : uint8_t { Beacon, Invalid, Mpdu };

// Everything the engine concluded about one received frame, reported after the frame was fully
// handled. `bytes` is a view of the driver's bytes, valid during the report only.
struct Frame
{
    FrameKind kind = FrameKind::Invalid;
    CycleNumber cycle = 0;
    uint32_t receptionTime = 0;
    // The wall clock when the driver took the frame, nanoseconds since the epoch.
    int64_t wallClockNs = 0;
    const uint8_t *bytes = nullptr;
    size_t length = 0;

    // MPDUs only.
    uint8_t node = 0;
    Timing timing = Timing::OutsideCycle;
    uint32_t beaconTime = 0;
    // Reception time minus beacon time, unsigned 32-bit like the engine's own judgement.
    uint32_t delay = 0;
    uint32_t slotLower = 0;
    uint32_t slotUpper = 0;
    // Bit g for every SV group g < 16 that the MPDU carried, valid or not.
    uint16_t svGroups = 0;
    QVector<PayloadFault> faults;
};

// A node that had not answered when its cycle ended.
struct Silent
{
    CycleNumber cycle = 0;
    uint32_t beaconTime = 0;
    uint8_t node = 0;
};

// Receives the engine's verdicts on the engine's thread, inside the engine's own calls, after the
// matching log lines and before the matching signal (beaconSend excepted: a beacon is reported
// once it went to the driver). An observer must not call back into the engine.
class Observer
{
public:
    virtual ~Observer();

    virtual void beaconSent(const Beacon &beacon);
    virtual void frameJudged(const Frame &frame);
    virtual void nodeSilent(const Silent &silent);
    virtual void cycleClosed(CycleNumber cycle);
    // The node records were forgotten (clearNodes).
    virtual void nodesCleared();
    // The driver lost its link (`up` false; `what` is its reason, may be empty) or has it back.
    // Told once per change. Cycles during which the link was down charge no silent node.
    virtual void linkChanged(bool up, const QString &what);
};

} // namespace verdict
