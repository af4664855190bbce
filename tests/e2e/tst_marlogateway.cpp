#include "drivers/marloserialdriver.h"
#include "gateway/talvennetwork.h"
#include "marloharness.h"

#include <QtTest>

#include <algorithm>

using marloharness::ToolProcess;

namespace {

const QString kSimulator = QStringLiteral(LUMBRIO_SIM_PATH);
const QString kEmulator = QStringLiteral(MARLO_EMU_PATH);

constexpr int kCycles = 50;
constexpr int kNodes = 8;
// Nodes answer in the middle of their slot, so a frame may come half a slot early or late and
// still be judged punctual: 20 ms, room for a busy machine's scheduling. Node 7 answers 340 ms
// after the beacon.
constexpr int kSlotDuration = 40;
constexpr int kCycleInterval = 400;
constexpr quint32 kAccelerometerGroup = 1u << 2;

} // namespace

// The whole serial road: TalvenNetwork and its MarloSerialDriver on the pseudo-terminal of
// marlo-emu, whose radio is lumbrio-sim with eight healthy nodes.
class TestMarloGateway : public QObject
{
    Q_OBJECT

private slots:
    void healthyNodesCostNoErrors_data()
    {
        QTest::addColumn<QStringList>("lineFaults");

        QTest::newRow("clean line") << QStringList();
        QTest::newRow("noise and split") << QStringList{"--noise", "--split"};
    }

    void healthyNodesCostNoErrors()
    {
        QFETCH(QStringList, lineFaults);

        const QString port = QString::number(marloharness::freePort());
        ToolProcess simulator(kSimulator, {"--port", port, "--nodes", "0-7", "--seed", "11"});
        QVERIFY2(simulator.waitForLine("listening"),
                 qPrintable("lumbrio-sim did not start: "
                            + simulator.process().readAllStandardError()));
        ToolProcess emulator(kEmulator, QStringList{"--port", port, "--seed", "5"} + lineFaults);
        const QString path = emulator.readLine();
        QVERIFY2(path.startsWith("/dev/"), qPrintable("marlo-emu did not start: "
                                                      + emulator.process().readAllStandardError()));

        marloharness::DebugLog debug;
        QTest::ignoreMessage(QtDebugMsg, "link up");
        TalvenNetwork network;
        auto *driver = new MarloSerialDriver(path.toStdString());
        QVERIFY(driver->open());
        network.setNetworkInterfaceDriver(driver);

        QStringList errors;
        int received = 0;
        int cycles = 0;
        QVector<int> earliest(kNodes, kCycleInterval), latest(kNodes, -kCycleInterval);
        connect(&network, &TalvenNetwork::error, this,
                [&](const QString &line) { errors << line; });
        connect(&network, &TalvenNetwork::receivedMpdu, this, [&](int id) {
            ++received;
            if (id >= 0 && id < kNodes) {
                const int offset = network.nodeFor(uint8_t(id))->delay - (id + 1) * kSlotDuration;
                earliest[id] = std::min(earliest[id], offset);
                latest[id] = std::max(latest[id], offset);
            }
        });
        // Continuous operation, as the main window does it: the next beacon at each cycle's end.
        connect(&network, &TalvenNetwork::cycleFinished, this, [&] {
            if (++cycles < kCycles)
                network.sendBeacon(kCycleInterval, kSlotDuration, kAccelerometerGroup);
        });
        network.sendBeacon(kCycleInterval, kSlotDuration, kAccelerometerGroup);

        QTRY_COMPARE_WITH_TIMEOUT(cycles, kCycles, kCycles * kCycleInterval + 30000);

        qInfo("%d cycles, %d MPDUs, %d error lines; arrival within the slot, earliest..latest ms:",
              cycles, received, int(errors.size()));
        for (int id = 0; id < kNodes; ++id)
            qInfo("  node %d: %d..%d of %d", id, earliest[id], latest[id], kSlotDuration);

        QCOMPARE(errors, QStringList());
        QCOMPARE(received, kCycles * kNodes);
        QCOMPARE(network.nodes().size(), kNodes);
        for (const NodeState *node : network.nodes()) {
            QVERIFY2(node->id < kNodes, qPrintable(QString::number(node->id)));
            QCOMPARE(node->errorCount, 0u);
            QVERIFY(node->answered);
            QVERIFY(node->inSlot);
        }
        // The board said nothing but hello: no message of ours was refused.
        QCOMPARE(debug.lines, QStringList{"link up"});
    }
};

QTEST_GUILESS_MAIN(TestMarloGateway)

#include "tst_marlogateway.moc"
