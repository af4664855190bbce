#include "drivers/marloserialdriver.h"
#include "gateway/talvennetwork.h"
#include "lumbrio-sim/options.h"
#include "lumbrio-sim/virtualnode.h"
#include "lumbrio-sim/wire.h"
#include "tool.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <memory>

using lumbrio::Fault;

namespace {

constexpr int kNodes = 8;

// The engine's line for a node's fault, as a pattern.
QString linePattern(Fault fault, int node, int slot)
{
    const QString id = QString::number(node);
    switch (fault) {
    case Fault::Late:
    case Fault::Early:
        return QStringLiteral("Received MPDU from sensor %1 to %2: \\d+ ms \\(Should be between "
                              "%3 and %4 ms\\)")
                .arg(id, fault == Fault::Late ? "late" : "early")
                .arg((node + 1) * slot)
                .arg((node + 2) * slot);
    case Fault::Silent:
        return "No MPDU as a response to the beacon from " + id;
    case Fault::WrongSize:
        return "Invalid data for SV group 2 from node " + id + " \\[[0-9a-f]{10}\\]";
    case Fault::UnknownEpdu:
        return "Invalid data for Event 12 from node " + id + " \\[[0-9a-f]{2}\\]";
    case Fault::BrokenStructure:
        // The count claims one ePDU more than the node sent: the error is at the frame's end.
        return "MPDU Format error detected at ePDU 2 at position 21 of node's' " + id
               + " response\\.";
    default:
        return QString();
    }
}

} // namespace

// The gateway engine in short real cycles with eight virtual nodes of lumbrio-sim, through the
// registry's simulator driver (on the simulator's fixed port) or through the serial driver on the
// terminal of marlo-emu.
class TestGateway : public QObject
{
    Q_OBJECT

private slots:
    void cycles_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QString>("lineFaults");
        QTest::addColumn<QString>("nodeFaults");
        QTest::addColumn<int>("cycles");

        QTest::newRow("healthy, simulator driver") << false << ""
                                                   << "" << 50;
        QTest::newRow("healthy, marlo-emu adding noise and splitting messages")
                << true << "--noise --split"
                << "" << 50;
        // Each node its own fault, every time (node 2 half of the time); node 3 and 4 healthy.
        QTest::newRow("a fault per node, simulator driver")
                << false << ""
                << "--node-fault 7:late=1 --node-fault 0:early=1 --node-fault 2:silent=0.5 "
                   "--node-fault 6:wrong-size=1 --node-fault 1:unknown-epdu=1 "
                   "--node-fault 5:broken-structure=1"
                << 8;
        QTest::newRow("every fault now and then, seeded, through marlo-emu")
                << true << ""
                << "--seed 9 --silent 0.1 --late 0.1 --early 0.1 --wrong-size 0.1 "
                   "--unknown-epdu 0.1 --broken-structure 0.1"
                << 12;
    }

    void cycles()
    {
        QFETCH(bool, serial);
        QFETCH(QString, lineFaults);
        QFETCH(QString, nodeFaults);
        QFETCH(int, cycles);
        const QStringList simulatorOptions = nodeFaults.split(' ', Qt::SkipEmptyParts);
        // Nodes answer in the middle of their slot: half a slot of latency makes a punctual node
        // look late. Through the board, wider slots: two more processes on a busy machine.
        const int slot = serial ? 40 : 20, interval = serial ? 400 : 330;
        lumbrio::Options options;
        QString error;
        QCOMPARE(lumbrio::parseOptions(QStringList{"lumbrio-sim"} + simulatorOptions, &options,
                                       &error),
                 lumbrio::ParseResult::Run);

        const QString port = serial ? freePort() : "8844";
        Tool simulator(LUMBRIO_SIM_PATH, QStringList{"--port", port} + simulatorOptions);
        QVERIFY2(!simulator.waitForLine("listening").isEmpty(),
                 simulator.readAllStandardError().constData());
        std::unique_ptr<Tool> emulator;
        std::unique_ptr<talven::NetworkInterfaceDriver> driver;
        if (serial) {
            emulator = std::make_unique<Tool>(MARLO_EMU_PATH,
                                              QStringList{"--port", port, "--seed", "5"}
                                                      + lineFaults.split(' ', Qt::SkipEmptyParts));
            const QString path = emulator->waitForLine("/dev/");
            QVERIFY2(!path.isEmpty(), emulator->readAllStandardError().constData());
            QTest::ignoreMessage(QtDebugMsg, "link up");
            driver = std::make_unique<MarloSerialDriver>(path.toStdString());
        } else {
            driver.reset(talven::NetworkInterfaceDriver::Descriptor::availableDescriptors()
                                 .back()
                                 ->instantiate());
        }
        QVERIFY(driver->open());
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver.release());

        // Cycles back to back, as continuous mode runs them, in a plain event loop as in the
        // application: QTest's waits sleep in 10 ms steps, which would hold receptions back.
        QList<QStringList> lines{QStringList()}; // the first for lines before the first beacon
        int finished = 0, received = 0, earliest2 = INT_MAX, latest2 = INT_MIN;
        QEventLoop loop;
        QTimer::singleShot(cycles * interval + 30000, &loop, &QEventLoop::quit);
        connect(&network, &TalvenNetwork::beaconSend, &loop, [&] { lines << QStringList(); });
        connect(&network, &TalvenNetwork::error, &loop,
                [&](const QString &line) { lines.last() << line; });
        connect(&network, &TalvenNetwork::receivedMpdu, &loop, [&](int id) {
            ++received;
            // Twice the reception delay minus the intended send offset: half slots stay whole.
            const int lateness2 = 2 * network.nodeFor(uint8_t(id))->delay - (2 * id + 3) * slot;
            earliest2 = std::min(earliest2, lateness2);
            latest2 = std::max(latest2, lateness2);
        });
        connect(&network, &TalvenNetwork::cycleFinished, &loop, [&] {
            if (++finished < cycles)
                network.sendBeacon(interval, slot, 0xFFFF);
            else
                loop.quit();
        });
        network.sendBeacon(interval, slot, 0xFFFF);
        loop.exec();
        QCOMPARE(finished, cycles);
        QCOMPARE(lines.takeFirst(), QStringList());

        // The same seeded dice as the nodes'. The engine misses only nodes it has heard before.
        std::vector<lumbrio::FaultDice> dice;
        for (int id : qAsConst(options.nodes))
            dice.emplace_back(options.faults.value(id), options.seed, id);
        QSet<int> known;
        int faults = 0;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (size_t i = 0; i < dice.size(); ++i) {
                const int node = options.nodes[int(i)];
                const Fault fault = dice[i].roll();
                if (fault == Fault::Silent && !known.contains(node))
                    continue;
                known << node;
                if (fault == Fault::None)
                    continue;
                ++faults;
                const int at
                        = lines[cycle].indexOf(QRegularExpression(linePattern(fault, node, slot)));
                QVERIFY2(at >= 0, qPrintable(QStringLiteral("cycle %1: no %2 line for node %3")
                                                     .arg(cycle)
                                                     .arg(lumbrio::faultName(fault))
                                                     .arg(node)));
                lines[cycle].removeAt(at);
            }
            QVERIFY2(lines[cycle].isEmpty(), qPrintable(QStringLiteral("cycle %1: unexpected %2")
                                                                .arg(cycle)
                                                                .arg(lines[cycle].join(" | "))));
        }
        QCOMPARE(faults > 0, !nodeFaults.isEmpty());
        if (faults > 0)
            return;

        qInfo("%d MPDUs; reception delay minus intended send offset: %.1f to %.1f ms", received,
              earliest2 / 2.0, latest2 / 2.0);
        QCOMPARE(received, cycles * kNodes);
        QCOMPARE(network.nodes().size(), kNodes);
        for (const NodeState *node : network.nodes()) {
            QVERIFY(node->answered && node->inSlot && node->errorCount == 0);
            const auto sample = lumbrio::accelerometerSample(node->id, quint32(cycles - 1));
            QCOMPARE(node->accelerometer, QVector3D(sample[0], sample[1], sample[2]));
            QCOMPARE(node->joystick,
                     uint32_t(lumbrio::joystickState(node->id, quint32(cycles - 1))));
        }
    }

    // marlo-emu starts every message with a false sync byte and a few random bytes: the serial
    // driver still hands over every frame, in order.
    void serialFalseStartsLoseNothing()
    {
        QTcpServer radio;
        QVERIFY(radio.listen(QHostAddress::LocalHost));
        Tool emulator(MARLO_EMU_PATH, QStringList{"--port", QString::number(radio.serverPort()),
                                                  "--noise-sync", "--seed", "3"});
        QVERIFY2(radio.waitForNewConnection(10000), "the emulator did not connect");
        QTcpSocket *air = radio.nextPendingConnection();
        const QString path = emulator.waitForLine("/dev/");
        QVERIFY2(!path.isEmpty(), emulator.readAllStandardError().constData());
        QTest::ignoreMessage(QtDebugMsg, "link up");
        MarloSerialDriver driver(path.toStdString());
        QStringList delivered;
        driver.setReceiveHandler([&](talven::NetworkInterfaceDriver &, uint32_t,
                                     const uint8_t *data, size_t length) {
            delivered << QByteArray(reinterpret_cast<const char *>(data), int(length)).toHex();
        });
        QVERIFY(driver.open());
        // The link command leaves the port from the event loop.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += emulator.readAllStandardOutput()).contains("link up"),
                                 10000);

        // A false start that claims a long message holds the frames behind it until that many
        // bytes have come: the second half only pushes the first through.
        QStringList sent;
        for (int i = 0; i < 60; ++i) {
            const QByteArray frame = QByteArray::fromHex("e2e2e2e2 05 81 01 c1") + char(i);
            sent << frame.toHex();
            air->write(lumbrio::encodeFrameMessage(frame));
        }
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() >= 30, 10000);
        QCOMPARE(delivered.mid(0, 30), sent.mid(0, 30));
    }
};

QTEST_GUILESS_MAIN(TestGateway)

#include "tst_gateway.moc"
