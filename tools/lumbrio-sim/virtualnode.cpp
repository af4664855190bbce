#include "lumbrio-sim/virtualnode.h"

#include "mdw/talven/frame.h"

#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace lumbrio {

namespace {

constexpr int kCountByte = 6;
constexpr double kAmplitude = 2000;
constexpr int kCyclesPerJoystickState = 4;
const quint8 kJoystickBits[] = {1, 2, 4, 8, 16, 32};
// Timers wake up to a millisecond late (their waits are rounded up to whole milliseconds), so a
// node's timer is set this much early and the node sleeps the rest of the way.
constexpr int kWakeEarlyMs = 1;

} // namespace

bool parseBeacon(const QByteArray &frame, BeaconInfo *beacon)
{
    if (frame.size() != int(talven::Beacon::kLength) || !frame.startsWith(Medium::beaconAddress()))
        return false;
    const talven::Beacon received(talven::Frame(ardo::SharedBuffer<uint8_t>::proxy(
            reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size()))));
    if (received.type() != talven::FrameType::Beacon)
        return false;
    beacon->cycleInterval = received.cycleInterval();
    beacon->slotDuration = received.slotDuration();
    beacon->svGroupMask = received.svGroupMask();
    return true;
}

int sendOffset(int nodeId, int slotDuration, Fault fault)
{
    const int lower = (nodeId + 1) * slotDuration;
    const int upper = (nodeId + 2) * slotDuration;
    const int margin = std::max(kMinFaultMarginMs, slotDuration / 2);
    switch (fault) {
    case Fault::Late:
        return upper + margin;
    case Fault::Early:
        return std::max(0, lower - margin);
    default:
        return (lower + upper) / 2;
    }
}

std::array<qint16, 3> accelerometerSample(int nodeId, quint32 cycle)
{
    // Three phase-shifted sines: each axis moves by at most 2000 × 0.15 per cycle.
    const double t = cycle * 0.15 + nodeId * 0.7;
    return {qint16(std::lround(kAmplitude * std::sin(t))),
            qint16(std::lround(kAmplitude * std::sin(t + 2.1))),
            qint16(std::lround(kAmplitude * std::sin(t + 4.2)))};
}

quint8 joystickState(int nodeId, quint32 cycle)
{
    const size_t count = sizeof(kJoystickBits) / sizeof(kJoystickBits[0]);
    return kJoystickBits[(cycle / kCyclesPerJoystickState + quint32(nodeId)) % count];
}

QByteArray buildAnswer(int nodeId, quint32 cycle, bool accelerometerAsked, Fault fault)
{
    talven::MultiPdu mpdu;
    mpdu.setSourceId(uint8_t(nodeId));

    // A wrong size hits the accelerometer when there is one, else the joystick.
    const bool wrongAccelerometer = fault == Fault::WrongSize && accelerometerAsked;
    const bool wrongJoystick = fault == Fault::WrongSize && !accelerometerAsked;

    if (accelerometerAsked) {
        const auto sample = accelerometerSample(nodeId, cycle);
        uint8_t *payload = mpdu.svGroupBuffer().data();
        for (int axis = 0; axis < 3; ++axis)
            qToLittleEndian<qint16>(sample[size_t(axis)], payload + 2 * axis);
        mpdu.addSvGroup(kAccelerometerGroup, wrongAccelerometer ? 5 : 6);
    }

    uint8_t joystick[2] = {joystickState(nodeId, cycle), 0};
    mpdu.addEvent(kJoystickEvent,
                  ardo::SharedBuffer<uint8_t>::proxy(joystick, wrongJoystick ? 2 : 1));

    if (fault == Fault::UnknownEpdu) {
        uint8_t counter = uint8_t(cycle);
        mpdu.addEvent(kUnknownEvent, ardo::SharedBuffer<uint8_t>::proxy(&counter, 1));
    }
    if (fault == Fault::BrokenStructure)
        ++mpdu.data()[kCountByte];

    return QByteArray(reinterpret_cast<const char *>(mpdu.data()), int(mpdu.length()));
}

VirtualNode::VirtualNode(int id, const FaultProbabilities &faults, uint32_t seed, Medium *medium,
                         QObject *parent)
    : QObject(parent)
    , id_(id)
    , dice_(faults, seed, id)
    , medium_(medium)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &VirtualNode::sendAnswer);
    medium_->attach(this);
}

VirtualNode::~VirtualNode()
{
    medium_->detach(this);
}

QByteArray VirtualNode::address() const
{
    return QByteArray();
}

void VirtualNode::receive(const QByteArray &frame)
{
    BeaconInfo beacon;
    if (!parseBeacon(frame, &beacon))
        return;

    sinceBeacon_ = medium_->sendClock();
    timer_.stop();
    pendingCycle_ = cycle_++;
    const Fault fault = dice_.roll();
    if (fault == Fault::Silent) {
        emit answered(id_, fault, 0, QByteArray());
        return;
    }
    // The answer is built when it is due: every node hears the beacon in turn, and the last of
    // 128 would otherwise wait for the others' work.
    pendingAccelerometerAsked_ = beacon.svGroupMask & (1u << kAccelerometerGroup);
    pendingFault_ = fault;
    pendingOffset_ = sendOffset(id_, beacon.slotDuration, fault);
    timer_.start(int(std::max<qint64>(0, pendingOffset_ - kWakeEarlyMs - sinceBeacon_.elapsed())));
}

void VirtualNode::sendAnswer()
{
    const QByteArray frame
            = buildAnswer(id_, pendingCycle_, pendingAccelerometerAsked_, pendingFault_);
    const qint64 remainingUs = qint64(pendingOffset_) * 1000 - sinceBeacon_.nsecsElapsed() / 1000;
    if (remainingUs > 0)
        QThread::usleep(static_cast<unsigned long>(remainingUs));
    medium_->send(this, frame);
    emit answered(id_, pendingFault_, pendingOffset_, frame);
}

} // namespace lumbrio
