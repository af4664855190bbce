#include "drivers/nrflumbriodriver.h"
#include "gateway/talvennetwork.h"
#include "lumbrio-sim/faults.h"
#include "lumbrio-sim/options.h"
#include "lumbrio-sim/virtualnode.h"
#include "marloharness.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <algorithm>
#include <memory>

using marloharness::ToolProcess;

namespace {

const QString kSimulator = QStringLiteral(LUMBRIO_SIM_PATH);
constexpr quint16 kSimulatorPort = 8844;
constexpr int kNodes = 8;
constexpr int kCycleInterval = 330;
// Nodes answer in the middle of their slot: half a slot of latency (10 ms) makes a punctual node
// look late, or an early one punctual.
constexpr int kSlotDuration = 20;
constexpr quint32 kAllGroups = 0xFFFF;

// One engine line turned into "<what> <node>", e.g. "late 3"; empty for a line that is none of
// the expected kinds or whose numbers do not fit the node and the slot.
QString classify(const QString &line)
{
    static const QRegularExpression timing(
            QStringLiteral("^Received MPDU from sensor (\\d+) to (late|early): (\\d+) ms "
                           "\\(Should be between (\\d+) and (\\d+) ms\\)$"));
    static const QRegularExpression silent(
            QStringLiteral("^No MPDU as a response to the beacon from (\\d+)$"));
    static const QRegularExpression shortSample(
            QStringLiteral("^Invalid data for SV group 2 from node (\\d+) \\[[0-9a-f]{10}\\]$"));
    static const QRegularExpression longJoystick(
            QStringLiteral("^Invalid data for Event 8 from node (\\d+) \\[[0-9a-f]{4}\\]$"));
    static const QRegularExpression unknown(
            QStringLiteral("^Invalid data for Event 12 from node (\\d+) \\[[0-9a-f]{2}\\]$"));
    static const QRegularExpression broken(QStringLiteral(
            "^MPDU Format error detected at ePDU (\\d+) at position (\\d+) of node's' (\\d+) "
            "response\\.$"));

    QRegularExpressionMatch match = timing.match(line);
    if (match.hasMatch()) {
        const int node = match.captured(1).toInt();
        const int delay = match.captured(3).toInt();
        const int lower = (node + 1) * kSlotDuration;
        const int upper = (node + 2) * kSlotDuration;
        const bool late = match.captured(2) == QLatin1String("late");
        if (match.captured(4).toInt() != lower || match.captured(5).toInt() != upper
            || (late ? delay <= upper : delay >= lower))
            return QString();
        return match.captured(2) + QLatin1Char(' ') + match.captured(1);
    }
    if ((match = silent.match(line)).hasMatch())
        return QStringLiteral("silent ") + match.captured(1);
    if ((match = shortSample.match(line)).hasMatch()
        || (match = longJoystick.match(line)).hasMatch())
        return QStringLiteral("wrong-size ") + match.captured(1);
    if ((match = unknown.match(line)).hasMatch())
        return QStringLiteral("unknown-epdu ") + match.captured(1);
    if ((match = broken.match(line)).hasMatch()) {
        // The count claims one ePDU more than the node sent: two with the accelerometer sample
        // (ending at offset 16), one without it (ending at 9).
        const QString where = match.captured(1) + QLatin1Char('@') + match.captured(2);
        if (where != QLatin1String("2@21") && where != QLatin1String("1@14"))
            return QString();
        return QStringLiteral("broken-structure ") + match.captured(3);
    }
    return QString();
}

// The lines a cycle must bring, from the same seeded dice as the simulator's nodes. The engine
// misses only nodes it has heard before: a node silent from the start has no record yet.
QList<QStringList> expectedFaults(const lumbrio::Options &options, int cycles)
{
    QList<QStringList> expected;
    std::vector<lumbrio::FaultDice> dice;
    for (int id : options.nodes)
        dice.emplace_back(options.faults.value(id), options.seed, id);
    std::vector<bool> known(dice.size(), false);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        QStringList lines;
        for (size_t i = 0; i < dice.size(); ++i) {
            const lumbrio::Fault fault = dice[i].roll();
            if (fault == lumbrio::Fault::Silent && !known[i])
                continue;
            known[i] = true;
            if (fault != lumbrio::Fault::None)
                lines << lumbrio::faultName(fault) + QLatin1Char(' ')
                                 + QString::number(options.nodes[int(i)]);
        }
        lines.sort();
        expected << lines;
    }
    return expected;
}

// The simulator on its fixed port, and an engine with the registry's simulator driver, opened.
// The test holds the CTest resource lock lumbrio-port, so a taken port means something outside
// the test suite listens there.
class Rig
{
public:
    bool start(const QStringList &simulatorArguments, QString *failure)
    {
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, kSimulatorPort)) {
                *failure = QStringLiteral("port %1 is taken; stop whatever listens there (a "
                                          "running lumbrio-sim?) and run again: %2")
                                   .arg(kSimulatorPort)
                                   .arg(probe.errorString());
                return false;
            }
        }
        simulator_ = std::make_unique<ToolProcess>(kSimulator, simulatorArguments);
        if (!simulator_->waitForLine(QStringLiteral("listening"))) {
            *failure = QStringLiteral("lumbrio-sim did not start: ")
                       + QString::fromLocal8Bit(simulator_->process().readAllStandardError());
            return false;
        }

        const auto descriptors = talven::NetworkInterfaceDriver::Descriptor::availableDescriptors();
        std::unique_ptr<talven::NetworkInterfaceDriver> driver(descriptors.back()->instantiate());
        if (!driver->open()) {
            *failure = QStringLiteral("the simulator driver did not open");
            return false;
        }
        network.setNetworkInterfaceDriver(driver.release());
        return true;
    }

    // Runs `cycles` back to back, as the main window's continuous mode does. False on timeout.
    // A plain event loop, as in the application: QTest's waits sleep in 10 ms steps between
    // passes over the events, which would hold every reception back by up to 10 ms.
    bool run(int cycles, quint32 mask)
    {
        int finished = 0;
        QEventLoop loop;
        QTimer::singleShot(cycles * kCycleInterval + 30000, &loop, &QEventLoop::quit);
        QObject context;
        QObject::connect(&network, &TalvenNetwork::beaconSend, &context,
                         [&] { linesPerCycle << QStringList(); });
        QObject::connect(&network, &TalvenNetwork::error, &context, [&](const QString &line) {
            allLines << line;
            if (!linesPerCycle.isEmpty())
                linesPerCycle.last() << line;
        });
        QObject::connect(&network, &TalvenNetwork::receivedMpdu, &context, [&](int id) {
            ++received;
            const NodeState *node = network.nodeFor(uint8_t(id));
            // Twice the intended offset, so half slots stay whole numbers.
            const int lateness = 2 * node->delay - (2 * id + 3) * kSlotDuration;
            largestLateness2 = std::max(largestLateness2, lateness);
            ++latenessCounts[lateness];
            smallestLateness2 = std::min(smallestLateness2, lateness);
        });
        QObject::connect(&network, &TalvenNetwork::cycleFinished, &context, [&] {
            if (++finished < cycles)
                network.sendBeacon(kCycleInterval, kSlotDuration, mask);
            else
                loop.quit();
        });
        network.sendBeacon(kCycleInterval, kSlotDuration, mask);
        loop.exec();
        return finished == cycles;
    }

    // Declared first: the engine and its driver go before the simulator they talk to.
    std::unique_ptr<ToolProcess> simulator_;
    TalvenNetwork network;
    QStringList allLines;
    QList<QStringList> linesPerCycle;
    int received = 0;
    int largestLateness2 = -1000000;
    int smallestLateness2 = 1000000;
    QMap<int, int> latenessCounts;
};

} // namespace

// The whole simulator road: TalvenNetwork with the registry's NrfLumbrioDriver, lumbrio-sim as a
// child process playing nodes 0 to 7, short cycles on loopback.
class TestLumbrioGateway : public QObject
{
    Q_OBJECT

private slots:
    void healthyNodesCostNoErrors()
    {
        const int cycles = 50;
        Rig rig;
        QString failure;
        QVERIFY2(rig.start({"--nodes", "0-7", "--seed", "3"}, &failure), qPrintable(failure));
        QVERIFY2(rig.run(cycles, kAllGroups), "the cycles did not finish");

        qInfo("%d cycles, %d MPDUs; reception delay minus intended send offset: %.1f to %.1f ms",
              cycles, rig.received, rig.smallestLateness2 / 2.0, rig.largestLateness2 / 2.0);
        QStringList spread;
        for (auto it = rig.latenessCounts.cbegin(); it != rig.latenessCounts.cend(); ++it)
            spread << QStringLiteral("%1 ms: %2").arg(it.key() / 2.0).arg(it.value());
        qInfo("%s", qPrintable(spread.join(", ")));
        QCOMPARE(rig.allLines, QStringList());
        QCOMPARE(rig.received, cycles * kNodes);
        QCOMPARE(rig.network.nodes().size(), kNodes);
        const quint32 lastCycle = cycles - 1;
        for (const NodeState *node : rig.network.nodes()) {
            QCOMPARE(node->errorCount, 0u);
            QVERIFY(node->answered);
            QVERIFY(node->inSlot);
            const auto sample = lumbrio::accelerometerSample(node->id, lastCycle);
            QCOMPARE(node->accelerometer, QVector3D(sample[0], sample[1], sample[2]));
            QCOMPARE(node->joystick, uint32_t(lumbrio::joystickState(node->id, lastCycle)));
        }
    }

    void faultsShowForTheRightNodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<int>("cycles");

        QTest::newRow("node 3 late") << QStringList{"--node-fault", "3:late=1"} << kAllGroups << 4;
        QTest::newRow("node 0 early")
                << QStringList{"--node-fault", "0:early=1"} << kAllGroups << 4;
        QTest::newRow("node 7 early")
                << QStringList{"--node-fault", "7:early=1"} << kAllGroups << 4;
        QTest::newRow("node 2 silent half of the time")
                << QStringList{"--node-fault", "2:silent=0.5"} << kAllGroups << 8;
        QTest::newRow("node 6 short accelerometer sample")
                << QStringList{"--node-fault", "6:wrong-size=1"} << kAllGroups << 4;
        QTest::newRow("node 4 long joystick event without accelerometer")
                << QStringList{"--node-fault", "4:wrong-size=1"} << quint32(1) << 4;
        QTest::newRow("node 1 unknown ePDU")
                << QStringList{"--node-fault", "1:unknown-epdu=1"} << kAllGroups << 4;
        QTest::newRow("node 5 broken structure")
                << QStringList{"--node-fault", "5:broken-structure=1"} << kAllGroups << 4;
        QTest::newRow("node 5 broken structure without accelerometer")
                << QStringList{"--node-fault", "5:broken-structure=1"} << quint32(0) << 4;
        QTest::newRow("every fault now and then, seeded") << QStringList{"--seed",
                                                                         "9",
                                                                         "--silent",
                                                                         "0.1",
                                                                         "--late",
                                                                         "0.1",
                                                                         "--early",
                                                                         "0.1",
                                                                         "--wrong-size",
                                                                         "0.1",
                                                                         "--unknown-epdu",
                                                                         "0.1",
                                                                         "--broken-structure",
                                                                         "0.1"}
                                                          << kAllGroups << 12;
    }

    void faultsShowForTheRightNodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(quint32, mask);
        QFETCH(int, cycles);

        lumbrio::Options options;
        QString error;
        QCOMPARE(lumbrio::parseOptions(QStringList{"lumbrio-sim"} + arguments, &options, &error),
                 lumbrio::ParseResult::Run);
        const QList<QStringList> expected = expectedFaults(options, cycles);

        Rig rig;
        QString failure;
        QVERIFY2(rig.start(arguments, &failure), qPrintable(failure));
        QVERIFY2(rig.run(cycles, mask), "the cycles did not finish");

        QCOMPARE(rig.linesPerCycle.size(), cycles);
        for (int cycle = 0; cycle < cycles; ++cycle) {
            QStringList seen;
            for (const QString &line : rig.linesPerCycle[cycle]) {
                const QString kind = classify(line);
                QVERIFY2(!kind.isEmpty(), qPrintable(QStringLiteral("unexpected line: ") + line));
                seen << kind;
            }
            seen.sort();
            QVERIFY2(seen == expected[cycle],
                     qPrintable(QStringLiteral("cycle %1: got [%2], expected [%3]")
                                        .arg(cycle)
                                        .arg(seen.join(", "), expected[cycle].join(", "))));
        }
        int faults = 0;
        for (const QStringList &lines : expected)
            faults += lines.size();
        QVERIFY2(faults > 0, "the row brings no fault the engine can see");
    }
};

QTEST_GUILESS_MAIN(TestLumbrioGateway)

#include "tst_lumbriogateway.moc"
