#include "gatewaytesting.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTime>

#include <memory>

namespace {

uint32_t littleEndian(const QByteArray &frame, int offset, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uint8_t(frame.at(offset + i));
    return value;
}

int now()
{
    return QTime::currentTime().msecsSinceStartOfDay();
}

bool withinClockBracket(int before, int value, int after)
{
    // Midnight may fall between the two readings.
    return before <= after ? (before <= value && value <= after)
                           : (value >= before || value <= after);
}

// Counts the timer events that reach the engine, to see that the cycle timer stops itself.
class TimerCountingNetwork : public TalvenNetwork
{
public:
    int timerEvents = 0;

protected:
    void timerEvent(QTimerEvent *event) override
    {
        ++timerEvents;
        TalvenNetwork::timerEvent(event);
    }
};

} // namespace

class TestCycle : public QObject
{
    Q_OBJECT

private slots:
    void answersToItsMetaObjectNames_data();
    void answersToItsMetaObjectNames();
    void beaconBytes_data();
    void beaconBytes();
    void refusesBeaconWhileCycleRuns();
    void beaconMarksNodesPending();
    void cycleEnd_data();
    void cycleEnd();
    void cycleTimerFiresOncePerCycle();
    void cycleFinishedCanStartNextCycle();
    void clearingFromCycleEndReport();
    void beaconWithoutDriver();
    void negativeIntervalStillEndsCycle();
    void replacingDriver_data();
    void replacingDriver();
    void destructionKeepsDriverOutOfEngine_data();
    void destructionKeepsDriverOutOfEngine();
};

void TestCycle::answersToItsMetaObjectNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("base"); // 0 none, 1 model, 2 data source, 3 decompose delegate

    QTest::newRow("own class name") << QByteArray("TalvenNetwork") << 1;
    QTest::newRow("table model") << QByteArray("QAbstractTableModel") << 1;
    QTest::newRow("timeline data source") << QByteArray("QEventTimeslotWidgetDatasource") << 2;
    QTest::newRow("decompose delegate") << QByteArray("MultiPdu::DecomposeDelegate") << 3;
    QTest::newRow("delegate with namespace is not a name")
            << QByteArray("talven::MultiPdu::DecomposeDelegate") << 0;
}

void TestCycle::answersToItsMetaObjectNames()
{
    QFETCH(QByteArray, name);
    QFETCH(int, base);

    TalvenNetwork network;
    QCOMPARE(network.metaObject()->className(), "TalvenNetwork");

    void *expected = nullptr;
    if (base == 1)
        expected = static_cast<QAbstractTableModel *>(&network);
    else if (base == 2)
        expected = static_cast<QEventTimeslotWidgetDatasource *>(&network);
    else if (base == 3)
        expected = static_cast<MultiPdu::DecomposeDelegate *>(&network);
    QCOMPARE(network.qt_metacast(name.constData()), expected);
}

void TestCycle::beaconBytes_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("slot");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<QByteArray>("tail"); // bytes 10 to 16: interval, slot duration, mask

    QTest::newRow("start-up defaults, all groups")
            << 2013 << 50 << quint32(0xFFFF) << bytes("dd0700 3200 ffff");
    QTest::newRow("groups 0 and 4") << 1000 << 30 << quint32(0x11) << bytes("e80300 1e00 1100");
    QTest::newRow("groups above 15 never reach the frame")
            << 1000 << 30 << quint32(0xFFFF0011) << bytes("e80300 1e00 1100");
    QTest::newRow("only groups above 15")
            << 1000 << 30 << quint32(0x80010000) << bytes("e80300 1e00 0000");
    QTest::newRow("slot duration over 16 bits sends its low bits")
            << 2013 << 70000 << quint32(0x4) << bytes("dd0700 7011 0400");
    QTest::newRow("interval needing all 24 bits")
            << 0xABCDEF << 50 << quint32(0) << bytes("efcdab 3200 0000");
    QTest::newRow("interval of 2^24 is sent as 0")
            << (1 << 24) << 50 << quint32(0) << bytes("000000 3200 0000");
}

void TestCycle::beaconBytes()
{
    QFETCH(int, interval);
    QFETCH(int, slot);
    QFETCH(quint32, mask);
    QFETCH(QByteArray, tail);

    Bench bench;
    QCOMPARE(bench.network.beaconTime(), 0);
    int transmittedBeforeSignal = -1;
    connect(&bench.network, &TalvenNetwork::beaconSend, this,
            [&] { transmittedBeforeSignal = bench.driver->transmitted.size(); });

    const int before = now();
    bench.network.sendBeacon(interval, slot, mask);
    const int after = now();

    QCOMPARE(transmittedBeforeSignal, 0);
    QCOMPARE(bench.driver->transmitted.size(), 1);
    const QByteArray beacon = bench.driver->transmitted.first();
    QCOMPARE(beacon.size(), 17);
    QCOMPARE(beacon.left(6), bytes("c7c7c7c7 0c 00"));
    const uint32_t networkTime = littleEndian(beacon, 6, 4);
    QVERIFY2(withinClockBracket(before, int(networkTime), after),
             qPrintable(QStringLiteral("%1 not within %2..%3")
                                .arg(networkTime)
                                .arg(before)
                                .arg(after)));
    QCOMPARE(bench.network.beaconTime(), int(networkTime));
    QCOMPARE(beacon.mid(10), tail);
}

void TestCycle::refusesBeaconWhileCycleRuns()
{
    Bench bench;
    QSignalSpy started(&bench.network, &TalvenNetwork::beaconSend);
    bench.network.sendBeacon(60000, 50, 0xFFFF);
    const int firstBeaconTime = bench.network.beaconTime();

    // The clock has to move on, or an accepted second beacon could not be told by its time.
    QVERIFY(QTest::qWaitFor([&] { return now() != firstBeaconTime; }, 5000));
    bench.network.sendBeacon(60000, 10, 0x1);

    QCOMPARE(started.count(), 1);
    QCOMPARE(bench.driver->transmitted.size(), 1);
    QCOMPARE(bench.network.beaconTime(), firstBeaconTime);

    // Still judged with the first beacon's slot duration: 100 ms is node 0's upper bound at 50,
    // but late at 10.
    bench.receiveAfterBeacon(100, mpdu(0, 0));
    QCOMPARE(bench.log.lines, QStringList());
    QVERIFY(bench.network.nodes().first()->inSlot);
}

void TestCycle::beaconMarksNodesPending()
{
    Bench bench;
    bench.network.sendBeacon(60, 50, 0xFFFF);
    bench.receiveAfterBeacon(150, mpdu(1, 3, "16 e803 18fc 0000  c1 04  00"));
    QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);
    QVERIFY(finished.wait(10000));
    NodeState *node = bench.network.nodes().first();
    QCOMPARE(node->answered, true);
    QCOMPARE(node->inSlot, true);
    QCOMPARE(node->errorCount, 1u);

    bench.network.sendBeacon(60000, 50, 0xFFFF);

    QCOMPARE(node->answered, false);
    QCOMPARE(node->delay, int16_t(-1));
    QCOMPARE(node->inSlot, false);
    QCOMPARE(node->errorCount, 1u);
    QCOMPARE(node->joystick, 4u);
    QCOMPARE(node->accelerometer, QVector3D(1000, -1000, 0));
}

void TestCycle::cycleEnd_data()
{
    QTest::addColumn<QList<int>>("known");
    QTest::addColumn<QList<int>>("answering");
    QTest::addColumn<QStringList>("expected");

    const QString finished = QStringLiteral("<cycle finished>");
    QTest::newRow("no node records") << QList<int>() << QList<int>() << QStringList{finished};
    QTest::newRow("node 3 answers, node 7 is silent")
            << QList<int>{3, 7} << QList<int>{3}
            << QStringList{"No MPDU as a response to the beacon from 7", finished};
    QTest::newRow("silent nodes reported by ascending id")
            << QList<int>{12, 3, 127, 0} << QList<int>()
            << QStringList{"No MPDU as a response to the beacon from 0",
                           "No MPDU as a response to the beacon from 3",
                           "No MPDU as a response to the beacon from 12",
                           "No MPDU as a response to the beacon from 127", finished};
    QTest::newRow("everybody answers")
            << QList<int>{2, 1} << QList<int>{1, 2} << QStringList{finished};
}

void TestCycle::cycleEnd()
{
    QFETCH(QList<int>, known);
    QFETCH(QList<int>, answering);
    QFETCH(QStringList, expected);

    Bench bench;
    for (int id : known)
        bench.network.nodeFor(uint8_t(id));
    QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);
    QElapsedTimer clock;
    clock.start();
    bench.network.sendBeacon(80, 10, 0);
    for (int id : answering)
        bench.receiveAfterBeacon((id + 1) * 10, mpdu(id, 0));

    QVERIFY(finished.wait(10000));
    QVERIFY2(clock.elapsed() >= 80, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(bench.log.lines, expected);
    for (const NodeState *node : bench.network.nodes()) {
        const bool answered = answering.contains(node->id);
        QCOMPARE(node->errorCount, answered ? 0u : 1u);
        QCOMPARE(node->delay, int16_t(answered ? (node->id + 1) * 10 : 0));
    }
}

void TestCycle::cycleTimerFiresOncePerCycle()
{
    TimerCountingNetwork network;
    QSignalSpy finished(&network, &TalvenNetwork::cycleFinished);
    network.sendBeacon(20, 10, 0);
    QVERIFY(finished.wait(10000));

    // Ten more intervals: a timer left running would have fired again by now.
    QVERIFY(!finished.wait(200));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(network.timerEvents, 1);
}

void TestCycle::cycleFinishedCanStartNextCycle()
{
    Bench bench;
    QSignalSpy started(&bench.network, &TalvenNetwork::beaconSend);
    int cycles = 0;
    connect(&bench.network, &TalvenNetwork::cycleFinished, this, [&] {
        if (++cycles < 3)
            bench.network.sendBeacon(30, 5, 0xFFFF);
    });

    bench.network.sendBeacon(30, 5, 0xFFFF);

    QTRY_COMPARE_WITH_TIMEOUT(cycles, 3, 10000);
    QCOMPARE(started.count(), 3);
    QCOMPARE(bench.driver->transmitted.size(), 3);
}

void TestCycle::clearingFromCycleEndReport()
{
    Bench bench;
    bench.network.nodeFor(1);
    bench.network.nodeFor(2);
    connect(&bench.network, &TalvenNetwork::error, &bench.network, &TalvenNetwork::clearNodes);
    QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);

    bench.network.sendBeacon(30, 10, 0);

    QVERIFY(finished.wait(10000));
    QCOMPARE(bench.log.lines,
             (QStringList{"No MPDU as a response to the beacon from 1", "<cycle finished>"}));
    QCOMPARE(bench.network.rowCount(), 0);
}

void TestCycle::beaconWithoutDriver()
{
    TalvenNetwork network;
    network.nodeFor(4);
    QSignalSpy started(&network, &TalvenNetwork::beaconSend);
    QSignalSpy finished(&network, &TalvenNetwork::cycleFinished);
    QSignalSpy lines(&network, &TalvenNetwork::error);

    const int before = now();
    network.sendBeacon(50, 10, 0xFFFF);

    QCOMPARE(started.count(), 1);
    QVERIFY(withinClockBracket(before, network.beaconTime(), now()));
    QVERIFY(finished.wait(10000));
    QCOMPARE(lines.count(), 1);
    QCOMPARE(lines.first().first().toString(),
             QStringLiteral("No MPDU as a response to the beacon from 4"));
}

void TestCycle::negativeIntervalStillEndsCycle()
{
    Bench bench;
    QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);

    bench.network.sendBeacon(-5, 50, 0);

    QCOMPARE(bench.driver->transmitted.size(), 1);
    QCOMPARE(bench.driver->transmitted.first().mid(10, 3), bytes("000000"));
    QVERIFY(finished.wait(10000));
    bench.network.sendBeacon(60000, 50, 0);
    QCOMPARE(bench.driver->transmitted.size(), 2);
}

void TestCycle::replacingDriver_data()
{
    QTest::addColumn<int>("replacement"); // 0 a second driver, 1 the same driver, 2 none

    QTest::newRow("a second driver") << 0;
    QTest::newRow("the installed driver again") << 1;
    QTest::newRow("no driver") << 2;
}

void TestCycle::replacingDriver()
{
    QFETCH(int, replacement);

    RecordingDriver::Probe firstProbe;
    TalvenNetwork network;
    auto *first = new RecordingDriver(&firstProbe);
    first->frameOnDestruction = mpdu(9, 0);
    network.setNetworkInterfaceDriver(first);
    QSignalSpy lines(&network, &TalvenNetwork::error);

    RecordingDriver *second = replacement == 0   ? new RecordingDriver
                              : replacement == 1 ? first
                                                 : nullptr;
    network.setNetworkInterfaceDriver(second);

    QCOMPARE(firstProbe.destroyed, replacement != 1);
    QCOMPARE(firstProbe.handlerCalledOnDestruction, false);
    QCOMPARE(lines.count(), 0);
    QCOMPARE(network.rowCount(), 0);

    network.sendBeacon(60000, 50, 0);
    if (second) {
        QVERIFY(second->hasHandler());
        QCOMPARE(second->transmitted.size(), 1);
        QVERIFY(second->deliver(0, bytes("")));
        QCOMPARE(lines.count(), 1);
    }
}

void TestCycle::destructionKeepsDriverOutOfEngine_data()
{
    QTest::addColumn<QByteArray>("lastFrame");
    QTest::addColumn<bool>("cycleRuns");

    QTest::newRow("MPDU of a known node during a cycle") << mpdu(2, 1, "c1 04") << true;
    QTest::newRow("MPDU of a new node outside a cycle") << mpdu(8, 0) << false;
    QTest::newRow("echo of a beacon") << bytes("c7c7c7c7 0c 00 00000000 000000 0000 0000") << true;
}

void TestCycle::destructionKeepsDriverOutOfEngine()
{
    QFETCH(QByteArray, lastFrame);
    QFETCH(bool, cycleRuns);

    RecordingDriver::Probe probe;
    auto network = std::make_unique<TalvenNetwork>();
    auto *driver = new RecordingDriver(&probe);
    driver->frameOnDestruction = lastFrame;
    network->setNetworkInterfaceDriver(driver);
    network->nodeFor(2);
    if (cycleRuns)
        network->sendBeacon(60000, 50, 0);
    QSignalSpy lines(network.get(), &TalvenNetwork::error);
    QSignalSpy received(network.get(), &TalvenNetwork::receivedMpdu);

    network.reset();

    QVERIFY(probe.destroyed);
    QVERIFY(!probe.handlerCalledOnDestruction);
    QCOMPARE(lines.count(), 0);
    QCOMPARE(received.count(), 0);
}

QTEST_GUILESS_MAIN(TestCycle)
#include "tst_cycle.moc"
