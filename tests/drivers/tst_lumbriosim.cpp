#include "common/lumbriowire.h"
#include "lumbrio-sim/faults.h"
#include "lumbrio-sim/medium.h"
#include "lumbrio-sim/options.h"
#include "lumbrio-sim/virtualnode.h"
#include "mdw/talven/frame.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <map>

using namespace lumbrio;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QByteArray kBeacon = hex("c7c7c7c7 0c 00 02010000 e80300 1e00 1100");

// A station that only listens, at whatever address the test gives it.
struct Listener : Station
{
    explicit Listener(const QByteArray &address)
        : address_(address)
    {}
    QByteArray address() const override { return address_; }
    void receive(const QByteArray &frame) override
    {
        frames << frame;
        if (onReceive)
            onReceive();
    }

    QByteArray address_;
    QList<QByteArray> frames;
    std::function<void()> onReceive;
};

// The ePDUs of an MPDU as the gateway's decoder reads them: "sv2 <payload>", "event8 <payload>",
// "format error at 2".
struct Epdus : talven::MultiPdu::DecomposeDelegate
{
    void onSvGroup(const talven::MultiPdu &, uint8_t group,
                   const ardo::SharedBuffer<uint8_t> &payload) override
    {
        read << QStringLiteral("sv%1 %2").arg(group).arg(text(payload));
    }
    void onEvent(const talven::MultiPdu &, uint16_t id,
                 const ardo::SharedBuffer<uint8_t> &payload) override
    {
        read << QStringLiteral("event%1 %2").arg(id).arg(text(payload));
    }
    void onFormatError(const talven::MultiPdu &, size_t index, size_t) override
    {
        read << QStringLiteral("format error at %1").arg(index);
    }
    static QString text(const ardo::SharedBuffer<uint8_t> &payload)
    {
        return QByteArray(reinterpret_cast<const char *>(payload.data()), int(payload.size()))
                .toHex();
    }
    QStringList read;
};

} // namespace

class TestLumbrioSim : public QObject
{
    Q_OBJECT

private slots:
    // The wire format against bytes written out by hand; the pieces of a stream in any size.
    void frameMessages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("frame"); // empty: the message does not decode

        const QByteArray beaconMessage = hex("01 00000014 aa") + kBeacon + hex("90a5");
        QTest::newRow("check string: CRC 906e, preamble 55")
                << hex("01 0000000c 55 313233343536373839 906e") << QByteArray("123456789");
        QTest::newRow("beacon: preamble aa") << beaconMessage << kBeacon;
        QTest::newRow("a frame bit flipped")
                << QByteArray(beaconMessage).replace(20, 1, "\x01") << QByteArray();
        QTest::newRow("too short for a checksum") << hex("01 00000002 5500") << QByteArray();
    }

    void frameMessages()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, frame);

        QByteArray decoded("untouched");
        QCOMPARE(decodeFramePayload(message.mid(kHeaderLength), &decoded), !frame.isEmpty());
        QCOMPARE(decoded, frame.isEmpty() ? QByteArray("untouched") : frame);
        if (!frame.isEmpty())
            QCOMPARE(encodeFrameMessage(frame).toHex(), message.toHex());
    }

    void messageReaderTakesAnyPieces()
    {
        MessageReader reader;
        QStringList seen;
        for (char byte : hex("03 00000002 0561 02 00000000 01 00000003 aa0102 01 ffffffff 00")) {
            reader.append(QByteArray(1, byte));
            for (Message next; reader.next(&next);)
                seen << QStringLiteral("%1:%2").arg(next.kind).arg(QString(next.payload.toHex()));
        }
        QCOMPARE(seen, (QStringList{"3:0561", "2:", "1:aa0102"}));
        // The last header announces an absurd payload: the stream cannot be trusted any more.
        QVERIFY(reader.isOutOfStep());
    }

    void routing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("receivers");

        QTest::newRow("beacon: every other station still there") << kBeacon << "firmware monitor";
        QTest::newRow("frame to an address: every other station there, never the sender")
                << hex("e2e2e2e2 02 85 00") << "monitor";
        QTest::newRow("nobody at the destination") << hex("0a0b0c0d 02") << "";
        QTest::newRow("too short for a destination") << hex("c7c7c7") << "";
    }

    void routing()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, receivers);

        Medium medium;
        std::map<QString, Listener> stations;
        stations.emplace("gateway", hex("e2e2e2e2"));
        stations.emplace("monitor", hex("e2e2e2e2"));
        stations.emplace("firmware", hex("01020304"));
        stations.emplace("node", QByteArray());
        for (auto &entry : stations)
            medium.attach(&entry.second);
        // A client whose socket fails on write leaves the medium, and is gone, right then.
        stations.at("monitor").onReceive = [&] {
            medium.detach(&stations.at("node"));
        };

        const int count = medium.send(&stations.at("gateway"), frame);
        QStringList heard;
        for (const auto &entry : stations) {
            if (entry.second.frames == QList<QByteArray>{frame})
                heard << entry.first;
            else
                QCOMPARE(entry.second.frames, QList<QByteArray>());
        }
        QCOMPARE(heard.join(' '), receivers);
        QCOMPARE(count, heard.size());
    }

    void faultDice_data()
    {
        QTest::addColumn<QString>("setting");
        // Counts over 2000 cycles, within five standard deviations.
        QTest::addColumn<QString>("expected");

        QTest::newRow("always broken, the last kind")
                << QString("broken-structure=1") << QString("broken-structure=2000");
        QTest::newRow("mixture") << QString("silent=0.1 early=0.2 unknown-epdu=0.3")
                                 << QString("none=800 silent=200 early=400 unknown-epdu=600");
    }

    void faultDice()
    {
        QFETCH(QString, setting);
        QFETCH(QString, expected);

        FaultProbabilities probabilities;
        for (const QString &item : setting.split(' ', Qt::SkipEmptyParts))
            probabilities[faultFromName(item.section('=', 0, 0))] = item.section('=', 1).toDouble();
        const auto rolls = [&](uint32_t seed, int node) {
            FaultDice dice(probabilities, seed, node);
            QList<Fault> faults;
            for (int i = 0; i < 2000; ++i)
                faults << dice.roll();
            return faults;
        };
        const QList<Fault> faults = rolls(7, 3);
        QMap<QString, int> counts;
        for (Fault fault : faults)
            ++counts[fault == Fault::None ? QStringLiteral("none") : faultName(fault)];
        QStringList names;
        for (const QString &item : expected.split(' ')) {
            names << item.section('=', 0, 0);
            const double p = item.section('=', 1).toDouble() / 2000;
            const int count = counts.value(names.last());
            QVERIFY2(std::abs(count - 2000 * p) <= 5 * std::sqrt(2000 * p * (1 - p)),
                     qPrintable(QStringLiteral("%1: %2").arg(names.last()).arg(count)));
        }
        names.sort();
        QCOMPARE(counts.keys(), names);

        // Runs repeat for a seed; other seeds and other nodes bring other faults.
        QCOMPARE(rolls(7, 3), faults);
        if (counts.size() > 1)
            QVERIFY(rolls(8, 3) != faults && rolls(7, 4) != faults);
    }

    // A node's answer as the gateway decodes it, healthy and with each fault that spoils it.
    void answers_data()
    {
        QTest::addColumn<bool>("accelerometer");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("epdus");

        // Node 3 in cycle 9: sample (x, y, z) = (-607, -1338, 1959), joystick bit 32.
        const QString sample = "sv2 a1fdc6faa707", joystick = "event8 20";
        QTest::newRow("healthy") << true << Fault::None << QStringList{sample, joystick};
        QTest::newRow("no accelerometer asked") << false << Fault::None << QStringList{joystick};
        QTest::newRow("wrong size: a sample byte short")
                << true << Fault::WrongSize << QStringList{"sv2 a1fdc6faa7", joystick};
        QTest::newRow("wrong size: a joystick byte long")
                << false << Fault::WrongSize << QStringList{"event8 2000"};
        QTest::newRow("unknown ePDU: event 12 with the cycle")
                << true << Fault::UnknownEpdu << QStringList{sample, joystick, "event12 09"};
        QTest::newRow("broken structure: one ePDU more counted")
                << true << Fault::BrokenStructure
                << QStringList{sample, joystick, "format error at 2"};
    }

    void answers()
    {
        QFETCH(bool, accelerometer);
        QFETCH(Fault, fault);
        QFETCH(QStringList, epdus);

        const QByteArray frame = buildAnswer(3, 9, accelerometer, fault);
        const talven::MultiPdu mpdu(talven::Frame(ardo::SharedBuffer<uint8_t>::proxy(
                reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size()))));
        QCOMPARE(frame.left(4), hex("e2e2e2e2"));
        QCOMPARE(int(mpdu.sourceId()), 3);
        Epdus read;
        QCOMPARE(mpdu.decompose(read), fault != Fault::BrokenStructure);
        QCOMPARE(read.read, epdus);
    }

    // What a command line makes of one node: its fault probabilities, or the error.
    void options_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("node");
        QTest::addColumn<QString>("outcome");
        const auto row
                = [](const char *name, const char *arguments, int node, const char *outcome) {
                      QTest::newRow(name) << arguments << node << outcome;
                  };
        row("healthy by default", "", 7, "");
        row("per-node value wins", "--late 0.5 --node-fault 2-3:late=1", 3, "late=1");
        row("demo preset", "--demo --nodes 5", 5,
            "silent=0.03 late=0.3 early=0.02 wrong-size=0.02 unknown-epdu=0.02 "
            "broken-structure=0.01");
        row("option over the preset", "--demo --early 0 --node-fault 5:late=0", 5,
            "silent=0.03 wrong-size=0.02 unknown-epdu=0.02 broken-structure=0.01");
        row("node out of range", "--nodes 0-128", 0, "error");
        row("port out of range", "--port 65536", 0, "error");
        row("fault for a node not simulated", "--node-fault 9:late=1", 0, "error");
        row("more than certain", "--silent 0.6 --late 0.6", 0, "error");
        row("not a probability", "--late x", 0, "error");
    }

    void options()
    {
        QFETCH(QString, arguments);
        QFETCH(int, node);
        QFETCH(QString, outcome);
        Options options;
        QString error;
        const QStringList words
                = QStringList{"lumbrio-sim"} + arguments.split(' ', Qt::SkipEmptyParts);
        if (parseOptions(words, &options, &error) != ParseResult::Run) {
            QCOMPARE(QStringLiteral("error"), outcome);
            QVERIFY(!error.isEmpty() && !error.contains('\n'));
            return;
        }
        QVERIFY2(options.faults.contains(node), qPrintable(error));
        QStringList faults;
        for (Fault fault : faultKinds()) {
            if (options.faults[node][fault] > 0)
                faults << faultName(fault) + '=' + QString::number(options.faults[node][fault]);
        }
        QCOMPARE(faults.join(' '), outcome);
    }
};

QTEST_GUILESS_MAIN(TestLumbrioSim)

#include "tst_lumbriosim.moc"
