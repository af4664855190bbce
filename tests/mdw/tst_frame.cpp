#include "mdw/talven/frame.h"
#include "mdw/talven/networkinterfacedriver.h"
#include "support/assertionprobe.h"

#include <QtTest>

using ardo::SharedBuffer;
using talven::Beacon;
using talven::Frame;
using talven::FrameType;

Q_DECLARE_METATYPE(talven::FrameType)

namespace {

QByteArray bytesOf(const Frame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.length()));
}

Frame frameOver(const QByteArray &bytes)
{
    return Frame(SharedBuffer<uint8_t>::proxy(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                              size_t(bytes.size())));
}

// Remembers what was handed to transmit().
class CapturingDriver : public talven::NetworkInterfaceDriver
{
public:
    std::string name() const override { return "capture"; }
    bool open() override { return true; }
    bool isOpen() const override { return true; }
    uint32_t address() const override { return 0; }
    bool transmit(const uint8_t *data, size_t length) override
    {
        sent.append(QByteArray(reinterpret_cast<const char *>(data), int(length)));
        return false;
    }
    void setReceiveHandler(ReceiveHandler) override {}

    QList<QByteArray> sent;
};

const AssertionProbe::Probes &probes()
{
    static const AssertionProbe::Probes all = {
            {"length past capacity",
             [] {
                 Frame(7).setLength(8);
             }},
            {"frame over no bytes",
             [] {
                 Frame frame{SharedBuffer<uint8_t>()};
             }},
            {"address from null",
             [] {
                 phy::Address<4> address(nullptr);
             }},
    };
    return all;
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void addressKeepsWireOrder()
    {
        const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
        phy::Address<4> address(bytes);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(address.bytes()), 4),
                 QByteArray::fromHex("01020304"));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(phy::Address<4>().bytes()), 4),
                 QByteArray(4, '\0'));
        phy::Address<4> copy;
        copy = address;
        QVERIFY(copy == address);
    }

    void lengthFieldCountsTheBytesAfterIt_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("lengthField");
        QTest::newRow("beacon size") << 17 << 12;
        QTest::newRow("mpdu with no epdu") << 7 << 2;
        QTest::newRow("mpdu capacity") << 37 << 32;
        QTest::newRow("header only") << 5 << 0;
    }

    void lengthFieldCountsTheBytesAfterIt()
    {
        QFETCH(int, size);
        QFETCH(int, lengthField);
        Frame frame(size);
        QCOMPARE(frame.length(), size_t(size));
        QCOMPARE(int(frame.data()[4]), lengthField);
    }

    void setLengthUpToCapacity()
    {
        Frame frame(20);
        frame.setLength(9);
        QCOMPARE(frame.length(), size_t(9));
        QCOMPARE(int(frame.data()[4]), 4);
        frame.setLength(20);
        QCOMPARE(frame.length(), size_t(20));
        QCOMPARE(int(frame.data()[4]), 15);
    }

    void receivedFrameIsAViewOfTheBytes()
    {
        const QByteArray bytes = QByteArray::fromHex("c7c7c7c7ff00");
        Frame frame = frameOver(bytes);
        QCOMPARE(static_cast<const void *>(frame.data()), static_cast<const void *>(bytes.data()));
        QCOMPARE(frame.length(), size_t(6));
        QCOMPARE(int(frame.data()[4]), 0xff); // the received length field is left alone
        Frame copy = frame;
        QCOMPARE(copy.data(), frame.data());
    }

    void classification_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FrameType>("type");
        QTest::addColumn<bool>("valid");
        QTest::newRow("no bytes") << QByteArray() << FrameType::Invalid << false;
        QTest::newRow("five bytes, no type byte")
                << QByteArray::fromHex("e2e2e2e201") << FrameType::Invalid << false;
        QTest::newRow("beacon header")
                << QByteArray::fromHex("c7c7c7c70c00") << FrameType::Beacon << true;
        QTest::newRow("mpdu of node 5")
                << QByteArray::fromHex("e2e2e2e20b85") << FrameType::Mpdu << true;
        QTest::newRow("type bit alone")
                << QByteArray::fromHex("0000000000800000") << FrameType::Mpdu << true;
        QTest::newRow("node id bits without type bit")
                << QByteArray::fromHex("e2e2e2e2027f00") << FrameType::Beacon << true;
    }

    void classification()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(FrameType, type);
        QFETCH(bool, valid);
        // A single byte stands behind an empty frame so that its view has an address.
        QByteArray storage = bytes + QByteArray(1, char(0x80));
        Frame frame(SharedBuffer<uint8_t>::proxy(
                reinterpret_cast<const uint8_t *>(storage.constData()), size_t(bytes.size())));
        QCOMPARE(frame.type(), type);
        QCOMPARE(frame.isValid(), valid);
    }

    void setTypeKeepsTheNodeId()
    {
        Frame frame(7);
        frame.data()[5] = 0x2A;
        frame.setType(FrameType::Mpdu);
        QCOMPARE(int(frame.data()[5]), 0xAA);
        frame.setType(FrameType::Invalid);
        QCOMPARE(int(frame.data()[5]), 0xAA);
        frame.setType(FrameType::Beacon);
        QCOMPARE(int(frame.data()[5]), 0x2A);
    }

    void beaconBytes_data()
    {
        QTest::addColumn<quint32>("networkTime");
        QTest::addColumn<quint32>("cycleInterval");
        QTest::addColumn<quint16>("slotDuration");
        QTest::addColumn<quint32>("mask");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("groups 0 and 4")
                << 258u << 1000u << quint16(30) << 0x11u
                << QByteArray::fromHex("c7c7c7c70c00020100 00e80300 1e00 1100");
        QTest::newRow("ten o'clock, default cycle")
                << 36000000u << 2013u << quint16(50) << 0xFFFFu
                << QByteArray::fromHex("c7c7c7c70c00 00512502 dd0700 3200 ffff");
        QTest::newRow("interval uses all three bytes")
                << 0xA1B2C3D4u << 0x123456u << quint16(0xBEEF) << 0x8001u
                << QByteArray::fromHex("c7c7c7c70c00 d4c3b2a1 563412 efbe 0180");
        QTest::newRow("2^24 ms interval wraps to 0")
                << 0u << 0x1000000u << quint16(10) << 0u
                << QByteArray::fromHex("c7c7c7c70c00 00000000 000000 0a00 0000");
        QTest::newRow("mask bits 16 and up are dropped")
                << 0u << 330u << quint16(10) << 0xFFFF0004u
                << QByteArray::fromHex("c7c7c7c70c00 00000000 4a0100 0a00 0400");
    }

    void beaconBytes()
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
        QCOMPARE(bytesOf(beacon).toHex(), expected.toHex());
        QCOMPARE(beacon.type(), FrameType::Beacon);
    }

    void beaconConstructorSetsHeaderTimeAndInterval()
    {
        Beacon beacon(0x020304);
        QCOMPARE(bytesOf(beacon).left(13).toHex(),
                 QByteArray::fromHex("c7c7c7c70c00 00000000 040302").toHex());
    }

    void hexDump_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("three bytes") << QByteArray::fromHex("00abff") << "00 ab ff ";
        QTest::newRow("no bytes") << QByteArray() << "";
    }

    void hexDump()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QByteArray storage = bytes + QByteArray(1, '\0');
        Frame frame(SharedBuffer<uint8_t>::proxy(
                reinterpret_cast<const uint8_t *>(storage.constData()), size_t(bytes.size())));
        QCOMPARE(QString::fromLatin1(frame.toHexString()), text);
    }

    void hexDumpOfAnOversizedFrameIsWhole()
    {
        QByteArray bytes(300, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i);
        const QString dump = QString::fromLatin1(frameOver(bytes).toHexString());
        QCOMPARE(dump.size(), 900);
        QCOMPARE(dump.left(9), QStringLiteral("00 01 02 "));
        QCOMPARE(dump.right(9), QStringLiteral("29 2a 2b ")); // 297..299 wrap past 255

        // A short frame afterwards gets a short text again.
        QCOMPARE(QString::fromLatin1(frameOver(QByteArray::fromHex("c7")).toHexString()),
                 QStringLiteral("c7 "));
    }

    void sendingTransmitsTheValidBytes()
    {
        CapturingDriver driver;
        Frame frame(20);
        std::fill(frame.data(), frame.data() + 20, 0x33);
        frame.setLength(9);
        talven::NetworkInterfaceDriver &result = driver << frame;
        QCOMPARE(&result, static_cast<talven::NetworkInterfaceDriver *>(&driver));
        QCOMPARE(driver.sent.size(), 1);
        QCOMPARE(driver.sent.first(), bytesOf(frame));
        QCOMPARE(driver.sent.first().size(), 9);
    }

    void preconditions_data()
    {
        QTest::addColumn<QString>("probe");
        QTest::addColumn<QString>("message");
        QTest::newRow("length past capacity") << "length past capacity"
                                              << R"x(ASSERT: "false" in file mdw/talven/frame)x";
        QTest::newRow("frame over no bytes")
                << "frame over no bytes"
                << R"x(ASSERT: "buffer_.data()" in file mdw/talven/frame)x";
        QTest::newRow("address from null") << "address from null"
                                           << R"x(ASSERT: "from" in file mdw/talven/address)x";
    }

    void preconditions()
    {
        QFETCH(QString, probe);
        QFETCH(QString, message);
        const auto outcome = AssertionProbe::run(probe);
        QVERIFY2(outcome.crashed, qPrintable(outcome.standardError));
        QVERIFY2(outcome.standardError.contains(message), qPrintable(outcome.standardError));
    }
};

int main(int argc, char **argv)
{
    if (int rc = AssertionProbe::runIfAsked(argc, argv, probes()))
        return rc;
    QCoreApplication app(argc, argv);
    TestFrame test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frame.moc"
