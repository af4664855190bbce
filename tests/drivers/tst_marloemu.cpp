#include "common/seriallink.h"
#include "marlo-emu/impairments.h"
#include "marlo-emu/link.h"
#include "marlo-emu/terminal.h"
#include "support/frames.h"
#include "support/serialmessage.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTime>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace marlo;
using SerialBytes::kLinkUp;
using SerialBytes::message;

namespace {

const QByteArray kMpdu = mpdu(1, 1, "c1 10 02");

QByteArray withBadChecksum(QByteArray bytes)
{
    bytes.back() = char(bytes.back() ^ 0x10);
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(marlo::Impairments)

// marlo-emu's parts in process: what its impairments make of a message, its side of the link
// protocol, and its end of the terminal.
class TestMarloEmu : public QObject
{
    Q_OBJECT

private slots:
    void impairments_data()
    {
        QTest::addColumn<Impairments>("impairments");
        QTest::addColumn<int>("minNoise");
        QTest::addColumn<int>("maxNoise");
        QTest::addColumn<int>("maxPieces");

        QTest::newRow("none: the message whole") << Impairments{} << 0 << 0 << 1;
        QTest::newRow("noise: 1 to 8 bytes, no sync byte")
                << Impairments{true, false, false, 0} << 1 << 8 << 1;
        QTest::newRow("false start: sync byte and up to 7 bytes")
                << Impairments{true, true, false, 0} << 1 << 8 << 1;
        QTest::newRow("split in 2 to 4 pieces")
                << Impairments{false, false, true, 0} << 0 << 0 << 4;
        QTest::newRow("every checksum wrong, noisy and split")
                << Impairments{true, false, true, 1} << 1 << 8 << 4;
    }

    // Only the noise before the message and the checksum may change, never the rest.
    void impairments()
    {
        QFETCH(Impairments, impairments);
        QFETCH(int, minNoise);
        QFETCH(int, maxNoise);
        QFETCH(int, maxPieces);

        const QByteArray sent = message(4, "link up");
        QRandomGenerator dice(7);
        QSet<int> noiseSizes, pieceCounts;
        for (int i = 0; i < 300; ++i) {
            const QList<QByteArray> pieces = impair(sent, impairments, dice);
            pieceCounts << pieces.size();
            QByteArray written;
            for (const QByteArray &piece : pieces) {
                QVERIFY(!piece.isEmpty());
                written += piece;
            }
            const QByteArray noise = written.left(written.size() - sent.size());
            const QByteArray line = written.right(sent.size());
            noiseSizes << noise.size();
            QCOMPARE(line.chopped(1), sent.chopped(1));
            QCOMPARE(line.back() != sent.back(), impairments.corruptChecksumRate == 1);
            QCOMPARE(noise.indexOf('\x7f'), impairments.noiseSync ? 0 : -1);
        }
        QCOMPARE(*std::minmax_element(noiseSizes.begin(), noiseSizes.end()).first, minNoise);
        QCOMPARE(*std::minmax_element(noiseSizes.begin(), noiseSizes.end()).second, maxNoise);
        QCOMPARE(pieceCounts.values().size(), maxPieces > 1 ? 3 : 1);
        QVERIFY(pieceCounts.contains(maxPieces));
    }

    // One session, the PC's bytes fed one at a time: what goes to the PC and on the air.
    void link()
    {
        Link link(false, [](const QString &) {});
        QStringList said;
        quint32 lastTime = 0;
        connect(&link, &Link::sendToPc, this, [&](const QByteArray &bytes) {
            seriallink::Reader reader;
            seriallink::Message next;
            reader.append(bytes);
            QVERIFY(reader.next(&next) && next.checksumMatches && next.bytes == bytes);
            const QByteArray &payload = next.payload;
            said << (next.type == 4 ? "debug " + QString::fromUtf8(payload)
                                    : QString("%1 %2 %3")
                                              .arg(next.type)
                                              .arg(QString(payload.left(6).toHex()),
                                                   QString(payload.mid(10).toHex())));
            lastTime = next.type == 3 ? qFromLittleEndian<quint32>(payload.constData() + 6) : 0;
        });
        QSignalSpy radio(&link, &Link::sendToRadio);
        QSignalSpy down(&link, &Link::wentDown);
        const auto fromPc = [&](const QByteArray &bytes) {
            for (char byte : bytes)
                link.receiveFromPc(QByteArray(1, byte));
        };

        link.frameHeard(kMpdu);
        fromPc(kLinkUp + bytes("00 55") + message(2, kBeacon) + withBadChecksum(message(2, kBeacon))
               + message(9, "x") + message(1, bytes("0901")) + message(1, bytes("0107"))
               + message(2, QByteArray()));
        const quint32 before = quint32(QTime::currentTime().msecsSinceStartOfDay());
        link.frameHeard(kMpdu);
        const quint32 after = quint32(QTime::currentTime().msecsSinceStartOfDay());
        QVERIFY(lastTime != 0 && (before > after || (lastTime >= before && lastTime <= after)));
        link.frameHeard(kMpdu.left(5));
        fromPc(message(1, bytes("0102")) + message(9, "x"));
        link.frameHeard(kMpdu);

        QCOMPARE(said, (QStringList{"debug link up", "debug dropped a message with a bad checksum",
                                    "debug dropped a message of type 9", "debug unknown command 9",
                                    "debug unknown link argument 7", "debug dropped an empty frame",
                                    "3 e2e2e2e20581 01c11002",
                                    "debug heard a frame of 5 bytes, not passed on"}));
        QCOMPARE(radio.count(), 1);
        QCOMPARE(radio.first().first().toByteArray(), kBeacon);
        QCOMPARE(down.count(), 1);
    }

    // Raw both ways (a cooked terminal would echo, or turn a CR into a LF), and the link to it
    // made and removed.
    void terminal()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("board");
        {
            QString error;
            Terminal terminal([](const QString &) {});
            QVERIFY2(terminal.open(link, &error), qPrintable(error));
            QCOMPARE(QFileInfo(link).symLinkTarget(), terminal.path());
            const int pc = ::open(qPrintable(link), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(pc >= 0);
            QSignalSpy received(&terminal, &Terminal::received);
            QCOMPARE(::write(pc, "\r\x7f\n", 3), ssize_t(3));
            QTRY_COMPARE(received.count(), 1);
            QCOMPARE(received.first().first().toByteArray(), QByteArray("\r\x7f\n"));

            terminal.write("\x7f\r\x03\n");
            QByteArray read;
            const auto readSome = [&] {
                char chunk[16];
                const ssize_t got = ::read(pc, chunk, sizeof chunk);
                read.append(chunk, int(std::max<ssize_t>(got, 0)));
                return read.size() >= 4;
            };
            QTRY_VERIFY(readSome());
            QCOMPARE(read, QByteArray("\x7f\r\x03\n"));
            ::close(pc);
        }
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestMarloEmu)

#include "tst_marloemu.moc"
