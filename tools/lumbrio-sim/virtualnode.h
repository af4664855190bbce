#pragma once

#include "lumbrio-sim/faults.h"
#include "lumbrio-sim/medium.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>

namespace lumbrio {

// The fields of a received beacon that the nodes act on.
struct BeaconInfo
{
    quint32 cycleInterval = 0;
    quint16 slotDuration = 0;
    quint16 svGroupMask = 0;
};

// False when `frame` is not a whole beacon (destination, type bit, 17 bytes).
bool parseBeacon(const QByteArray &frame, BeaconInfo *beacon);

// How far outside its slot a late or early node answers: half a slot, and never less than this,
// so that clock granularity and scheduling delays cannot make the gateway's verdict go the other
// way.
constexpr int kMinFaultMarginMs = 5;

// Milliseconds after the beacon's arrival at which a node answers: the middle of its slot
// (node n owns n + 1 to n + 2 slot durations), or outside it by the fault margin for Late and
// Early (never before the beacon).
int sendOffset(int nodeId, int slotDuration, Fault fault);

// The accelerometer sample of a node in a cycle: x, y, z drifting smoothly within ±2048.
std::array<qint16, 3> accelerometerSample(int nodeId, quint32 cycle);
// The joystick state of a node in a cycle: one of the bits 1, 2, 4, 8, 16, 32, changing every few
// cycles.
quint8 joystickState(int nodeId, quint32 cycle);

constexpr quint8 kAccelerometerGroup = 2;
constexpr quint16 kJoystickEvent = 8;
// An event id the gateway does not know.
constexpr quint16 kUnknownEvent = 12;

// The MPDU a node sends in a cycle: SV group 2 (when the beacon asks for it) and event 8, spoilt
// as `fault` says. Silent, Late and Early do not change the bytes.
QByteArray buildAnswer(int nodeId, quint32 cycle, bool accelerometerAsked, Fault fault);

// One virtual sensor node on the medium. It hears beacons only and answers each one once, at the
// offset its dice choose for that cycle, measured from the beacon's arrival with a precise
// one-shot timer that wakes it just before, and a short sleep for the rest. A new beacon
// replaces an answer still pending. Owned by the simulator; emits
// answered() when it sends (or decides to stay silent). Runs on the event loop's thread.
class VirtualNode : public QObject, public Station
{
    Q_OBJECT

public:
    VirtualNode(int id, const FaultProbabilities &faults, uint32_t seed, Medium *medium,
                QObject *parent = nullptr);
    ~VirtualNode() override;

    int id() const { return id_; }
    // The fault of the answer being sent (or last sent).
    Fault pendingFault() const { return pendingFault_; }

    QByteArray address() const override;
    void receive(const QByteArray &frame) override;

signals:
    // `frame` is empty when the node stays silent.
    void answered(int nodeId, lumbrio::Fault fault, int offsetMs, const QByteArray &frame);

private:
    void sendAnswer();

    int id_;
    FaultDice dice_;
    Medium *medium_;
    QTimer timer_;
    QElapsedTimer sinceBeacon_; // from when the beacon was put on the medium
    quint32 cycle_ = 0;
    quint32 pendingCycle_ = 0;
    bool pendingAccelerometerAsked_ = false;
    Fault pendingFault_ = Fault::None;
    int pendingOffset_ = 0;
};

} // namespace lumbrio

Q_DECLARE_METATYPE(lumbrio::Fault)
