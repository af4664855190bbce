#include "gateway/talvennetwork.h"

#include <QByteArray>
#include <QColor>
#include <QTime>
#include <QTimerEvent>
#include <QVector3D>
#include <QtEndian>

#include <algorithm>

namespace {

constexpr int kColumnCount = 5;
constexpr int kTimeslotCount = 32;
constexpr uint8_t kAccelerometerGroup = 2;
constexpr size_t kAccelerometerSize = 6;
constexpr uint16_t kJoystickEvent = 8;
constexpr size_t kJoystickSize = 1;

// Stands in for the bytes of an empty reception that came without a pointer: a frame needs a
// buffer to point at even when it covers nothing.
const uint8_t kNoBytes = 0;

float littleEndianInt16(const uint8_t *at)
{
    return qFromLittleEndian<qint16>(at);
}

QString payloadHex(const ardo::SharedBuffer<uint8_t> &payload)
{
    // A raw view of the payload: the bytes are only read while the hex text is built.
    return QString::fromLatin1(
            QByteArray::fromRawData(reinterpret_cast<const char *>(payload.data()),
                                    static_cast<int>(payload.size()))
                    .toHex());
}

QColor slotColor(const NodeState &node)
{
    if (node.delay < 0)
        return QColor(Qt::darkGray);
    return QColor(node.inSlot ? Qt::darkGreen : Qt::darkRed);
}

QColor statusColor(const NodeState &node)
{
    if (node.delay < 0)
        return QColor(Qt::darkGray);
    return QColor(node.errorCount == 0 ? Qt::darkGreen : Qt::darkRed);
}

QString delayText(int16_t delay)
{
    if (delay > 0)
        return QStringLiteral("%1 ms").arg(delay);
    if (delay < 0)
        return QStringLiteral("pending...");
    return QStringLiteral("-");
}

} // namespace

TalvenNetwork::TalvenNetwork()
{
    observers_.append(&statistics_);
    // The precise deadline closes the cycle through the cycle timer's own event, so that either
    // clock ends a cycle the same way, and only once.
    connect(&cycleDeadline_, &CycleDeadline::reached, this, [this] {
        if (cycleTimerId_ == -1)
            return;
        QTimerEvent tick(cycleTimerId_);
        timerEvent(&tick);
    });
}

TalvenNetwork::~TalvenNetwork()
{
    // A driver may still read its link while it closes (a blocking write delivers readyRead), so
    // it must not find a way back into an engine that is half gone.
    if (driver_) {
        driver_->setReceiveHandler(nullptr);
        driver_->setLinkStateHandler(nullptr);
    }
    deleteNodes();
    driver_.reset();
}

void TalvenNetwork::setNetworkInterfaceDriver(talven::NetworkInterfaceDriver *driver)
{
    if (driver_.get() != driver) {
        if (driver_) {
            driver_->setReceiveHandler(nullptr);
            driver_->setLinkStateHandler(nullptr);
        }
        // The old driver has closed its link before the new one is held.
        driver_.reset();
        driver_.reset(driver);
    }
    if (!driver_)
        return;
    driver_->setReceiveHandler([this](talven::NetworkInterfaceDriver &, uint32_t receptionTime,
                                      const uint8_t *data,
                                      size_t length) { receive(receptionTime, data, length); });
    driver_->setLinkStateHandler(
            [this](bool up, const std::string &what) { linkChanged(up, what); });
}

void TalvenNetwork::sendBeacon(int cycleInterval, int slotDuration, quint32 svGroupMask)
{
    if (cycleTimerId_ != -1)
        return;
    // The cycle starts with beaconSend, so the work of its slots does not lengthen the period.
    const int64_t cycleStart = CycleDeadline::now();

    // A negative interval would leave the timer unstarted and the engine stuck in its cycle.
    const int interval = std::max(cycleInterval, 0);
    slotDuration_ = static_cast<uint32_t>(slotDuration);
    svGroupMask_ = static_cast<uint16_t>(svGroupMask);
    cycle_ += 1;
    linkDownInCycle_ = !linkUp_;
    for (NodeState *node : qAsConst(nodes_)) {
        node->answered = false;
        node->delay = -1;
        node->inSlot = false;
    }

    emit beaconSend();

    talven::Beacon beacon;
    beaconTime_ = QTime::currentTime().msecsSinceStartOfDay();
    beacon.setNetworkTime(static_cast<uint32_t>(beaconTime_));
    beacon.setCycleInterval(static_cast<uint32_t>(interval));
    beacon.setSlotDuration(static_cast<uint16_t>(slotDuration));
    beacon.setSvGroupMask(svGroupMask);
    const bool transmitted = driver_ && driver_->transmit(beacon.data(), beacon.length());

    cycleTimerId_ = startTimer(interval, Qt::PreciseTimer);
    cycleDeadline_.arm(cycleStart + int64_t(interval) * 1000000);

    verdict::Beacon report;
    report.cycle = cycle_;
    report.beaconTime = static_cast<uint32_t>(beaconTime_);
    report.cycleInterval = static_cast<uint32_t>(interval);
    report.slotDuration = slotDuration_;
    report.svGroupMask = svGroupMask_;
    report.transmitted = transmitted;
    report.frame = QByteArray(reinterpret_cast<const char *>(beacon.data()), int(beacon.length()));
    tellObservers([&](verdict::Observer *o) { o->beaconSent(report); });
}

void TalvenNetwork::clearNodes()
{
    beginResetModel();
    deleteNodes();
    endResetModel();
    tellObservers([](verdict::Observer *o) { o->nodesCleared(); });
}

int TalvenNetwork::beaconTime() const
{
    return beaconTime_;
}

NodeState *TalvenNetwork::nodeFor(uint8_t id)
{
    for (NodeState *node : qAsConst(nodes_)) {
        if (node->id == id)
            return node;
    }

    auto *node = new NodeState(id);
    beginResetModel();
    nodes_.append(node);
    std::sort(nodes_.begin(), nodes_.end(),
              [](const NodeState *a, const NodeState *b) { return a->id < b->id; });
    endResetModel();
    return node;
}

const QList<NodeState *> &TalvenNetwork::nodes() const
{
    return nodes_;
}

void TalvenNetwork::addObserver(verdict::Observer *observer)
{
    if (observer && !observers_.contains(observer))
        observers_.append(observer);
}

void TalvenNetwork::removeObserver(verdict::Observer *observer)
{
    if (observer != &statistics_)
        observers_.removeAll(observer);
}

const RunStatistics &TalvenNetwork::statistics() const
{
    return statistics_;
}

bool TalvenNetwork::isLinkUp() const
{
    return linkUp_;
}

void TalvenNetwork::linkChanged(bool up, const std::string &what)
{
    if (up == linkUp_)
        return;
    linkUp_ = up;
    if (!up)
        linkDownInCycle_ = true;

    const QString name = driver_ ? QString::fromStdString(driver_->name()) : QString();
    const QString reason = QString::fromStdString(what);
    if (up)
        emit error(QStringLiteral("Connection to %1 restored").arg(name));
    else if (reason.isEmpty())
        emit error(QStringLiteral("Lost connection to %1").arg(name));
    else
        emit error(QStringLiteral("Lost connection to %1: %2").arg(name, reason));
    tellObservers([&](verdict::Observer *o) { o->linkChanged(up, reason); });
    emit linkStateChanged(up);
}

verdict::CycleNumber TalvenNetwork::cycle() const
{
    return cycle_;
}

// By index on a copy: an observer may remove itself (or another) while it is told.
template<typename Report>
void TalvenNetwork::tellObservers(Report report)
{
    const QVector<verdict::Observer *> observers = observers_;
    for (verdict::Observer *observer : observers) {
        if (observers_.contains(observer))
            report(observer);
    }
}

void TalvenNetwork::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != cycleTimerId_)
        return;

    killTimer(cycleTimerId_);
    cycleTimerId_ = -1;
    cycleDeadline_.disarm();

    // By index: a slot connected to `error` may clear the list while it is walked.
    for (int i = 0; i < nodes_.size(); ++i) {
        NodeState *node = nodes_.at(i);
        if (node->answered)
            continue;
        node->delay = 0;
        if (linkDownInCycle_)
            continue;
        node->errorCount += 1;
        const uint8_t id = node->id;
        emit error(QStringLiteral("No MPDU as a response to the beacon from ")
                   + QString::number(id));
        const verdict::Silent silent{cycle_, static_cast<uint32_t>(beaconTime_), id};
        tellObservers([&](verdict::Observer *o) { o->nodeSilent(silent); });
    }

    tellObservers([this](verdict::Observer *o) { o->cycleClosed(cycle_); });
    emit cycleFinished();
}

void TalvenNetwork::receive(uint32_t receptionTime, const uint8_t *data, size_t length)
{
    // A driver may hand over nothing at all; a frame still needs bytes to point at.
    if (!data) {
        data = &kNoBytes;
        length = 0;
    }
    const talven::Frame frame(ardo::SharedBuffer<uint8_t>::proxy(data, length));

    verdict::Frame report;
    report.cycle = cycle_;
    report.receptionTime = receptionTime;
    report.wallClockNs = driver_ ? driver_->receptionWallClockNs() : 0;
    report.bytes = data;
    report.length = length;

    switch (frame.type()) {
    case talven::FrameType::Beacon:
        report.kind = verdict::FrameKind::Beacon;
        emit error(QStringLiteral("Received Beacon frame: %1")
                           .arg(QString::fromLatin1(frame.toHexString())));
        tellObservers([&](verdict::Observer *o) { o->frameJudged(report); });
        break;
    case talven::FrameType::Invalid:
        report.kind = verdict::FrameKind::Invalid;
        emit error(QStringLiteral("Received invalid frame: %1")
                           .arg(QString::fromLatin1(frame.toHexString())));
        tellObservers([&](verdict::Observer *o) { o->frameJudged(report); });
        break;
    case talven::FrameType::Mpdu:
        report.kind = verdict::FrameKind::Mpdu;
        receiveMpdu(frame, report);
        break;
    }
}

void TalvenNetwork::receiveMpdu(const talven::Frame &frame, verdict::Frame &report)
{
    const MultiPdu mpdu(frame);
    const uint8_t id = mpdu.sourceId();
    report.node = id;
    currentNode_ = nodeFor(id);

    if (cycleTimerId_ == -1) {
        emit error(QStringLiteral("Received MPDU from sensor %1 outside any cycle!").arg(int(id)));
        report.timing = verdict::Timing::OutsideCycle;
        tellObservers([&](verdict::Observer *o) { o->frameJudged(report); });
        return;
    }

    // Meant to wrap: an MPDU stamped before the beacon shows as very late.
    const uint32_t d = report.receptionTime - static_cast<uint32_t>(beaconTime_);
    const uint32_t lower = (id + 1u) * slotDuration_;
    const uint32_t upper = (id + 2u) * slotDuration_;
    report.beaconTime = static_cast<uint32_t>(beaconTime_);
    report.delay = d;
    report.slotLower = lower;
    report.slotUpper = upper;
    report.timing = d < lower ? verdict::Timing::Early
                              : (d > upper ? verdict::Timing::Late : verdict::Timing::InSlot);

    const bool judgedInSlot = lower <= d && d <= upper;
    if (!judgedInSlot) {
        emit error(
                QStringLiteral("Received MPDU from sensor %1 %2: %3 ms (Should be between %4 and "
                               "%5 ms)")
                        .arg(int(id))
                        .arg(d < lower ? QStringLiteral("to early") : QStringLiteral("to late"))
                        .arg(d)
                        .arg(lower)
                        .arg(upper));
    }

    // The slots connected to `error` may have cleared the node list meanwhile.
    if (currentNode_) {
        if (judgedInSlot)
            currentNode_->inSlot = true;
        else
            currentNode_->errorCount += 1;
        currentNode_->answered = true;
        currentNode_->delay = static_cast<int16_t>(d);
    }

    judging_ = &report;
    mpdu.decompose(*this);
    judging_ = nullptr;
    tellObservers([&](verdict::Observer *o) { o->frameJudged(report); });
    emit receivedMpdu(id);
}

void TalvenNetwork::onSvGroup(const MultiPdu &mpdu, uint8_t group,
                              const ardo::SharedBuffer<uint8_t> &payload)
{
    if (group < 16 && judging_)
        judging_->svGroups |= uint16_t(1u << group);
    if (!currentNode_)
        return;

    if (group == kAccelerometerGroup && payload.size() == kAccelerometerSize) {
        const uint8_t *bytes = payload.data();
        currentNode_->accelerometer
                = QVector3D(littleEndianInt16(bytes), littleEndianInt16(bytes + 2),
                            littleEndianInt16(bytes + 4));
        return;
    }

    currentNode_->errorCount += 1;
    noteFault(verdict::FaultKind::InvalidSvGroup, group, payload);
    emit error(QStringLiteral("Invalid data for SV group %1 from node %2 [%3]")
                       .arg(int(group))
                       .arg(int(mpdu.sourceId()))
                       .arg(payloadHex(payload)));
}

void TalvenNetwork::onEvent(const MultiPdu &mpdu, uint16_t eventId,
                            const ardo::SharedBuffer<uint8_t> &payload)
{
    if (!currentNode_)
        return;

    if (eventId == kJoystickEvent && payload.size() == kJoystickSize) {
        currentNode_->joystick = payload.data()[0];
        return;
    }

    currentNode_->errorCount += 1;
    noteFault(verdict::FaultKind::InvalidEvent, eventId, payload);
    emit error(QStringLiteral("Invalid data for Event %1 from node %2 [%3]")
                       .arg(int(eventId))
                       .arg(int(mpdu.sourceId()))
                       .arg(payloadHex(payload)));
}

void TalvenNetwork::onFormatError(const MultiPdu &mpdu, size_t ePduIndex, size_t position)
{
    if (!currentNode_)
        return;

    currentNode_->errorCount += 1;
    noteFault(verdict::FaultKind::FormatError, 0, {}, ePduIndex, position);
    emit error(QStringLiteral("MPDU Format error detected at ePDU %1 at position %2 of node's' %3 "
                              "response.")
                       .arg(qulonglong(ePduIndex))
                       .arg(qulonglong(position))
                       .arg(int(mpdu.sourceId())));
}

int TalvenNetwork::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : nodes_.size();
}

int TalvenNetwork::columnCount(const QModelIndex &) const
{
    return kColumnCount;
}

QVariant TalvenNetwork::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= nodes_.size() || index.column() < 0
        || index.column() >= kColumnCount)
        return QVariant();
    const NodeState &node = *nodes_.at(index.row());

    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            return int(node.id);
        case 1:
            return delayText(node.delay);
        case 2:
            return static_cast<unsigned int>(node.errorCount);
        case 3:
            return static_cast<unsigned int>(node.joystick);
        case 4:
            return QVariant::fromValue(node.accelerometer);
        }
        break;
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::ForegroundRole:
        switch (index.column()) {
        case 0:
        case 1:
            return slotColor(node);
        case 2:
            return statusColor(node);
        }
        break;
    }
    return QVariant();
}

QVariant TalvenNetwork::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const headers[kColumnCount]
            = {"Node ID", "MPDU cycle delay", "Status", "Joystick", "Accelerometer"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= kColumnCount)
        return QVariant();
    return QString::fromLatin1(headers[section]);
}

int TalvenNetwork::timeslotCount() const
{
    return kTimeslotCount;
}

QList<QEventTimeslotWidgetEvent> TalvenNetwork::events() const
{
    QList<QEventTimeslotWidgetEvent> marks;
    // The timeline spans the node slots only: position 0 is the end of the beacon's slot.
    const double span = static_cast<uint32_t>(kTimeslotCount * slotDuration_);
    for (const NodeState *node : nodes_) {
        if (!node->answered)
            continue;
        QEventTimeslotWidgetEvent mark;
        mark.position = (double(node->delay) - double(slotDuration_)) / span;
        mark.label = QString::number(node->id);
        mark.color = QColor(node->inSlot ? Qt::darkGreen : Qt::darkRed);
        marks.append(mark);
    }
    return marks;
}

void TalvenNetwork::noteFault(verdict::FaultKind kind, uint16_t id,
                              const ardo::SharedBuffer<uint8_t> &payload, size_t ePduIndex,
                              size_t position)
{
    if (!judging_)
        return;
    verdict::PayloadFault fault;
    fault.kind = kind;
    fault.id = id;
    fault.payload = QByteArray(reinterpret_cast<const char *>(payload.data()),
                               static_cast<int>(payload.size()));
    fault.ePduIndex = ePduIndex;
    fault.position = position;
    judging_->faults.append(fault);
}

void TalvenNetwork::deleteNodes()
{
    currentNode_ = nullptr;
    qDeleteAll(nodes_);
    nodes_.clear();
}
