#include "mdw/serialcon/msg.h"
#include "support/frames.h"
#include "support/serialmessage.h"

#include <QtTest>

using serialcon::Msg;

namespace {

Msg msgOf(const QByteArray &bytes)
{
    return Msg(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

QByteArray bytesOf(const Msg &msg)
{
    return QByteArray(reinterpret_cast<const char *>(msg.buffer().data()),
                      int(msg.buffer().size()));
}

// The buffer is larger than the frame: only the frame's length belongs in a message.
talven::Frame frameOf(const QByteArray &bytes)
{
    talven::Frame frame(size_t(bytes.size()) + 3);
    frame.setLength(size_t(bytes.size()));
    std::copy(bytes.cbegin(), bytes.cend(), frame.data());
    return frame;
}

// What the read accessors make of a message, as one line.
QString reading(const Msg &msg)
{
    QString text = QString::asprintf("%s type %d size %d", msg.isValid() ? "valid" : "invalid",
                                     msg.type(), msg.payloadSize());
    if (msg.isWellFormedCommand())
        text += QString::asprintf(", command %d argument %x", msg.command(), msg.commandArgument());
    if (msg.type() == Msg::BEACON) {
        phy::Address<4> to(reinterpret_cast<const uint8_t *>("\xaa\xbb\xcc\xdd"));
        uint32_t time = 0xDEADBEEF, interval = 0xDEADBEEF;
        uint16_t slot = 0xBEEF, mask = 0xBEEF;
        const bool read = msg.beaconInfo(to, time, interval, slot, mask);
        // Destination, network time, cycle interval, slot duration, SV group mask.
        text += QString::asprintf(", beacon %s: %08x %x %x %x %x", read ? "read" : "refused",
                                  qFromBigEndian<quint32>(to.bytes()), time, interval, slot, mask);
    }
    return text;
}

} // namespace

class TestMsg : public QObject
{
    Q_OBJECT

private slots:
    void readsReceivedBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");

        const QString linkUp = "type 1 size 2, command 1 argument 1";
        const QByteArray beacon = bytes("01020304 ffff 78563492 e80381 1e80 1180");
        const QString refused = "beacon refused: aabbccdd deadbeef deadbeef beef beef";
        QTest::newRow("link up command") << bytes("7f010201017b") << "valid " + linkUp;
        QTest::newRow("checksum one too high") << bytes("7f010201017c") << "invalid " + linkUp;
        QTest::newRow("wrong sync byte") << bytes("7e010201017b") << "invalid " + linkUp;
        QTest::newRow("one byte extra") << bytes("7f010201017b00") << "invalid " + linkUp;
        QTest::newRow("empty payload") << bytes("7f04007c") << "valid type 4 size 0";
        QTest::newRow("size byte claims more than held")
                << bytes("7f04ff00") << "invalid type 4 size 255";
        QTest::newRow("largest payload") << SerialBytes::message(Msg::DEBUG, QByteArray(255, 'x'))
                                         << "valid type 4 size 255";
        QTest::newRow("no bytes") << QByteArray() << "invalid type 0 size 0";
        QTest::newRow("four-byte argument is little-endian")
                << bytes("7f0105 0104030201 6f")
                << "valid type 1 size 5, command 1 argument 1020304";
        QTest::newRow("valid command with a two-byte argument has none to read")
                << bytes("7f0103 010000 7b") << "valid type 1 size 3";
        QTest::newRow("command claiming more bytes than held has none to read")
                << bytes("7f0105 0104 00") << "invalid type 1 size 5";
        QTest::newRow("command without argument")
                << bytes("7f010107 77") << "valid type 1 size 1, command 7 argument 0";
        QTest::newRow("beacon: top bits set, length and type bytes not read")
                << SerialBytes::message(Msg::BEACON, beacon)
                << "valid type 2 size 17, beacon read: 01020304 92345678 8103e8 801e 8011";
        QTest::newRow("beacon one byte short")
                << SerialBytes::message(Msg::BEACON, beacon.chopped(1))
                << "valid type 2 size 16, " + refused;
        QTest::newRow("beacon one byte long") << SerialBytes::message(Msg::BEACON, beacon + '\0')
                                              << "valid type 2 size 18, " + refused;
    }

    void readsReceivedBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(reading(msgOf(bytes)), expected);
    }

    void buildsFrameMessages_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<quint32>("receptionTime");
        QTest::addColumn<QByteArray>("payload");

        const QByteArray longest(251, 'x');
        QTest::newRow("beacon-sized frame")
                << kBeacon << 0x04030201u << kBeacon.left(6) + bytes("01020304") + kBeacon.mid(6);
        QTest::newRow("frame of its header alone")
                << bytes("e2e2e2e20185") << 10000u << bytes("e2e2e2e20185 10270000");
        QTest::newRow("longest frame")
                << longest << 86399999u << longest.left(6) + bytes("ff5b2605") + longest.mid(6);
    }

    void buildsFrameMessages()
    {
        QFETCH(QByteArray, frame);
        QFETCH(quint32, receptionTime);
        QFETCH(QByteArray, payload);
        Msg msg(receptionTime, frameOf(frame));
        msg.setChecksum(msg.computeChecksum());
        QCOMPARE(bytesOf(msg), SerialBytes::message(Msg::FRAME, payload));
    }

    void buildsInPlaceAndCopiesShareTheBytes()
    {
        Msg msg = msgOf(QByteArray(6, '\xee'));
        msg.prepareHeader(Msg::CMD, 2);
        std::fill_n(msg.payload(), 2, 1);
        Msg copy(msg);
        copy.payload()[1] = 2;
        copy.setChecksum(copy.computeChecksum());
        QVERIFY(msg.isValid());
        QCOMPARE(bytesOf(msg), bytes("7f010201027a"));
    }
};

QTEST_APPLESS_MAIN(TestMsg)
#include "tst_msg.moc"
