#pragma once

#include "gateway/cycledeadline.h"
#include "gateway/nodestate.h"
#include "gateway/runstatistics.h"
#include "gateway/verdict.h"
#include "mdw/talven/frame.h"
#include "mdw/talven/networkinterfacedriver.h"
#include "widgets/qeventtimeslotwidgetdatasource.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The meta-object names the delegate base as written in the class head below.
using talven::MultiPdu;

// The simulated gateway of the TALVEN network. It runs the TDMA cycle through its driver (one
// beacon, then one cycle interval), judges every received MPDU against its node's slot, decodes
// the accelerometer (SV group 2) and joystick (event 8) payloads, counts every fault per node and
// shows the node records as a five-column table model and as the cycle timeline's data source.
//
// Owns the driver it is given and the node records. Signals: beaconSend when a cycle starts,
// receivedMpdu after an MPDU of a running cycle was judged and decoded, cycleFinished when the
// cycle timer closed the cycle, error for every line of log text, linkStateChanged when the
// driver's link is lost or back (a lost link is logged once; silent nodes are not charged for
// a cycle during which the link was down). Everything, including the
// driver's receive handler, runs on the GUI thread. Besides its log lines, it reports every
// judgement as data to its verdict observers, first of all to its own run statistics.
class TalvenNetwork :
    public QAbstractTableModel,
    public QEventTimeslotWidgetDatasource,
    public MultiPdu::DecomposeDelegate
{
    Q_OBJECT

public:
    TalvenNetwork();
    ~TalvenNetwork() override;

    TalvenNetwork(const TalvenNetwork &) = delete;
    TalvenNetwork &operator=(const TalvenNetwork &) = delete;

    // Takes ownership of `driver` and installs the receive handler on it. An earlier, different
    // driver loses its handler and is deleted; null leaves the engine without a driver.
    void setNetworkInterfaceDriver(talven::NetworkInterfaceDriver *driver);

    // Starts a cycle unless one is running. Without a driver the cycle runs but nothing is sent.
    void sendBeacon(int cycleInterval, int slotDuration, quint32 svGroupMask);
    void clearNodes();
    int beaconTime() const;
    // The record of node `id`, created (with a model reset) when the node is new.
    NodeState *nodeFor(uint8_t id);
    // The node records, sorted by id; owned by the engine.
    const QList<NodeState *> &nodes() const;

    // Observers are not owned and must outlive the engine or be removed first.
    void addObserver(verdict::Observer *observer);
    void removeObserver(verdict::Observer *observer);
    // The figures of the run since the start or the last clearNodes.
    const RunStatistics &statistics() const;
    // False from a link loss the driver reported until it reports the link back.
    bool isLinkUp() const;
    // The number of the running or last cycle; 0 before the first beacon.
    verdict::CycleNumber cycle() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    int timeslotCount() const override;
    QList<QEventTimeslotWidgetEvent> events() const override;

    void onSvGroup(const MultiPdu &mpdu, uint8_t group,
                   const ardo::SharedBuffer<uint8_t> &payload) override;
    void onEvent(const MultiPdu &mpdu, uint16_t eventId,
                 const ardo::SharedBuffer<uint8_t> &payload) override;
    void onFormatError(const MultiPdu &mpdu, size_t ePduIndex, size_t position) override;

signals:
    void beaconSend();
    void receivedMpdu(int nodeId);
    void cycleFinished();
    void error(QString error);
    // The driver's link went down or is back; the log has said so first.
    void linkStateChanged(bool up);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void receive(uint32_t receptionTime, const uint8_t *data, size_t length);
    void receiveMpdu(const talven::Frame &frame, verdict::Frame &report);
    void deleteNodes();
    void linkChanged(bool up, const std::string &what);
    void noteFault(verdict::FaultKind kind, uint16_t id, const ardo::SharedBuffer<uint8_t> &payload,
                   size_t ePduIndex = 0, size_t position = 0);
    template<typename Report>
    void tellObservers(Report report);

    std::unique_ptr<talven::NetworkInterfaceDriver> driver_;
    QList<NodeState *> nodes_;
    int beaconTime_ = 0;
    int cycleTimerId_ = -1;
    // Ends the cycle on time; the cycle timer stays, as the state and the fallback.
    CycleDeadline cycleDeadline_;
    NodeState *currentNode_ = nullptr;
    uint32_t slotDuration_ = 0;

    RunStatistics statistics_;
    QVector<verdict::Observer *> observers_;
    verdict::CycleNumber cycle_ = 0;
    uint16_t svGroupMask_ = 0;
    // The verdict of the MPDU being decoded, collecting its payload faults.
    verdict::Frame *judging_ = nullptr;
    bool linkUp_ = true;
    // The link was down at some time since the running cycle's beacon: its silence is no node's.
    bool linkDownInCycle_ = false;
};
