#include "mdw/serialcon/msg.h"
#include "mdw/talven/frame.h"
#include "support/assertionprobe.h"

#include <QtTest>

using serialcon::Msg;

namespace {

const uint8_t *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

Msg msgOf(const QByteArray &bytes)
{
    return Msg(bytesOf(bytes), size_t(bytes.size()));
}

QByteArray bytesOf(const Msg &msg)
{
    return QByteArray(reinterpret_cast<const char *>(msg.buffer().data()),
                      int(msg.buffer().size()));
}

talven::Frame frameOf(const QByteArray &bytes)
{
    talven::Frame frame(size_t(bytes.size()));
    std::copy(bytesOf(bytes), bytesOf(bytes) + bytes.size(), frame.data());
    return frame;
}

QByteArray counting(int count, int from = 0)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(from + i));
    return bytes;
}

// A message with the given payload and, if asked, a correct checksum.
QByteArray message(uint8_t type, const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append(char(Msg::kSyncByte)).append(char(type)).append(char(payload.size()));
    bytes.append(payload);
    bytes.append(char(Msg::checksumOf(bytesOf(bytes), size_t(bytes.size()))));
    return bytes;
}

const AssertionProbe::Probes &probes()
{
    static const QByteArray linkUp = QByteArray::fromHex("7f010201017b");
    static const QByteArray beacon = message(Msg::BEACON, counting(17));
    static const AssertionProbe::Probes all = {
            {"checksum without header",
             [] {
                 msgOf("\x7e\x01\x00\x00").checksum();
             }},
            {"set checksum without header",
             [] {
                 msgOf("\x7f\x01").setChecksum(0);
             }},
            {"compute checksum without header",
             [] {
                 msgOf("").computeChecksum();
             }},
            {"header for a buffer of another size",
             [] {
                 Msg msg = msgOf(QByteArray(4, '\0'));
                 msg.prepareHeader(Msg::DEBUG, 5);
                 msg.setChecksum(msg.computeChecksum());
             }},
            {"command of a beacon message",
             [] {
                 msgOf(beacon).command();
             }},
            {"argument of a beacon message",
             [] {
                 msgOf(beacon).commandArgument();
             }},
            {"argument of a three-byte command",
             [] {
                 msgOf(message(Msg::CMD, "\x01\x02\x03")).commandArgument();
             }},
            {"argument of an empty command",
             [] {
                 msgOf(message(Msg::CMD, "")).commandArgument();
             }},
            {"argument of a one-byte command",
             [] {
                 msgOf(message(Msg::CMD, "\x01")).commandArgument();
             }},
            {"beacon info of a command",
             [] {
                 phy::Address<4> destination;
                 uint32_t time, interval;
                 uint16_t slot, mask;
                 msgOf(linkUp).beaconInfo(destination, time, interval, slot, mask);
             }},
            {"frame shorter than its header",
             [] {
                 Msg(1, frameOf(counting(5)));
             }},
            {"frame too long for the size byte",
             [] {
                 Msg(1, frameOf(counting(252)));
             }},
            {"longest frame",
             [] {
                 Msg(1, frameOf(counting(251)));
             }},
    };
    return all;
}

} // namespace

class TestMsg : public QObject
{
    Q_OBJECT

private slots:
    void readsReceivedBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("prepared");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("payloadSize");

        QTest::newRow("link up command")
                << QByteArray::fromHex("7f010201017b") << true << true << 1 << 2;
        QTest::newRow("checksum one too high")
                << QByteArray::fromHex("7f010201017c") << true << false << 1 << 2;
        QTest::newRow("wrong sync byte")
                << QByteArray::fromHex("7e010201017b") << false << false << 1 << 2;
        QTest::newRow("one byte short")
                << QByteArray::fromHex("7f01020101") << false << false << 1 << 2;
        QTest::newRow("one byte extra")
                << QByteArray::fromHex("7f010201017b00") << false << false << 1 << 2;
        QTest::newRow("empty payload") << QByteArray::fromHex("7f04007c") << true << true << 4 << 0;
        QTest::newRow("header without checksum")
                << QByteArray::fromHex("7f0400") << false << false << 4 << 0;
        QTest::newRow("size byte claims more than held")
                << QByteArray::fromHex("7f01ff00") << false << false << 1 << 255;
        QTest::newRow("sync byte alone") << QByteArray::fromHex("7f") << false << false << 0 << 0;
        QTest::newRow("no bytes") << QByteArray() << false << false << 0 << 0;
        QTest::newRow("largest payload")
                << message(Msg::DEBUG, QByteArray(255, 'x')) << true << true << 4 << 255;
    }

    void readsReceivedBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, prepared);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(int, payloadSize);

        const Msg msg = msgOf(bytes);
        QCOMPARE(msg.isValid(), valid);
        QCOMPARE(int(msg.type()), type);
        QCOMPARE(int(msg.payloadSize()), payloadSize);
        QCOMPARE(bytesOf(msg), bytes);
        if (prepared)
            QCOMPARE(msg.checksum(), uint8_t(bytes.back()));
    }

    void computesChecksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("checksum");

        QTest::newRow("link up") << QByteArray::fromHex("7f0102010100") << 0x7b;
        QTest::newRow("link down") << QByteArray::fromHex("7f0102010200") << 0x7a;
        QTest::newRow("sum wraps past 8 bits") << QByteArray::fromHex("7f0402ffff00") << 0x7c;
        QTest::newRow("sum of exactly 256") << QByteArray::fromHex("7f04017c00") << 0xff;
        QTest::newRow("empty payload") << QByteArray::fromHex("7f040000") << 0x7c;
    }

    void computesChecksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, checksum);

        Msg msg = msgOf(bytes);
        QCOMPARE(int(msg.computeChecksum()), checksum);
        QVERIFY(!msg.isValid());
        msg.setChecksum(msg.computeChecksum());
        QVERIFY(msg.isValid());
        QCOMPARE(int(uint8_t(bytesOf(msg).back())), checksum);
        QCOMPARE(bytesOf(msg).left(bytes.size() - 1), bytes.left(bytes.size() - 1));
    }

    void readsCommands_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("command");
        QTest::addColumn<quint32>("argument");

        QTest::newRow("link up") << QByteArray::fromHex("0101") << 1 << 1u;
        QTest::newRow("link down") << QByteArray::fromHex("0102") << 1 << 2u;
        QTest::newRow("one-byte argument uses all 8 bits")
                << QByteArray::fromHex("05ff") << 5 << 255u;
        QTest::newRow("four-byte argument is little-endian")
                << QByteArray::fromHex("0104030201") << 1 << 0x01020304u;
        QTest::newRow("four-byte argument with the top bit")
                << QByteArray::fromHex("09000000ff") << 9 << 0xff000000u;
        QTest::newRow("no argument") << QByteArray::fromHex("07") << 7 << 0u;
    }

    void readsCommands()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, command);
        QFETCH(quint32, argument);

        const Msg msg = msgOf(message(Msg::CMD, payload));
        QVERIFY(msg.isValid());
        QCOMPARE(int(msg.command()), command);
        QCOMPARE(msg.commandArgument(), argument);
    }

    void readsBeacons_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("unpacked");
        QTest::addColumn<QByteArray>("destination");
        QTest::addColumn<quint32>("networkTime");
        QTest::addColumn<quint32>("cycleInterval");
        QTest::addColumn<int>("slotDuration");
        QTest::addColumn<int>("svGroupMask");

        QTest::newRow("beacon of a one-second cycle")
                << QByteArray::fromHex("c7c7c7c7"
                                       "0c00"
                                       "02010000"
                                       "e80300"
                                       "1e00"
                                       "1100")
                << true << QByteArray::fromHex("c7c7c7c7") << 258u << 1000u << 30 << 0x0011;
        QTest::newRow("every field at its top bit") << QByteArray::fromHex("01020304"
                                                                           "0000"
                                                                           "00000080"
                                                                           "000080"
                                                                           "0080"
                                                                           "0080")
                                                    << true << QByteArray::fromHex("01020304")
                                                    << 0x80000000u << 0x800000u << 0x8000 << 0x8000;
        QTest::newRow("length and type bytes are not read")
                << QByteArray::fromHex("c7c7c7c7"
                                       "ffff"
                                       "78563412"
                                       "e80301"
                                       "1e00"
                                       "1100")
                << true << QByteArray::fromHex("c7c7c7c7") << 0x12345678u << 0x0103e8u << 30
                << 0x0011;
        QTest::newRow("payload one byte short") << QByteArray::fromHex("c7c7c7c7"
                                                                       "0c00"
                                                                       "02010000"
                                                                       "e80300"
                                                                       "1e00"
                                                                       "11")
                                                << false << QByteArray() << 0u << 0u << 0 << 0;
        QTest::newRow("payload one byte long") << QByteArray::fromHex("c7c7c7c7"
                                                                      "0c00"
                                                                      "02010000"
                                                                      "e80300"
                                                                      "1e00"
                                                                      "1100"
                                                                      "00")
                                               << false << QByteArray() << 0u << 0u << 0 << 0;
        QTest::newRow("empty payload")
                << QByteArray() << false << QByteArray() << 0u << 0u << 0 << 0;
    }

    void readsBeacons()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, unpacked);
        QFETCH(QByteArray, destination);
        QFETCH(quint32, networkTime);
        QFETCH(quint32, cycleInterval);
        QFETCH(int, slotDuration);
        QFETCH(int, svGroupMask);

        const uint8_t untouched[4] = {0xAA, 0xBB, 0xCC, 0xDD};
        phy::Address<4> address(untouched);
        uint32_t time = 0xDEADBEEF, interval = 0xDEADBEEF;
        uint16_t slot = 0xBEEF, mask = 0xBEEF;

        const Msg msg = msgOf(message(Msg::BEACON, payload));
        QCOMPARE(msg.beaconInfo(address, time, interval, slot, mask), unpacked);
        if (!unpacked) {
            QVERIFY(address == phy::Address<4>(untouched));
            QCOMPARE(time, 0xDEADBEEFu);
            QCOMPARE(interval, 0xDEADBEEFu);
            QCOMPARE(slot, uint16_t(0xBEEF));
            QCOMPARE(mask, uint16_t(0xBEEF));
            return;
        }
        QVERIFY(address == phy::Address<4>(bytesOf(destination)));
        QCOMPARE(time, networkTime);
        QCOMPARE(interval, cycleInterval);
        QCOMPARE(int(slot), slotDuration);
        QCOMPARE(int(mask), svGroupMask);
    }

    void buildsFrameMessages_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<quint32>("receptionTime");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray beacon = QByteArray::fromHex("c7c7c7c7"
                                                      "0c00"
                                                      "02010000"
                                                      "e80300"
                                                      "1e00"
                                                      "1100");
        QTest::newRow("beacon-sized frame")
                << beacon << 0x04030201u
                << message(Msg::FRAME,
                           beacon.left(6) + QByteArray::fromHex("01020304") + beacon.mid(6, 11));
        QTest::newRow("frame of its header alone")
                << QByteArray::fromHex("e2e2e2e20185") << 10000u
                << message(Msg::FRAME, QByteArray::fromHex("e2e2e2e20185"
                                                           "10270000"));
        QTest::newRow("time at its largest")
                << QByteArray::fromHex("e2e2e2e2028500") << 0xffffffffu
                << message(Msg::FRAME, QByteArray::fromHex("e2e2e2e20285"
                                                           "ffffffff"
                                                           "00"));
        QTest::newRow("longest frame")
                << counting(251) << 86399999u
                << message(Msg::FRAME,
                           counting(6) + QByteArray::fromHex("ff5b2605") + counting(245, 6));
    }

    void buildsFrameMessages()
    {
        QFETCH(QByteArray, frame);
        QFETCH(quint32, receptionTime);
        QFETCH(QByteArray, expected);

        Msg msg(receptionTime, frameOf(frame));
        QCOMPARE(msg.type(), Msg::FRAME);
        QCOMPARE(int(msg.payloadSize()), frame.size() + 4);
        QCOMPARE(bytesOf(msg).chopped(1), expected.chopped(1));
        QVERIFY(!msg.isValid());
        msg.setChecksum(msg.computeChecksum());
        QVERIFY(msg.isValid());
        QCOMPARE(bytesOf(msg), expected);
    }

    void framesUseValidBytesOnly()
    {
        // A frame whose buffer is larger than its length: only the valid bytes go into the message.
        talven::MultiPdu mpdu;
        mpdu.setSourceId(5);
        const uint8_t joystick = 0x10;
        QVERIFY(mpdu.addEvent(8, ardo::SharedBuffer<uint8_t>::proxy(&joystick, 1)));

        Msg msg(7u, mpdu);
        QCOMPARE(msg.buffer().size(), size_t(9 + 8));
        QCOMPARE(bytesOf(msg).mid(3, 13), QByteArray::fromHex("e2e2e2e20485"
                                                              "07000000"
                                                              "01c110"));
    }

    void buildsMessagesInPlace_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");

        QTest::newRow("empty debug message") << int(Msg::DEBUG) << QByteArray();
        QTest::newRow("debug text") << int(Msg::DEBUG) << QByteArray("link up");
        QTest::newRow("link down command") << int(Msg::CMD) << QByteArray::fromHex("0102");
    }

    void buildsMessagesInPlace()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);

        Msg msg = msgOf(QByteArray(payload.size() + 4, '\xee'));
        msg.prepareHeader(uint8_t(type), uint8_t(payload.size()));
        std::copy(payload.cbegin(), payload.cend(), msg.payload());
        msg.setChecksum(msg.computeChecksum());
        QVERIFY(msg.isValid());
        QCOMPARE(bytesOf(msg), message(uint8_t(type), payload));
    }

    void copiesShareTheBytes()
    {
        const Msg original = msgOf(QByteArray::fromHex("7f010201017b"));
        Msg copy = msgOf(QByteArray::fromHex("00"));
        copy = original;
        const Msg constructed(original);
        QVERIFY(copy.isValid());
        QVERIFY(constructed.isValid());

        copy.payload()[1] = 2;
        QCOMPARE(original.commandArgument(), 2u);
        QCOMPARE(constructed.commandArgument(), 2u);
        QVERIFY(!original.isValid());
    }

    void preconditions_data()
    {
        QTest::addColumn<QString>("probe");
        QTest::addColumn<QString>("message");

        const auto row = [](const char *probe, const char *expression) {
            QTest::newRow(probe)
                    << probe
                    << QString("ASSERT: \"%1\" in file mdw/serialcon/msg, line ").arg(expression);
        };
        row("checksum without header", "_headerPrepared");
        row("set checksum without header", "_headerPrepared");
        row("compute checksum without header", "_headerPrepared");
        row("header for a buffer of another size", "_headerPrepared");
        row("command of a beacon message", "type() == CMD");
        row("argument of a beacon message", "type() == CMD");
        row("argument of a three-byte command", "payloadSize() == 1");
        row("argument of an empty command", "payloadSize() == 1");
        row("beacon info of a command", "type() == BEACON");
        row("frame shorter than its header", "length >= 6 && length <= 251");
        row("frame too long for the size byte", "length >= 6 && length <= 251");
    }

    void preconditions()
    {
        QFETCH(QString, probe);
        QFETCH(QString, message);

        const auto outcome = AssertionProbe::run(probe);
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
    }

    void validUseAssertsNothing_data()
    {
        QTest::addColumn<QString>("probe");
        QTest::newRow("argument of a one-byte command") << "argument of a one-byte command";
        QTest::newRow("longest frame") << "longest frame";
    }

    void validUseAssertsNothing()
    {
        QFETCH(QString, probe);
        const auto outcome = AssertionProbe::run(probe);
        QVERIFY2(!outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.isEmpty(), qPrintable(outcome.standardError));
    }
};

int main(int argc, char **argv)
{
    if (int rc = AssertionProbe::runIfAsked(argc, argv, probes()))
        return rc;
    QCoreApplication app(argc, argv);
    TestMsg test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_msg.moc"
