#include "mdw/talven/frame.h"

#include <QtTest>

using ardo::SharedBuffer;
using talven::Frame;
using talven::MultiPdu;

namespace {

// Writes every callback as one line, so a whole walk compares as a list of texts.
class Transcript : public MultiPdu::DecomposeDelegate
{
public:
    void onSvGroup(const MultiPdu &mpdu, uint8_t group,
                   const SharedBuffer<uint8_t> &payload) override
    {
        record(mpdu, QStringLiteral("sv %1 %2").arg(group).arg(hex(payload)), payload);
    }
    void onEvent(const MultiPdu &mpdu, uint16_t eventId,
                 const SharedBuffer<uint8_t> &payload) override
    {
        record(mpdu, QStringLiteral("event %1 %2").arg(eventId).arg(hex(payload)), payload);
    }
    void onFormatError(const MultiPdu &, size_t ePduIndex, size_t position) override
    {
        lines << QStringLiteral("error %1 at %2").arg(ePduIndex).arg(position);
    }

    QStringList lines;
    QList<const uint8_t *> payloadAddresses;

private:
    static QString hex(const SharedBuffer<uint8_t> &payload)
    {
        return QString::fromLatin1(
                QByteArray(reinterpret_cast<const char *>(payload.data()), int(payload.size()))
                        .toHex());
    }
    void record(const MultiPdu &, const QString &line, const SharedBuffer<uint8_t> &payload)
    {
        lines << line;
        payloadAddresses << payload.data();
    }
};

MultiPdu received(const QByteArray &bytes)
{
    return MultiPdu(Frame(SharedBuffer<uint8_t>::proxy(
            reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()))));
}

QByteArray bytesOf(const talven::Frame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.length()));
}

// Node 5: SV group 2 with six bytes, then event 8 with one byte.
const QByteArray kNode5 = QByteArray::fromHex("e2e2e2e2 0b 85 02 16 a1a2a3a4a5a6 c1 07");

QByteArray withCount(QByteArray bytes, char count)
{
    bytes[6] = count;
    return bytes;
}

} // namespace

class TestMultiPdu : public QObject
{
    Q_OBJECT

private slots:
    void decompose_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("wellFormed");

        const QStringList both = {"sv 2 a1a2a3a4a5a6", "event 8 07"};
        QTest::newRow("sv group and event") << kNode5 << both << true;
        QTest::newRow("count one too many")
                << withCount(kNode5, 3) << (QStringList(both) << "error 2 at 21") << false;
        QTest::newRow("count one too few, bytes left over")
                << withCount(kNode5, 1) << QStringList{"sv 2 a1a2a3a4a5a6", "error 0 at 19"}
                << false;
        QTest::newRow("payload runs past the end")
                << QByteArray::fromHex("e2e2e2e2 09 85 01 17 010203040506")
                << QStringList{"error 0 at 12"} << false;
        QTest::newRow("empty and well formed")
                << QByteArray::fromHex("e2e2e2e2 02 85 00") << QStringList() << true;
        QTest::newRow("empty with a stray byte") << QByteArray::fromHex("e2e2e2e2 03 85 00 ff")
                                                 << QStringList{"error 0 at 12"} << false;
        QTest::newRow("no count byte")
                << QByteArray::fromHex("e2e2e2e2 01 85") << QStringList{"error 0 at 12"} << false;
        QTest::newRow("every kind of id and size")
                << QByteArray::fromHex("e2e2e2e2 0e 80 04 00 f8 79 01 87 01020304050607")
                << QStringList{"sv 0 ", "event 15 ", "sv 15 01", "event 0 01020304050607"} << true;
        QTest::newRow("length field ends inside the last payload")
                << QByteArray::fromHex("e2e2e2e2 0a 80 04 00 f8 79 01 87 01020304050607")
                << QStringList{"sv 0 ", "event 15 ", "sv 15 01", "error 3 at 16"} << false;
        QTest::newRow("seven-byte payloads back to back")
                << QByteArray::fromHex("e2e2e2e2 12 85 02 17 01020304050607 cf 11121314151617")
                << QStringList{"sv 2 01020304050607", "event 9 11121314151617"} << true;
    }

    void decompose()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QFETCH(bool, wellFormed);
        Transcript transcript;
        QCOMPARE(received(bytes).decompose(transcript), wellFormed);
        QCOMPARE(transcript.lines, lines);
    }

    // The frame is a prefix of larger storage whose hidden bytes would decode as valid ePDUs:
    // any read past the bytes held shows up as a callback instead of a format error.
    void neverReadsPastTheBytesHeld_data()
    {
        QTest::addColumn<QByteArray>("storage");
        QTest::addColumn<int>("held");
        QTest::addColumn<QStringList>("lines");

        const QByteArray hidden = QByteArray::fromHex("c1 05 c1 05 c1 05 c1 05");
        QTest::newRow("length field claims more than held")
                << QByteArray::fromHex("e2e2e2e2 1e 85 04 c1 01") + hidden << 10
                << QStringList{"event 8 01", "error 1 at 14"};
        QTest::newRow("header announces a payload beyond the bytes")
                << QByteArray::fromHex("e2e2e2e2 1e 85 01 17 0102") + hidden << 10
                << QStringList{"error 0 at 12"};
        QTest::newRow("count byte not held")
                << QByteArray::fromHex("e2e2e2e2 1e 85") + QByteArray::fromHex("02") + hidden << 6
                << QStringList{"error 0 at 12"};
        QTest::newRow("huge count, nothing after the header")
                << QByteArray::fromHex("e2e2e2e2 1e 85 ff") + hidden << 7
                << QStringList{"error 0 at 12"};
    }

    void neverReadsPastTheBytesHeld()
    {
        QFETCH(QByteArray, storage);
        QFETCH(int, held);
        QFETCH(QStringList, lines);
        MultiPdu mpdu(Frame(SharedBuffer<uint8_t>::proxy(
                reinterpret_cast<const uint8_t *>(storage.constData()), size_t(held))));
        Transcript transcript;
        QVERIFY(!mpdu.decompose(transcript));
        QCOMPARE(transcript.lines, lines);
    }

    void payloadsAreViewsIntoTheFrame()
    {
        Transcript transcript;
        MultiPdu mpdu = received(kNode5);
        mpdu.decompose(transcript);
        const auto *bytes = reinterpret_cast<const uint8_t *>(kNode5.constData());
        QCOMPARE(transcript.payloadAddresses, (QList<const uint8_t *>{bytes + 8, bytes + 15}));
    }

    void readsTheHeaderOfAReceivedFrame()
    {
        MultiPdu mpdu = received(kNode5);
        QCOMPARE(int(mpdu.sourceId()), 5);
        QCOMPARE(int(mpdu.ePduCount()), 2);
        QCOMPARE(mpdu.length(), size_t(16));
        QCOMPARE(int(received(QByteArray::fromHex("e2e2e2e2 02 ff 00")).sourceId()), 127);
    }

    void freshMpdu()
    {
        MultiPdu mpdu;
        QCOMPARE(bytesOf(mpdu).toHex(), QByteArray("e2e2e2e2028000"));
        QCOMPARE(mpdu.capacity(), size_t(37));
        mpdu.setSourceId(0x13);
        QCOMPARE(int(mpdu.data()[5]), 0x93);
        QCOMPARE(mpdu.type(), talven::FrameType::Mpdu);
    }

    void buildingRoundTrips()
    {
        MultiPdu mpdu;
        mpdu.setSourceId(5);
        auto sample = mpdu.svGroupBuffer();
        QCOMPARE(sample.size(), size_t(37 - 8));
        const uint8_t accel[] = {0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6};
        std::copy(accel, accel + 6, sample.data());
        mpdu.addSvGroup(2, 6);
        const uint8_t joystick = 0x07;
        QVERIFY(mpdu.addEvent(8, SharedBuffer<uint8_t>::proxy(&joystick, 1)));
        QCOMPARE(bytesOf(mpdu).toHex(), kNode5.toHex());
    }

    void addEventLimits_data()
    {
        QTest::addColumn<int>("filled"); // bytes of ePDUs already in the frame
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one byte into a fresh frame") << 0 << 1 << true;
        QTest::newRow("seven bytes") << 0 << 7 << true;
        QTest::newRow("eight bytes") << 0 << 8 << false;
        QTest::newRow("leaves one byte free") << 22 << 6 << true;
        QTest::newRow("would fill the last byte") << 22 << 7 << false;
    }

    void addEventLimits()
    {
        QFETCH(int, filled);
        QFETCH(int, size);
        QFETCH(bool, accepted);
        MultiPdu mpdu;
        for (int left = filled; left > 0; left -= 8)
            mpdu.addSvGroup(1, size_t(std::min(left, 8) - 1));
        const QByteArray before = bytesOf(mpdu);
        const QByteArray payload(size, '\x5a');
        QCOMPARE(mpdu.addEvent(8, SharedBuffer<uint8_t>::proxy(
                                          reinterpret_cast<const uint8_t *>(payload.constData()),
                                          size_t(size))),
                 accepted);
        if (accepted) {
            QCOMPARE(mpdu.length(), size_t(7 + filled + 1 + size));
            QCOMPARE(int(mpdu.data()[7 + filled]), 0xC0 | size);
        } else {
            QCOMPARE(bytesOf(mpdu), before);
        }
    }

    void firstEventOfAFreshFrame()
    {
        MultiPdu mpdu;
        const uint8_t value = 0x04;
        QVERIFY(mpdu.addEvent(8, SharedBuffer<uint8_t>::proxy(&value, 1)));
        QCOMPARE(mpdu.length(), size_t(9));
        QCOMPARE(int(mpdu.ePduCount()), 1);
        QCOMPARE(int(mpdu.data()[7]), 0xC1);
        QCOMPARE(int(mpdu.data()[4]), 4);
    }
};

QTEST_APPLESS_MAIN(TestMultiPdu)
#include "tst_multipdu.moc"
