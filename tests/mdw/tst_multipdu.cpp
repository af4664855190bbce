#include "mdw/talven/frame.h"
#include "support/frames.h"

#include <QtTest>

using ardo::SharedBuffer;
using talven::MultiPdu;

namespace {

// Writes every callback as one line, so a whole walk compares as a list of texts, and notes any
// payload that is not a view into the bytes held.
class Transcript : public MultiPdu::DecomposeDelegate
{
public:
    explicit Transcript(const talven::Frame &frame)
        : begin_(frame.data())
        , end_(frame.data() + frame.length())
    {}

    void onSvGroup(const MultiPdu &, uint8_t group, const SharedBuffer<uint8_t> &payload) override
    {
        record(QStringLiteral("sv %1 ").arg(group), payload);
    }
    void onEvent(const MultiPdu &, uint16_t eventId, const SharedBuffer<uint8_t> &payload) override
    {
        record(QStringLiteral("event %1 ").arg(eventId), payload);
    }
    void onFormatError(const MultiPdu &, size_t ePduIndex, size_t position) override
    {
        lines << QStringLiteral("error %1 at %2").arg(ePduIndex).arg(position);
    }

    QStringList lines;
    bool copied = false;

private:
    void record(const QString &line, const SharedBuffer<uint8_t> &payload)
    {
        const QByteArray bytes(reinterpret_cast<const char *>(payload.data()), int(payload.size()));
        lines << line + bytes.toHex();
        copied |= payload.data() < begin_ || payload.data() + payload.size() > end_;
    }

    const uint8_t *begin_, *end_;
};

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
        QTest::addColumn<int>("held"); // bytes handed over; -1: all of them
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("wellFormed");

        const QStringList both = {"sv 2 a1a2a3a4a5a6", "event 8 07"};
        QTest::newRow("sv group and event") << kNode5Mpdu << -1 << both << true;
        QTest::newRow("count one too many") << withCount(kNode5Mpdu, 3) << -1
                                            << (QStringList(both) << "error 2 at 21") << false;
        QTest::newRow("count one too few, bytes left over")
                << withCount(kNode5Mpdu, 1) << -1
                << QStringList{"sv 2 a1a2a3a4a5a6", "error 0 at 19"} << false;
        QTest::newRow("payload runs past the end") << bytes("e2e2e2e2 09 85 01 17 010203040506")
                                                   << -1 << QStringList{"error 0 at 12"} << false;
        QTest::newRow("empty and well formed")
                << bytes("e2e2e2e2 02 85 00") << -1 << QStringList() << true;
        QTest::newRow("empty with a stray byte")
                << bytes("e2e2e2e2 03 85 00 ff") << -1 << QStringList{"error 0 at 12"} << false;
        QTest::newRow("no count byte")
                << bytes("e2e2e2e2 01 85") << -1 << QStringList{"error 0 at 12"} << false;
        QTest::newRow("every kind of id and size")
                << bytes("e2e2e2e2 0e 80 04 00 f8 79 01 87 01020304050607") << -1
                << QStringList{"sv 0 ", "event 15 ", "sv 15 01", "event 0 01020304050607"} << true;
        QTest::newRow("length field ends inside the last payload")
                << bytes("e2e2e2e2 0a 80 04 00 f8 79 01 87 01020304050607") << -1
                << QStringList{"sv 0 ", "event 15 ", "sv 15 01", "error 3 at 16"} << false;

        // Hidden bytes behind those held would decode as valid ePDUs: a read past the bytes held
        // shows up as a callback instead of a format error.
        const QByteArray hidden = bytes("c1 05 c1 05 c1 05 c1 05");
        QTest::newRow("length field claims more than held")
                << bytes("e2e2e2e2 1e 85 04 c1 01") + hidden << 10
                << QStringList{"event 8 01", "error 1 at 14"} << false;
        QTest::newRow("header announces a payload beyond the bytes held")
                << bytes("e2e2e2e2 1e 85 01 17 0102") + hidden << 10 << QStringList{"error 0 at 12"}
                << false;
        QTest::newRow("count byte not held") << bytes("e2e2e2e2 1e 85 02") + hidden << 6
                                             << QStringList{"error 0 at 12"} << false;
    }

    void decompose()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, held);
        QFETCH(QStringList, lines);
        QFETCH(bool, wellFormed);
        const MultiPdu mpdu(frameOver(bytes, held));
        Transcript transcript(mpdu);
        QCOMPARE(mpdu.decompose(transcript), wellFormed);
        QCOMPARE(transcript.lines, lines);
        QVERIFY(!transcript.copied);
    }

    void buildingAndReadingBack()
    {
        MultiPdu mpdu;
        QCOMPARE(bytesOf(mpdu).toHex(' '), bytes("e2e2e2e2 02 80 00").toHex(' '));
        mpdu.setSourceId(5);
        const uint8_t accelerometer[] = {0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6};
        auto sample = mpdu.svGroupBuffer();
        QCOMPARE(sample.size(), size_t(37 - 8));
        std::copy(accelerometer, accelerometer + 6, sample.data());
        mpdu.addSvGroup(2, 6);
        const uint8_t joystick = 0x07;
        QVERIFY(mpdu.addEvent(8, SharedBuffer<uint8_t>::proxy(&joystick, 1)));
        QCOMPARE(bytesOf(mpdu).toHex(' '), kNode5Mpdu.toHex(' '));

        const MultiPdu received(frameOver(kNode5Mpdu));
        QCOMPARE(int(received.sourceId()), 5);
        QCOMPARE(int(received.ePduCount()), 2);
        QCOMPARE(int(MultiPdu(frameOver(bytes("e2e2e2e2 02 ff 00"))).sourceId()), 127);
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
        if (!accepted) {
            QCOMPARE(bytesOf(mpdu), before);
            return;
        }
        QCOMPARE(bytesOf(mpdu).mid(before.size()), char(0xC0 | size) + payload);
        QCOMPARE(int(mpdu.data()[4]), before.size() + size - 4);
        QCOMPARE(int(mpdu.ePduCount()), before[6] + 1);
    }
};

QTEST_APPLESS_MAIN(TestMultiPdu)
#include "tst_multipdu.moc"
