#include "gatewaytesting.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Records where the bytes handed to the delegate live, then decodes as usual.
class PointerWatchingNetwork : public TalvenNetwork
{
public:
    void onSvGroup(const MultiPdu &mpdu, uint8_t group,
                   const ardo::SharedBuffer<uint8_t> &payload) override
    {
        frames << mpdu.data();
        payloads << payload.data();
        TalvenNetwork::onSvGroup(mpdu, group, payload);
    }
    void onEvent(const MultiPdu &mpdu, uint16_t eventId,
                 const ardo::SharedBuffer<uint8_t> &payload) override
    {
        frames << mpdu.data();
        payloads << payload.data();
        TalvenNetwork::onEvent(mpdu, eventId, payload);
    }
    void onFormatError(const MultiPdu &mpdu, size_t ePduIndex, size_t position) override
    {
        frames << mpdu.data();
        TalvenNetwork::onFormatError(mpdu, ePduIndex, position);
    }

    QList<const uint8_t *> frames;
    QList<const uint8_t *> payloads;
};

} // namespace

class TestReception : public QObject
{
    Q_OBJECT

private slots:
    void nonMpduFrames_data();
    void nonMpduFrames();
    void slotJudgement_data();
    void slotJudgement();
    void secondMpduInSameCycle();
    void mpduOutsideCycle_data();
    void mpduOutsideCycle();
    void payloads_data();
    void payloads();
    void formatErrors_data();
    void formatErrors();
    void receivedBytesAreNotCopied();
    void clearingFromLogLine_data();
    void clearingFromLogLine();
};

void TestReception::nonMpduFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("nullPointer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("echo of a beacon")
            << bytes("c7c7c7c7 0c 00 02010000 e80300 1e00 1100") << false
            << "Received Beacon frame: c7 c7 c7 c7 0c 00 02 01 00 00 e8 03 00 1e 00 11 00 ";
    QTest::newRow("shortest beacon")
            << bytes("c7c7c7c7 01 7f") << false << "Received Beacon frame: c7 c7 c7 c7 01 7f ";
    QTest::newRow("one byte short of a type")
            << bytes("e2e2e2e2 00") << false << "Received invalid frame: e2 e2 e2 e2 00 ";
    QTest::newRow("no bytes") << QByteArray() << false << "Received invalid frame: ";
    QTest::newRow("no bytes and no pointer") << QByteArray() << true << "Received invalid frame: ";
    QTest::newRow("a length but no pointer")
            << bytes("e2e2e2e2 02 85 00") << true << "Received invalid frame: ";
}

void TestReception::nonMpduFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, nullPointer);
    QFETCH(QString, expected);

    Bench bench;
    bench.network.sendBeacon(60000, 50, 0);
    QSignalSpy received(&bench.network, &TalvenNetwork::receivedMpdu);

    if (nullPointer)
        bench.driver->deliver(123, nullptr, size_t(frame.size()));
    else
        bench.receiveAfterBeacon(100, frame);

    QCOMPARE(bench.log.lines, QStringList{expected});
    QCOMPARE(received.count(), 0);
    QCOMPARE(bench.network.rowCount(), 0);
}

void TestReception::slotJudgement_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("node");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("delay");

    QTest::newRow("lower bound is inside") << 50 << 3 << qint64(200) << QString() << 200;
    QTest::newRow("upper bound is inside") << 50 << 3 << qint64(250) << QString() << 250;
    QTest::newRow("one ms early")
            << 50 << 3 << qint64(199)
            << "Received MPDU from sensor 3 to early: 199 ms (Should be between 200 and 250 ms)"
            << 199;
    QTest::newRow("one ms late")
            << 50 << 3 << qint64(251)
            << "Received MPDU from sensor 3 to late: 251 ms (Should be between 200 and 250 ms)"
            << 251;
    QTest::newRow("at the beacon itself")
            << 50 << 3 << qint64(0)
            << "Received MPDU from sensor 3 to early: 0 ms (Should be between 200 and 250 ms)" << 0;
    QTest::newRow("node 0 owns the first slot after the beacon's")
            << 50 << 0 << qint64(50) << QString() << 50;
    QTest::newRow("node 0 inside the beacon's slot")
            << 50 << 0 << qint64(49)
            << "Received MPDU from sensor 0 to early: 49 ms (Should be between 50 and 100 ms)"
            << 49;
    QTest::newRow("node 127 upper bound") << 50 << 127 << qint64(6450) << QString() << 6450;
    QTest::newRow("node 127 one ms late")
            << 50 << 127 << qint64(6451)
            << "Received MPDU from sensor 127 to late: 6451 ms (Should be between 6400 and 6450 ms)"
            << 6451;
    QTest::newRow("slot over 16 bits judged in full")
            << 70000 << 0 << qint64(70000) << QString() << int(int16_t(70000));
    QTest::newRow("stamped 5 ms before the beacon wraps around")
            << 50 << 3 << qint64(-5)
            << "Received MPDU from sensor 3 to late: 4294967291 ms (Should be between 200 and 250 "
               "ms)"
            << -5;
    QTest::newRow("delay of 32768 ms reads negative")
            << 50 << 3 << qint64(32768)
            << "Received MPDU from sensor 3 to late: 32768 ms (Should be between 200 and 250 ms)"
            << -32768;
}

void TestReception::slotJudgement()
{
    QFETCH(int, slot);
    QFETCH(int, node);
    QFETCH(qint64, offset);
    QFETCH(QString, expected);
    QFETCH(int, delay);

    Bench bench;
    bench.network.sendBeacon(60000, slot, 0);
    QSignalSpy received(&bench.network, &TalvenNetwork::receivedMpdu);

    bench.receiveAfterBeacon(offset, mpdu(node, 0));

    QCOMPARE(bench.log.lines, expected.isNull() ? QStringList() : QStringList{expected});
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.first().first().toInt(), node);
    const NodeState *state = bench.network.nodeFor(uint8_t(node));
    QCOMPARE(state->answered, true);
    QCOMPARE(state->inSlot, expected.isNull());
    QCOMPARE(state->errorCount, expected.isNull() ? 0u : 1u);
    QCOMPARE(int(state->delay), delay);
}

void TestReception::secondMpduInSameCycle()
{
    Bench bench;
    bench.network.sendBeacon(60000, 50, 0);

    bench.receiveAfterBeacon(220, mpdu(3, 0));
    bench.receiveAfterBeacon(300, mpdu(3, 0));

    const NodeState *state = bench.network.nodes().first();
    QCOMPARE(bench.network.nodes().size(), 1);
    QCOMPARE(int(state->delay), 300);
    QCOMPARE(state->inSlot, true);
    QCOMPARE(state->errorCount, 1u);
}

void TestReception::mpduOutsideCycle_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("afterCycle");

    QTest::newRow("new node before any beacon") << false << false;
    QTest::newRow("known node before any beacon") << true << false;
    QTest::newRow("new node after a cycle ended") << false << true;
}

void TestReception::mpduOutsideCycle()
{
    QFETCH(bool, known);
    QFETCH(bool, afterCycle);

    Bench bench;
    if (known)
        bench.network.nodeFor(9);
    if (afterCycle) {
        QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);
        bench.network.sendBeacon(30, 50, 0);
        QVERIFY(finished.wait(10000));
        bench.log.lines.clear();
    }
    QSignalSpy received(&bench.network, &TalvenNetwork::receivedMpdu);
    QSignalSpy resets(&bench.network, &QAbstractItemModel::modelReset);

    // The invalid SV group would cost an error if the MPDU were decoded.
    bench.receiveAfterBeacon(500, mpdu(9, 1, "0a 01 02"));

    QCOMPARE(bench.log.lines, QStringList{"Received MPDU from sensor 9 outside any cycle!"});
    QCOMPARE(received.count(), 0);
    QCOMPARE(resets.count(), known ? 0 : 1);
    QCOMPARE(bench.network.rowCount(), 1);
    const NodeState *state = bench.network.nodes().first();
    QCOMPARE(int(state->id), 9);
    QCOMPARE(state->answered, false);
    QCOMPARE(int(state->delay), 0);
    QCOMPARE(state->errorCount, 0u);
}

void TestReception::payloads_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("ePdus");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QVector3D>("accelerometer");
    QTest::addColumn<uint>("joystick");

    const QVector3D still(0, 0, 0);
    QTest::newRow("accelerometer sample") << 5 << 1 << QByteArray("16 e803 18fc 0000")
                                          << QStringList() << QVector3D(1000, -1000, 0) << 1u;
    QTest::newRow("accelerometer extremes") << 5 << 1 << QByteArray("16 0080 ff7f ffff")
                                            << QStringList() << QVector3D(-32768, 32767, -1) << 1u;
    QTest::newRow("accelerometer one byte short")
            << 5 << 1 << QByteArray("15 0102030405")
            << QStringList{"Invalid data for SV group 2 from node 5 [0102030405]"} << still << 1u;
    QTest::newRow("accelerometer one byte over")
            << 5 << 1 << QByteArray("17 01020304050607")
            << QStringList{"Invalid data for SV group 2 from node 5 [01020304050607]"} << still
            << 1u;
    QTest::newRow("six bytes of another group")
            << 5 << 1 << QByteArray("1e e803 18fc 0000")
            << QStringList{"Invalid data for SV group 3 from node 5 [e80318fc0000]"} << still << 1u;
    QTest::newRow("empty SV group 15 of node 127")
            << 127 << 1 << QByteArray("78")
            << QStringList{"Invalid data for SV group 15 from node 127 []"} << still << 1u;
    QTest::newRow("joystick state")
            << 5 << 1 << QByteArray("c1 04") << QStringList() << still << 4u;
    QTest::newRow("joystick byte 255")
            << 5 << 1 << QByteArray("c1 ff") << QStringList() << still << 255u;
    QTest::newRow("joystick with two bytes")
            << 5 << 1 << QByteArray("c2 0405")
            << QStringList{"Invalid data for Event 8 from node 5 [0405]"} << still << 1u;
    QTest::newRow("joystick without a byte")
            << 5 << 1 << QByteArray("c0") << QStringList{"Invalid data for Event 8 from node 5 []"}
            << still << 1u;
    QTest::newRow("one byte of event 15")
            << 5 << 1 << QByteArray("f9 aa")
            << QStringList{"Invalid data for Event 15 from node 5 [aa]"} << still << 1u;
    QTest::newRow("six bytes of event 2 are no accelerometer")
            << 5 << 1 << QByteArray("96 e803 18fc 0000")
            << QStringList{"Invalid data for Event 2 from node 5 [e80318fc0000]"} << still << 1u;
    QTest::newRow("one byte of SV group 8 is no joystick")
            << 5 << 1 << QByteArray("41 04")
            << QStringList{"Invalid data for SV group 8 from node 5 [04]"} << still << 1u;
    QTest::newRow("both known payloads") << 5 << 2 << QByteArray("16 e803 18fc 0000  c1 10")
                                         << QStringList() << QVector3D(1000, -1000, 0) << 16u;
    QTest::newRow("every bad ePDU is charged")
            << 5 << 3 << QByteArray("c1 02  09 ab  c9 cd")
            << QStringList{"Invalid data for SV group 1 from node 5 [ab]",
                           "Invalid data for Event 9 from node 5 [cd]"}
            << still << 2u;
}

void TestReception::payloads()
{
    QFETCH(int, node);
    QFETCH(int, count);
    QFETCH(QByteArray, ePdus);
    QFETCH(QStringList, expected);
    QFETCH(QVector3D, accelerometer);
    QFETCH(uint, joystick);

    Bench bench;
    bench.network.sendBeacon(60000, 10, 0xFFFF);

    bench.receiveAfterBeacon((node + 1) * 10, mpdu(node, count, ePdus.constData()));

    QCOMPARE(bench.log.lines, expected);
    const NodeState *state = bench.network.nodes().first();
    QCOMPARE(state->errorCount, uint32_t(expected.size()));
    QCOMPARE(state->accelerometer, accelerometer);
    QCOMPARE(state->joystick, joystick);
}

void TestReception::formatErrors_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QVector3D>("accelerometer");
    QTest::addColumn<uint>("joystick");

    const QVector3D sample(1000, -1000, 0);
    QTest::newRow("count announces a third ePDU")
            << bytes("e2e2e2e2 0b 85 03 16 e803 18fc 0000 c1 04")
            << "MPDU Format error detected at ePDU 2 at position 21 of node's' 5 response."
            << sample << 4u;
    QTest::newRow("bytes left after the last ePDU")
            << bytes("e2e2e2e2 0b 85 01 16 e803 18fc 0000 c1 04")
            << "MPDU Format error detected at ePDU 0 at position 19 of node's' 5 response."
            << sample << 1u;
    QTest::newRow("payload runs past the end")
            << bytes("e2e2e2e2 09 85 01 17 e803 18fc 0000")
            << "MPDU Format error detected at ePDU 0 at position 12 of node's' 5 response."
            << QVector3D() << 1u;
    QTest::newRow("no count byte") << bytes("e2e2e2e2 01 85")
                                   << "MPDU Format error detected at ePDU 0 at position 12 of "
                                      "node's' 5 response."
                                   << QVector3D() << 1u;
    QTest::newRow("no ePDU but a spare byte")
            << bytes("e2e2e2e2 03 c0 00 ff")
            << "MPDU Format error detected at ePDU 0 at position 12 of node's' 64 response."
            << QVector3D() << 1u;
}

void TestReception::formatErrors()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, expected);
    QFETCH(QVector3D, accelerometer);
    QFETCH(uint, joystick);

    Bench bench;
    bench.network.sendBeacon(60000, 1, 0xFFFF);
    QSignalSpy received(&bench.network, &TalvenNetwork::receivedMpdu);
    const int node = uint8_t(frame.at(5)) & 0x7F;

    bench.receiveAfterBeacon(node + 1, frame);

    QCOMPARE(bench.log.lines, QStringList{expected});
    const NodeState *state = bench.network.nodes().first();
    QCOMPARE(state->errorCount, 1u);
    QCOMPARE(state->accelerometer, accelerometer);
    QCOMPARE(state->joystick, joystick);
    QCOMPARE(received.count(), 1);
}

void TestReception::receivedBytesAreNotCopied()
{
    PointerWatchingNetwork network;
    auto *driver = new RecordingDriver;
    network.setNetworkInterfaceDriver(driver);
    network.sendBeacon(60000, 10, 0xFFFF);
    // Two payloads, then one byte too many, so every delegate operation sees the frame.
    const QByteArray frame = mpdu(5, 2, "16 e803 18fc 0000  c1 04  ff");
    const auto *received = reinterpret_cast<const uint8_t *>(frame.constData());

    driver->deliver(uint32_t(network.beaconTime() + 60), received, size_t(frame.size()));

    QCOMPARE(network.frames, (QList<const uint8_t *>{received, received, received}));
    QCOMPARE(network.payloads, (QList<const uint8_t *>{received + 8, received + 15}));
    QCOMPARE(network.nodes().first()->joystick, 4u);
}

void TestReception::clearingFromLogLine_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<qint64>("offset");

    QTest::newRow("early MPDU with a payload") << mpdu(3, 1, "c1 04") << qint64(10);
    QTest::newRow("invalid payload before a valid one") << mpdu(3, 2, "c0  c1 04") << qint64(200);
    QTest::newRow("format error") << mpdu(3, 2, "c1 04") << qint64(200);
}

void TestReception::clearingFromLogLine()
{
    QFETCH(QByteArray, frame);
    QFETCH(qint64, offset);

    Bench bench;
    bench.network.sendBeacon(60000, 50, 0);
    connect(&bench.network, &TalvenNetwork::error, &bench.network, &TalvenNetwork::clearNodes);
    QSignalSpy received(&bench.network, &TalvenNetwork::receivedMpdu);

    bench.receiveAfterBeacon(offset, frame);

    QCOMPARE(bench.log.lines.size(), 1);
    QCOMPARE(received.count(), 1);
    QCOMPARE(bench.network.rowCount(), 0);

    // The node comes back with a fresh record on its next MPDU.
    bench.receiveAfterBeacon(200, mpdu(3, 1, "c1 08"));
    QCOMPARE(bench.network.rowCount(), 1);
    QCOMPARE(bench.network.nodes().first()->joystick, 8u);
    QCOMPARE(bench.network.nodes().first()->errorCount, 0u);
}

QTEST_GUILESS_MAIN(TestReception)
#include "tst_reception.moc"
