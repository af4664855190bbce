#include "mdw/talven/frame.h"
#include "support/frames.h"
#include "support/recordingdriver.h"

#include <QtTest>

using talven::Beacon;
using talven::Frame;
using talven::FrameType;

Q_DECLARE_METATYPE(talven::FrameType)

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    // Received bytes are shared, not copied, and keep their length field as it came.
    void receivedFrameIsAView()
    {
        const QByteArray received = bytes("c7c7c7c7 ff 00");
        const Frame frame = frameOver(received);
        QCOMPARE(static_cast<const void *>(Frame(frame).data()), received.constData());
        QCOMPARE(bytesOf(frame), received);
    }

    void classification_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FrameType>("type");
        QTest::newRow("no bytes") << QByteArray() << FrameType::Invalid;
        QTest::newRow("five bytes, no type byte") << bytes("e2e2e2e2 01") << FrameType::Invalid;
        QTest::newRow("beacon header") << bytes("c7c7c7c7 0c 00") << FrameType::Beacon;
        QTest::newRow("mpdu of node 5") << bytes("e2e2e2e2 0b 85") << FrameType::Mpdu;
        QTest::newRow("node id bits without type bit")
                << bytes("e2e2e2e2 02 7f 00") << FrameType::Beacon;
    }

    void classification()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(FrameType, type);
        // A byte with the type bit set stands behind the view: it must not be read.
        const QByteArray storage = bytes + char(0x80);
        const Frame frame = frameOver(storage, bytes.size());
        QCOMPARE(frame.type(), type);
        QCOMPARE(frame.isValid(), type != FrameType::Invalid);
    }

    void setTypeKeepsTheNodeId()
    {
        Frame frame(7);
        frame.data()[5] = 0x2A;
        frame.setType(FrameType::Mpdu);
        frame.setType(FrameType::Invalid);
        QCOMPARE(int(frame.data()[5]), 0xAA);
        frame.setType(FrameType::Beacon);
        QCOMPARE(int(frame.data()[5]), 0x2A);
    }

    void beacon_data()
    {
        QTest::addColumn<quint32>("networkTime");
        QTest::addColumn<quint32>("cycleInterval");
        QTest::addColumn<quint16>("slotDuration");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("groups 0 and 4") << 258u << 1000u << quint16(30) << 0x11u << kBeacon;
        QTest::newRow("every byte of every field differs")
                << 0xA1B2C3D4u << 0x123456u << quint16(0xBEEF) << 0x8001u
                << bytes("c7c7c7c7 0c 00 d4c3b2a1 563412 efbe 0180");
        QTest::newRow("interval of 2^24 ms and mask bits from 16 up are dropped")
                << 0u << 0x1000000u << quint16(10) << 0xFFFF0004u
                << bytes("c7c7c7c7 0c 00 00000000 000000 0a00 0400");
    }

    // Built as the engine builds it, and read back from the received bytes.
    void beacon()
    {
        QFETCH(quint32, networkTime);
        QFETCH(quint32, cycleInterval);
        QFETCH(quint16, slotDuration);
        QFETCH(quint32, mask);
        QFETCH(QByteArray, expected);
        Beacon beacon;
        beacon.setNetworkTime(networkTime);
        beacon.setCycleInterval(cycleInterval);
        beacon.setSlotDuration(slotDuration);
        beacon.setSvGroupMask(mask);
        QCOMPARE(bytesOf(beacon).toHex(' '), expected.toHex(' '));

        const Beacon received(frameOver(expected));
        QCOMPARE(received.networkTime(), networkTime);
        QCOMPARE(received.cycleInterval(), cycleInterval & 0xFFFFFFu);
        QCOMPARE(received.slotDuration(), slotDuration);
        QCOMPARE(received.svGroupMask(), quint16(mask));
    }

    void beaconConstructor()
    {
        QCOMPARE(bytesOf(Beacon(0x020304)).toHex(' '),
                 bytes("c7c7c7c7 0c 00 00000000 040302 0000 0000").toHex(' '));
    }

    void hexDump_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("three bytes") << bytes("00abff") << "00 ab ff ";
        QTest::newRow("no bytes") << QByteArray() << "";
        // Longer than any frame of the network: whole, not written past the text's end.
        QByteArray oversized;
        QString dump;
        for (int i = 0; i < 300; ++i) {
            oversized += char(i);
            dump += QString::asprintf("%02x ", i & 0xFF);
        }
        QTest::newRow("300 bytes") << oversized << dump;
        QTest::newRow("one byte after a long one") << bytes("c7") << "c7 ";
    }

    void hexDump()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(QString::fromLatin1(frameOver(bytes).toHexString()), text);
    }

    void sendingTransmitsTheValidBytes()
    {
        RecordingDriver driver;
        Frame frame(20);
        std::fill(frame.data(), frame.data() + 20, 0x33);
        frame.setLength(9);
        QCOMPARE(&(driver << frame), &driver);
        QCOMPARE(driver.transmitted, QList<QByteArray>{bytesOf(frame)});
    }
};

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
