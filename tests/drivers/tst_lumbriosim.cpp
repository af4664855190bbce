#include "lumbrio-sim/faults.h"
#include "lumbrio-sim/medium.h"
#include "lumbrio-sim/options.h"
#include "lumbrio-sim/simulator.h"
#include "lumbrio-sim/virtualnode.h"
#include "lumbrio-sim/wire.h"
#include "mdw/talven/frame.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <map>

using namespace lumbrio;

namespace {

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

const QByteArray kBeaconBytes = bytes("c7c7c7c70c0002010000e803001e001100");

QByteArray beacon(quint16 slotDuration, quint16 mask, quint32 interval = 330)
{
    talven::Beacon frame;
    frame.setNetworkTime(1234);
    frame.setCycleInterval(interval);
    frame.setSlotDuration(slotDuration);
    frame.setSvGroupMask(mask);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.length()));
}

// A station that only listens, with whatever address the row gives it.
class ListeningStation : public Station
{
public:
    explicit ListeningStation(const QByteArray &address)
        : address_(address)
    {}

    QByteArray address() const override { return address_; }
    void receive(const QByteArray &frame) override
    {
        frames.append(frame);
        if (onReceive)
            onReceive();
    }

    QList<QByteArray> frames;
    std::function<void()> onReceive;

private:
    QByteArray address_;
};

// Writes down a decomposition as text, one entry per callback: "sv2:6", "ev8:1", "error 2@21".
class DecomposeRecorder : public talven::MultiPdu::DecomposeDelegate
{
public:
    void onSvGroup(const talven::MultiPdu &, uint8_t group,
                   const ardo::SharedBuffer<uint8_t> &payload) override
    {
        entries << QStringLiteral("sv%1:%2").arg(group).arg(payload.size());
        payloads[QStringLiteral("sv%1").arg(group)] = copy(payload);
    }
    void onEvent(const talven::MultiPdu &, uint16_t eventId,
                 const ardo::SharedBuffer<uint8_t> &payload) override
    {
        entries << QStringLiteral("ev%1:%2").arg(eventId).arg(payload.size());
        payloads[QStringLiteral("ev%1").arg(eventId)] = copy(payload);
    }
    void onFormatError(const talven::MultiPdu &, size_t index, size_t position) override
    {
        entries << QStringLiteral("error %1@%2").arg(index).arg(position);
    }

    QStringList entries;
    QMap<QString, QByteArray> payloads;

private:
    static QByteArray copy(const ardo::SharedBuffer<uint8_t> &payload)
    {
        return QByteArray(reinterpret_cast<const char *>(payload.data()), int(payload.size()));
    }
};

bool decompose(const QByteArray &frame, DecomposeRecorder *recorder)
{
    const talven::Frame view(ardo::SharedBuffer<uint8_t>::proxy(
            reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size())));
    return talven::MultiPdu(view).decompose(*recorder);
}

QByteArray message(quint8 kind, const QByteArray &payload)
{
    QByteArray header(kHeaderLength, Qt::Uninitialized);
    header[0] = char(kind);
    qToBigEndian<quint32>(quint32(payload.size()), header.data() + 1);
    return header + payload;
}

} // namespace

class TestLumbrioSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<lumbrio::Fault>(); }

    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint16>("crc");

        QTest::newRow("standard check string") << QByteArray("123456789") << quint16(0x906E);
        QTest::newRow("nothing") << QByteArray() << quint16(0x0000);
        QTest::newRow("one byte") << bytes("7f") << quint16(0x7B08);
        QTest::newRow("beacon") << kBeaconBytes << quint16(0x90A5);
    }

    void crc()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint16, crc);
        QCOMPARE(crc16X25(data.constData(), size_t(data.size())), crc);
    }

    void encodeFrameMessage_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("beacon: preamble aa")
                << kBeaconBytes << bytes("0100000014aa") + kBeaconBytes + bytes("90a5");
        QTest::newRow("top bit clear: preamble 55")
                << QByteArray("123456789") << bytes("010000000c55313233343536373839906e");
        QTest::newRow("empty frame") << QByteArray() << bytes("0100000003550000");
    }

    void encodeFrameMessage()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(lumbrio::encodeFrameMessage(frame).toHex(), expected.toHex());
    }

    void decodeFramePayload_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("good checksum")
                << bytes("aa") + kBeaconBytes + bytes("90a5") << true << kBeaconBytes;
        QTest::newRow("checksum bytes swapped")
                << bytes("aa") + kBeaconBytes + bytes("a590") << false << QByteArray();
        QTest::newRow("one frame bit flipped")
                << bytes("aa") + kBeaconBytes.left(16) + bytes("01") + bytes("90a5") << false
                << QByteArray();
        QTest::newRow("preamble is not judged")
                << bytes("00313233343536373839906e") << true << QByteArray("123456789");
        QTest::newRow("empty frame") << bytes("550000") << true << QByteArray();
        QTest::newRow("too short for a checksum") << bytes("5500") << false << QByteArray();
    }

    void decodeFramePayload()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, accepted);
        QFETCH(QByteArray, frame);

        QByteArray decoded("untouched");
        QCOMPARE(lumbrio::decodeFramePayload(payload, &decoded), accepted);
        QCOMPARE(decoded, accepted ? frame : QByteArray("untouched"));
    }

    void messageReader_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("outOfStep");

        const QByteArray two = message(3, bytes("0561")) + message(1, bytes("aa0102"));
        const QStringList twoMessages{"3:0561", "1:aa0102"};
        QTest::newRow("two messages at once") << two << int(two.size()) << twoMessages << false;
        QTest::newRow("byte by byte") << two << 1 << twoMessages << false;
        QTest::newRow("pieces cut inside headers") << two << 3 << twoMessages << false;
        QTest::newRow("empty payload is a whole message")
                << message(2, QByteArray()) + message(1, bytes("55")) << 4
                << QStringList{"2:", "1:55"} << false;
        QTest::newRow("incomplete message stays pending")
                << message(1, bytes("aa0102")).chopped(1) << 100 << QStringList() << false;
        QTest::newRow("absurd length stops the stream")
                << bytes("01ffffffff00") + message(1, bytes("55")) << 100 << QStringList() << true;
    }

    void messageReader()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, pieceSize);
        QFETCH(QStringList, expected);
        QFETCH(bool, outOfStep);

        MessageReader reader;
        QStringList seen;
        for (int at = 0; at < stream.size(); at += pieceSize) {
            reader.append(stream.mid(at, pieceSize));
            Message next;
            while (reader.next(&next))
                seen << QStringLiteral("%1:%2").arg(next.kind).arg(QString(next.payload.toHex()));
        }
        QCOMPARE(seen, expected);
        QCOMPARE(reader.isOutOfStep(), outOfStep);
    }

    void routing_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QStringList>("receivers");

        const QByteArray mpdu = bytes("e2e2e2e2028500");
        QTest::newRow("beacon from the gateway reaches every other station")
                << "gateway" << kBeaconBytes
                << QStringList{"monitor", "firmware", "unannounced", "node"};
        QTest::newRow("beacon from firmware reaches the gateway too")
                << "firmware" << kBeaconBytes
                << QStringList{"gateway", "monitor", "unannounced", "node"};
        QTest::newRow("MPDU from a node reaches the stations at its destination")
                << "node" << mpdu << QStringList{"gateway", "monitor"};
        QTest::newRow("a station never hears its own frame")
                << "gateway" << mpdu << QStringList{"monitor"};
        QTest::newRow("frame to the firmware's address")
                << "gateway" << bytes("0102030402") << QStringList{"firmware"};
        QTest::newRow("nobody at the destination")
                << "gateway" << bytes("0a0b0c0d02") << QStringList();
        QTest::newRow("too short for a destination")
                << "gateway" << bytes("c7c7c7") << QStringList();
    }

    void routing()
    {
        QFETCH(QString, sender);
        QFETCH(QByteArray, frame);
        QFETCH(QStringList, receivers);

        Medium medium;
        std::map<QString, ListeningStation> stations;
        stations.emplace("gateway", bytes("e2e2e2e2"));
        stations.emplace("monitor", bytes("e2e2e2e2"));
        stations.emplace("firmware", bytes("01020304"));
        stations.emplace("unannounced", QByteArray());
        stations.emplace("node", QByteArray());
        for (auto &entry : stations)
            medium.attach(&entry.second);

        const int count = medium.send(&stations.at(sender), frame);

        QStringList heard;
        for (const auto &entry : stations) {
            if (!entry.second.frames.isEmpty()) {
                heard << entry.first;
                QCOMPARE(entry.second.frames, QList<QByteArray>{frame});
            }
        }
        heard.sort();
        receivers.sort();
        QCOMPARE(heard, receivers);
        QCOMPARE(count, receivers.size());
    }

    void stationLeavingDuringDeliveryIsSkipped()
    {
        Medium medium;
        ListeningStation first{QByteArray()};
        ListeningStation second{QByteArray()};
        medium.attach(&first);
        medium.attach(&second);
        first.onReceive = [&] {
            medium.detach(&second);
        };

        QCOMPARE(medium.send(nullptr, kBeaconBytes), 1);
        QCOMPARE(first.frames.size(), 1);
        QCOMPARE(second.frames.size(), 0);
    }

    void faultsRepeatForASeed_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("node");

        QTest::newRow("seed 1, node 0") << 1u << 0;
        QTest::newRow("seed 42, node 7") << 42u << 7;
        QTest::newRow("largest seed, node 127") << 0xFFFFFFFFu << 127;
    }

    void faultsRepeatForASeed()
    {
        QFETCH(quint32, seed);
        QFETCH(int, node);

        FaultProbabilities faults;
        for (Fault fault : faultKinds())
            faults[fault] = 0.1;
        FaultDice first(faults, seed, node);
        FaultDice second(faults, seed, node);
        FaultDice otherSeed(faults, seed + 1, node);
        FaultDice otherNode(faults, seed, node ^ 1);

        QList<Fault> a, b, c, d;
        for (int i = 0; i < 200; ++i) {
            a << first.roll();
            b << second.roll();
            c << otherSeed.roll();
            d << otherNode.roll();
        }
        QCOMPARE(a, b);
        QVERIFY2(a != c, "another seed gave the same faults");
        QVERIFY2(a != d, "another node gave the same faults");
        QVERIFY(a.contains(Fault::None));
        for (Fault fault : faultKinds())
            QVERIFY2(a.contains(fault), qPrintable(faultName(fault)));
    }

    void faultFrequencies_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected");

        // Counts over 2000 cycles; the dice are seeded, so these never change.
        QTest::newRow("healthy") << ""
                                 << "none=2000";
        QTest::newRow("always silent") << "silent=1"
                                       << "silent=2000";
        QTest::newRow("always broken") << "broken-structure=1"
                                       << "broken-structure=2000";
        QTest::newRow("a quarter late") << "late=0.25"
                                        << "late~500";
        QTest::newRow("mixture") << "silent=0.1 early=0.2 unknown-epdu=0.3"
                                 << "silent~200 early~400 unknown-epdu~600";
    }

    void faultFrequencies()
    {
        QFETCH(QString, setting);
        QFETCH(QString, expected);

        FaultProbabilities probabilities;
        for (const QString &item : setting.split(' ', Qt::SkipEmptyParts))
            probabilities[faultFromName(item.section('=', 0, 0))] = item.section('=', 1).toDouble();
        FaultDice dice(probabilities, 7, 3);
        QMap<QString, int> counts;
        for (int i = 0; i < 2000; ++i) {
            const Fault fault = dice.roll();
            ++counts[fault == Fault::None ? QStringLiteral("none") : faultName(fault)];
        }

        int accounted = 0;
        for (const QString &item : expected.split(' ')) {
            const bool exact = item.contains('=');
            const QString name = item.section(exact ? '=' : '~', 0, 0);
            const int count = item.section(exact ? '=' : '~', 1).toInt();
            accounted += counts.value(name);
            if (exact) {
                QCOMPARE(counts.value(name), count);
            } else {
                // Five standard deviations at most.
                QVERIFY2(std::abs(counts.value(name) - count) < 5 * std::sqrt(count),
                         qPrintable(QStringLiteral("%1: %2").arg(name).arg(counts.value(name))));
            }
        }
        if (!expected.contains("none"))
            QCOMPARE(counts.value("none"), 2000 - accounted);
    }

    void sendOffset_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("slot");
        QTest::addColumn<lumbrio::Fault>("fault");
        QTest::addColumn<int>("offset");

        QTest::newRow("node 0 in the middle of its slot") << 0 << 10 << Fault::None << 15;
        QTest::newRow("node 7 in the middle of its slot") << 7 << 10 << Fault::None << 85;
        QTest::newRow("node 3, 50 ms slots") << 3 << 50 << Fault::None << 225;
        QTest::newRow("a wrong payload is still punctual") << 3 << 50 << Fault::WrongSize << 225;
        QTest::newRow("late: at least 5 ms after the slot") << 7 << 10 << Fault::Late << 95;
        QTest::newRow("early: at least 5 ms before the slot") << 7 << 10 << Fault::Early << 75;
        QTest::newRow("early never before the beacon") << 0 << 3 << Fault::Early << 0;
        QTest::newRow("late by half a slot") << 3 << 50 << Fault::Late << 275;
        QTest::newRow("early by half a slot") << 3 << 50 << Fault::Early << 175;
        QTest::newRow("odd slot: margin rounds down") << 1 << 21 << Fault::Late << 73;
        QTest::newRow("node 127 late") << 127 << 50 << Fault::Late << 6475;
    }

    void sendOffset()
    {
        QFETCH(int, node);
        QFETCH(int, slot);
        QFETCH(lumbrio::Fault, fault);
        QFETCH(int, offset);

        const int sent = lumbrio::sendOffset(node, slot, fault);
        QCOMPARE(sent, offset);
        // The gateway's verdict, with a millisecond of clock granularity either way.
        const int lower = (node + 1) * slot;
        const int upper = (node + 2) * slot;
        if (fault == Fault::Late)
            QVERIFY(sent - 1 > upper);
        else if (fault == Fault::Early)
            QVERIFY(sent + 1 < lower);
        else
            QVERIFY(sent - 1 >= lower && sent + 1 <= upper);
    }

    void answerContents_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<bool>("accelerometer");
        QTest::addColumn<lumbrio::Fault>("fault");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("wellFormed");

        const QStringList healthy{"sv2:6", "ev8:1"};
        QTest::newRow("accelerometer and joystick") << 5 << true << Fault::None << healthy << true;
        QTest::newRow("joystick only when group 2 is not asked for")
                << 5 << false << Fault::None << QStringList{"ev8:1"} << true;
        QTest::newRow("late answers carry the same bytes")
                << 5 << true << Fault::Late << healthy << true;
        QTest::newRow("wrong size hits the accelerometer")
                << 3 << true << Fault::WrongSize << QStringList{"sv2:5", "ev8:1"} << true;
        QTest::newRow("wrong size hits the joystick without accelerometer")
                << 3 << false << Fault::WrongSize << QStringList{"ev8:2"} << true;
        QTest::newRow("unknown ePDU") << 127 << true << Fault::UnknownEpdu
                                      << QStringList{"sv2:6", "ev8:1", "ev12:1"} << true;
        QTest::newRow("broken structure") << 0 << true << Fault::BrokenStructure
                                          << QStringList{"sv2:6", "ev8:1", "error 2@21"} << false;
        QTest::newRow("broken structure without accelerometer")
                << 0 << false << Fault::BrokenStructure << QStringList{"ev8:1", "error 1@14"}
                << false;
    }

    void answerContents()
    {
        QFETCH(int, node);
        QFETCH(bool, accelerometer);
        QFETCH(lumbrio::Fault, fault);
        QFETCH(QStringList, entries);
        QFETCH(bool, wellFormed);

        const quint32 cycle = 17;
        const QByteArray frame = buildAnswer(node, cycle, accelerometer, fault);
        QVERIFY(frame.size() >= 7);
        QCOMPARE(frame.left(4).toHex(), QByteArray("e2e2e2e2"));
        QCOMPARE(quint8(frame[4]), quint8(frame.size() - 5));
        QCOMPARE(quint8(frame[5]), quint8(0x80 | node));

        DecomposeRecorder recorder;
        QCOMPARE(decompose(frame, &recorder), wellFormed);
        QCOMPARE(recorder.entries, entries);

        const auto sample = accelerometerSample(node, cycle);
        if (recorder.payloads.contains("sv2")) {
            const QByteArray payload = recorder.payloads["sv2"];
            for (int axis = 0; axis * 2 + 2 <= payload.size(); ++axis)
                QCOMPARE(qFromLittleEndian<qint16>(payload.constData() + 2 * axis),
                         sample[size_t(axis)]);
        }
        const QByteArray joystick = recorder.payloads.value("ev8");
        QVERIFY(!joystick.isEmpty());
        QCOMPARE(quint8(joystick[0]), joystickState(node, cycle));
    }

    void accelerometerMovesSmoothly()
    {
        for (int node = 0; node < 8; ++node) {
            for (int axis = 0; axis < 3; ++axis) {
                int lowest = 0, highest = 0;
                for (quint32 cycle = 0; cycle < 200; ++cycle) {
                    const int value = accelerometerSample(node, cycle)[size_t(axis)];
                    const int next = accelerometerSample(node, cycle + 1)[size_t(axis)];
                    QVERIFY(value >= -2048 && value <= 2048);
                    QVERIFY2(std::abs(next - value) <= 400,
                             qPrintable(QStringLiteral("node %1 axis %2 jumps from %3 to %4")
                                                .arg(node)
                                                .arg(axis)
                                                .arg(value)
                                                .arg(next)));
                    lowest = std::min(lowest, value);
                    highest = std::max(highest, value);
                }
                QVERIFY2(highest - lowest > 2000, "the sample hardly moves");
            }
        }
    }

    void joystickVisitsEveryDirection()
    {
        const QSet<int> allowed{1, 2, 4, 8, 16, 32};
        for (int node = 0; node < 8; ++node) {
            QSet<int> seen;
            for (quint32 cycle = 0; cycle < 24; ++cycle)
                seen << joystickState(node, cycle);
            QCOMPARE(seen, allowed);
        }
    }

    void parseBeacon_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("isBeacon");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("interval");

        QTest::newRow("beacon") << kBeaconBytes << true << 30 << 0x11 << 1000;
        QTest::newRow("24-bit interval and full mask")
                << beacon(50, 0xFFFF, 0x123456) << true << 50 << 0xFFFF << 0x123456;
        QTest::newRow("MPDU") << bytes("e2e2e2e2028500") << false << 0 << 0 << 0;
        QTest::newRow("beacon address with the MPDU bit")
                << bytes("c7c7c7c70c8002010000e803001e001100") << false << 0 << 0 << 0;
        QTest::newRow("one byte short") << kBeaconBytes.chopped(1) << false << 0 << 0 << 0;
    }

    void parseBeacon()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, isBeacon);
        QFETCH(int, slot);
        QFETCH(int, mask);
        QFETCH(int, interval);

        BeaconInfo info;
        QCOMPARE(lumbrio::parseBeacon(frame, &info), isBeacon);
        if (isBeacon) {
            QCOMPARE(int(info.slotDuration), slot);
            QCOMPARE(int(info.svGroupMask), mask);
            QCOMPARE(int(info.cycleInterval), interval);
        }
    }

    void nodeAnswersEveryBeaconOnce()
    {
        Medium medium;
        ListeningStation gateway(bytes("e2e2e2e2"));
        medium.attach(&gateway);
        VirtualNode node(2, FaultProbabilities(), 1, &medium);
        QSignalSpy answers(&node, &VirtualNode::answered);

        medium.send(&gateway, beacon(10, 1u << 2));
        QTRY_COMPARE_WITH_TIMEOUT(gateway.frames.size(), 1, 5000);
        medium.send(&gateway, beacon(10, 1u << 2));
        QTRY_COMPARE_WITH_TIMEOUT(gateway.frames.size(), 2, 5000);
        medium.send(&gateway, beacon(10, 0));
        QTRY_COMPARE_WITH_TIMEOUT(gateway.frames.size(), 3, 5000);

        QCOMPARE(gateway.frames[0], buildAnswer(2, 0, true, Fault::None));
        QCOMPARE(gateway.frames[1], buildAnswer(2, 1, true, Fault::None));
        QCOMPARE(gateway.frames[2], buildAnswer(2, 2, false, Fault::None));
        QCOMPARE(answers.size(), 3);
        QCOMPARE(answers[0][2].toInt(), 35);
    }

    void silentNodeSendsNothing()
    {
        Medium medium;
        ListeningStation gateway(bytes("e2e2e2e2"));
        medium.attach(&gateway);
        FaultProbabilities silent;
        silent[Fault::Silent] = 1;
        VirtualNode quiet(0, silent, 1, &medium);
        VirtualNode talker(1, FaultProbabilities(), 1, &medium);
        QSignalSpy quietAnswers(&quiet, &VirtualNode::answered);

        medium.send(&gateway, beacon(10, 0));
        // The talker's slot comes after the quiet node's.
        QTRY_COMPARE_WITH_TIMEOUT(gateway.frames.size(), 1, 5000);
        QCOMPARE(gateway.frames[0], buildAnswer(1, 0, false, Fault::None));
        QCOMPARE(quietAnswers.size(), 1);
        QCOMPARE(quietAnswers[0][1].value<lumbrio::Fault>(), Fault::Silent);
        QVERIFY(quietAnswers[0][3].toByteArray().isEmpty());
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("nodes");
        QTest::addColumn<int>("port");
        QTest::addColumn<quint32>("seed");
        // "node:fault=probability" entries that must hold; others are not looked at.
        QTest::addColumn<QStringList>("faults");

        const int run = int(ParseResult::Run);
        const int error = int(ParseResult::Error);
        QTest::newRow("defaults") << QStringList() << run << "0,1,2,3,4,5,6,7" << 8844 << 1u
                                  << QStringList{"0:silent=0", "7:broken-structure=0"};
        QTest::newRow("ids and ranges, sorted, no repeats")
                << QStringList{"--nodes", "12,0-2,1,127"} << run << "0,1,2,12,127" << 8844 << 1u
                << QStringList();
        QTest::newRow("port and seed")
                << QStringList{"--port", "9000", "--seed", "4294967295"} << run << "0,1,2,3,4,5,6,7"
                << 9000 << 4294967295u << QStringList();
        QTest::newRow("global probability for every node")
                << QStringList{"--late", "0.25", "--nodes", "3,4"} << run << "3,4" << 8844 << 1u
                << QStringList{"3:late=0.25", "4:late=0.25", "4:early=0"};
        QTest::newRow("node fault overrides the global value")
                << QStringList{"--late",   "0.1",          "--node-fault",
                               "3:late=1", "--node-fault", "0-1:silent=0.5"}
                << run << "0,1,2,3,4,5,6,7" << 8844 << 1u
                << QStringList{"3:late=1", "2:late=0.1", "0:silent=0.5", "1:silent=0.5",
                               "2:silent=0"};
        QTest::newRow("demo preset")
                << QStringList{"--demo"} << run << "0,1,2,3,4,5,6,7" << 8844 << 1u
                << QStringList{"0:silent=0.03", "5:late=0.3", "4:late=0.03",
                               "7:broken-structure=0.01"};
        QTest::newRow("options given with the demo win")
                << QStringList{"--silent", "0", "--demo", "--node-fault", "5:late=0"} << run
                << "0,1,2,3,4,5,6,7" << 8844 << 1u << QStringList{"0:silent=0", "5:late=0"};
        QTest::newRow("single-dash long option")
                << QStringList{"-nodes", "4"} << run << "4" << 8844 << 1u << QStringList();
        QTest::newRow("help") << QStringList{"--help"} << int(ParseResult::Help) << "" << 0 << 0u
                              << QStringList();

        const QStringList none;
        QTest::newRow("unknown option")
                << QStringList{"--colour"} << error << "" << 0 << 0u << none;
        QTest::newRow("value missing") << QStringList{"--port"} << error << "" << 0 << 0u << none;
        QTest::newRow("port 0") << QStringList{"--port", "0"} << error << "" << 0 << 0u << none;
        QTest::newRow("port too big")
                << QStringList{"--port", "65536"} << error << "" << 0 << 0u << none;
        QTest::newRow("negative seed")
                << QStringList{"--seed", "-1"} << error << "" << 0 << 0u << none;
        QTest::newRow("node id 128")
                << QStringList{"--nodes", "0-128"} << error << "" << 0 << 0u << none;
        QTest::newRow("range backwards")
                << QStringList{"--nodes", "5-3"} << error << "" << 0 << 0u << none;
        QTest::newRow("empty item in node list")
                << QStringList{"--nodes", "1,,2"} << error << "" << 0 << 0u << none;
        QTest::newRow("probability above 1")
                << QStringList{"--early", "1.5"} << error << "" << 0 << 0u << none;
        QTest::newRow("probability not a number")
                << QStringList{"--silent", "often"} << error << "" << 0 << 0u << none;
        QTest::newRow("unknown fault kind")
                << QStringList{"--node-fault", "1:sleepy=1"} << error << "" << 0 << 0u << none;
        QTest::newRow("node fault without probability")
                << QStringList{"--node-fault", "1:late"} << error << "" << 0 << 0u << none;
        QTest::newRow("node fault for a node not simulated")
                << QStringList{"--nodes", "0-3", "--node-fault", "5:late=1"} << error << "" << 0
                << 0u << none;
        QTest::newRow("probabilities add up to more than 1")
                << QStringList{"--late", "0.6", "--node-fault", "2:early=0.5"} << error << "" << 0
                << 0u << none;
        QTest::newRow("stray argument") << QStringList{"8844"} << error << "" << 0 << 0u << none;
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, result);
        QFETCH(QString, nodes);
        QFETCH(int, port);
        QFETCH(quint32, seed);
        QFETCH(QStringList, faults);

        Options options;
        QString error;
        const ParseResult parsed
                = parseOptions(QStringList{"lumbrio-sim"} + arguments, &options, &error);
        QCOMPARE(int(parsed), result);
        if (parsed == ParseResult::Error) {
            QVERIFY(!error.isEmpty());
            QVERIFY2(!error.contains('\n'), qPrintable(error));
            return;
        }
        if (parsed != ParseResult::Run)
            return;
        QStringList ids;
        for (int id : qAsConst(options.nodes))
            ids << QString::number(id);
        QCOMPARE(ids.join(','), nodes);
        QCOMPARE(int(options.port), port);
        QCOMPARE(options.seed, seed);
        QCOMPARE(options.faults.keys(), options.nodes);
        for (const QString &entry : faults) {
            const int id = entry.section(':', 0, 0).toInt();
            const Fault fault = faultFromName(entry.section(':', 1).section('=', 0, 0));
            const double probability = entry.section('=', 1).toDouble();
            QVERIFY2(qFuzzyCompare(1 + options.faults.value(id)[fault], 1 + probability),
                     qPrintable(QStringLiteral("%1 is %2")
                                        .arg(entry)
                                        .arg(options.faults.value(id)[fault])));
        }
    }

    void simulatorCarriesFramesBetweenClients()
    {
        Options options;
        options.port = 0;
        options.nodes = {0, 1};
        options.faults[0] = FaultProbabilities();
        options.faults[1] = FaultProbabilities();
        QStringList log;
        Simulator simulator(options, [&](const QString &line) { log << line; });
        QString error;
        QVERIFY2(simulator.listen(&error), qPrintable(error));

        QTcpSocket gateway;
        QTcpSocket firmware;
        for (QTcpSocket *socket : {&gateway, &firmware}) {
            socket->connectToHost(QHostAddress::LocalHost, simulator.port());
            QVERIFY(socket->waitForConnected(5000));
        }
        gateway.write(message(3, bytes("05") + "gw") + message(3, bytes("01e2e2e2e2")));
        firmware.write(message(3, bytes("01a1a2a3a4")));
        QTRY_COMPARE_WITH_TIMEOUT(log.filter("connected from").size(), 2, 5000);

        // A frame with a broken checksum is refused; the beacon after it goes out.
        QByteArray badChecksum = lumbrio::encodeFrameMessage(kBeaconBytes);
        badChecksum[badChecksum.size() - 1] = char(badChecksum[badChecksum.size() - 1] ^ 1);
        gateway.write(badChecksum + lumbrio::encodeFrameMessage(beacon(10, 1u << 2)));
        gateway.flush();

        MessageReader gatewayReader;
        MessageReader firmwareReader;
        QList<QByteArray> gatewayFrames;
        QList<QByteArray> firmwareFrames;
        auto collect = [](QTcpSocket &socket, MessageReader &reader, QList<QByteArray> &frames) {
            reader.append(socket.readAll());
            Message next;
            QByteArray frame;
            while (reader.next(&next)) {
                if (next.kind == kFrameMessage && lumbrio::decodeFramePayload(next.payload, &frame))
                    frames << frame;
            }
        };
        QTRY_VERIFY_WITH_TIMEOUT((collect(gateway, gatewayReader, gatewayFrames),
                                  collect(firmware, firmwareReader, firmwareFrames),
                                  gatewayFrames.size() == 2),
                                 5000);
        QCOMPARE(gatewayFrames, (QList<QByteArray>{buildAnswer(0, 0, true, Fault::None),
                                                   buildAnswer(1, 0, true, Fault::None)}));
        QCOMPARE(firmwareFrames, QList<QByteArray>{beacon(10, 1u << 2)});
        QCOMPARE(log.filter("wrong checksum").size(), 1);

        // A header that announces an absurd payload ends that client, and only it.
        firmware.write(bytes("01ffffffff"));
        QTRY_COMPARE_WITH_TIMEOUT(firmware.state(), QAbstractSocket::UnconnectedState, 5000);
        QCOMPARE(log.filter("disconnected").size(), 1);
        QCOMPARE(gateway.state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestLumbrioSim)

#include "tst_lumbriosim.moc"
