#include "drivers/nrflumbriodriver.h"
#include "support/frames.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTime>
#include <QtEndian>
#include <QtTest>

#include <memory>

using Bytes = QList<QByteArray>;
using Counts = QList<int>;
using Driver = talven::NetworkInterfaceDriver;

namespace {

constexpr quint16 kSimulatorPort = 8844;
const std::string kInterfaceName = "Lumbrio virtual Network Interface";

const QByteArray kAnnouncedX = bytes("03 00000002 05 78 03 00000005 01 e2e2e2e2");

// A frame message from the simulator, with preamble and checksum both wrong: the driver must not
// judge them.
QByteArray frameMessage(const QByteArray &frame)
{
    QByteArray header(5, 1);
    qToBigEndian<quint32>(quint32(frame.size() + 3), header.data() + 1);
    return header + bytes("00") + frame + bytes("0000");
}

// Plays the simulator on its fixed port. The tests hold the CTest lock lumbrio-port, so a taken
// port is something outside them.
struct Simulator
{
    // False, with `error` set, when `driver` does not open and connect.
    bool connect(Driver &driver)
    {
        if (!server.listen(QHostAddress::LocalHost, kSimulatorPort))
            error = "port 8844 is taken (a running lumbrio-sim?): " + server.errorString();
        else if (!driver.open() || !server.waitForNewConnection(5000))
            error = "the driver did not connect";
        peer = server.nextPendingConnection();
        return error.isEmpty();
    }
    // Returns once the kernel holds `bytes` for the driver.
    bool send(const QByteArray &bytes)
    {
        peer->write(bytes);
        return QTest::qWaitFor([&] { return peer->bytesToWrite() == 0; }, 5000);
    }

    QTcpServer server;
    QTcpSocket *peer = nullptr;
    QString error;
};

} // namespace

class TestLumbrioDriver : public QObject
{
    Q_OBJECT

private slots:
    void writing_data()
    {
        QTest::addColumn<bool>("fromProber");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("the prober's driver announces the testbench; a beacon in 25 bytes")
                << true << 0u << "" << kBeacon << 17
                << bytes("03 00000011 05 54414c56454e205465737462656e6368 03 00000005 01 e2e2e2e2"
                         "01 00000014 aa")
                           + kBeacon + bytes("90a5");
        QTest::newRow("address big-endian; first byte 7f: preamble 55")
                << false << 0x01020304u << "ab" << bytes("7f") << 1
                << bytes("03 00000003 05 6162 03 00000005 01 01020304 01 00000004 55 7f 7b08");
        QTest::newRow("first byte 80: preamble aa")
                << false << 0xE2E2E2E2u << "x" << bytes("80") << 1
                << kAnnouncedX + bytes("01 00000004 aa 80 7470");
        QTest::newRow("empty frame: the byte behind it chooses nothing")
                << false << 0xE2E2E2E2u << "x" << bytes("80") << 0
                << kAnnouncedX + bytes("01 00000003 55 0000");
    }

    void writing()
    {
        QFETCH(bool, fromProber);
        QFETCH(quint32, address);
        QFETCH(QString, name);
        QFETCH(QByteArray, frame);
        QFETCH(int, length);
        QFETCH(QByteArray, expected);

        std::unique_ptr<Driver> driver(
                fromProber ? Driver::Descriptor::availableDescriptors().back()->instantiate()
                           : new NrfLumbrioDriver(address, name.toStdString()));
        QCOMPARE(driver->name(), kInterfaceName);
        Simulator simulator;
        QVERIFY2(simulator.connect(*driver), qPrintable(simulator.error));
        QVERIFY(driver->transmit(reinterpret_cast<const uint8_t *>(frame.constData()),
                                 size_t(length)));
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += simulator.peer->readAll()).size() >= expected.size(),
                                 5000);
        QCOMPARE(received.toHex(), expected.toHex());
    }

    void receiving_data()
    {
        // Sent and dropped before the handlers are set.
        QTest::addColumn<QByteArray>("beforeHandler");
        QTest::addColumn<Bytes>("chunks");
        // Frames delivered once each chunk is in; the wait for it lets the driver read the chunk.
        QTest::addColumn<Counts>("deliveredAfter");
        QTest::addColumn<Bytes>("expected");

        const QByteArray beacon = frameMessage(kBeacon);
        const QByteArray mpdu = frameMessage(kNode5Mpdu);
        const Bytes both{kBeacon, kNode5Mpdu};

        QTest::newRow("two messages in one read")
                << QByteArray() << Bytes{beacon + mpdu} << Counts{2} << both;
        QTest::newRow("split after a header and inside a payload, delivered when whole")
                << QByteArray() << Bytes{beacon + mpdu.left(5), mpdu.mid(5, 4), mpdu.mid(9)}
                << Counts{1, 1, 2} << both;
        QTest::newRow("control, unknown kinds and payloads of 0 to 2 bytes dropped")
                << QByteArray()
                << Bytes{bytes("03 00000005 01e2e2e2e2 00 00000001 ff  01 00000000  01 00000001 aa"
                               "01 00000002 aa00")
                         + mpdu}
                << Counts{1} << Bytes{kNode5Mpdu};
        QTest::newRow("3-byte payload carries an empty frame")
                << QByteArray() << Bytes{bytes("01 00000003 aa 0000")} << Counts{1}
                << Bytes{QByteArray()};
        QTest::newRow("a frame while no handler is set is dropped")
                << beacon << Bytes{mpdu} << Counts{1} << Bytes{kNode5Mpdu};
        QTest::newRow("a length past any frame is no header: the messages behind it arrive")
                << QByteArray() << Bytes{bytes("01 fffffff0") + beacon + mpdu} << Counts{2} << both;
        const QByteArray largest = QByteArray(260, 'f');
        QTest::newRow("the largest frame a length byte describes still waits to be whole")
                << QByteArray()
                << Bytes{frameMessage(largest).left(200), frameMessage(largest).mid(200) + mpdu}
                << Counts{0, 2} << Bytes{largest, kNode5Mpdu};
    }

    void receiving()
    {
        QFETCH(QByteArray, beforeHandler);
        QFETCH(Bytes, chunks);
        QFETCH(Counts, deliveredAfter);
        QFETCH(Bytes, expected);

        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        Simulator simulator;
        QVERIFY2(simulator.connect(driver), qPrintable(simulator.error));
        if (!beforeHandler.isEmpty()) {
            // Loopback hands the bytes over at once; the reader thread queues them to this thread
            // within a moment, and they are dropped there.
            QVERIFY(simulator.send(beforeHandler));
            QTest::qWait(300);
        }
        Bytes frames;
        QList<uint32_t> times;
        driver.setReceiveHandler([&](Driver &, uint32_t, const uint8_t *, size_t) {
            frames << "called the replaced handler";
        });
        Driver::ReceiveHandler handler = [&](Driver &from, uint32_t time, const uint8_t *data,
                                             size_t length) {
            // Destroys the running callable unless the driver called a copy; the sanitizer build
            // reports that use after free.
            driver.setReceiveHandler(handler);
            QCOMPARE(&from, &driver);
            // A wrapped-around length is written down, never followed.
            frames << (length > 1024
                               ? "length " + QByteArray::number(qulonglong(length))
                               : QByteArray(reinterpret_cast<const char *>(data), int(length)));
            times << time;
        };
        driver.setReceiveHandler(handler);

        const uint32_t before = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        for (int i = 0; i < chunks.size(); ++i) {
            QVERIFY(simulator.send(chunks[i]));
            QTRY_COMPARE_WITH_TIMEOUT(frames.size(), deliveredAfter[i], 5000);
        }
        // Once a marker behind everything is in, nothing else is still on its way.
        QVERIFY(simulator.send(frameMessage(bytes("7f"))));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), expected.size() + 1, 5000);
        const uint32_t after = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        QCOMPARE(frames, expected << bytes("7f"));
        for (uint32_t time : qAsConst(times))
            QVERIFY(after < before || (time >= before && time <= after));
    }

    // The engine's thread may be busy (painting, say) while a frame comes in: the frame keeps the
    // time its bytes arrived, not the time the engine got round to it.
    void receptionTimeIsArrivalNotHandling()
    {
        constexpr int kBusyMs = 1000;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        Simulator simulator;
        QVERIFY2(simulator.connect(driver), qPrintable(simulator.error));
        QList<qint64> stamps;
        driver.setReceiveHandler([&](Driver &from, uint32_t time, const uint8_t *, size_t) {
            stamps << time << from.receptionWallClockNs() / 1000000;
        });

        const qint64 sent = QTime::currentTime().msecsSinceStartOfDay();
        const qint64 sentWall = QDateTime::currentMSecsSinceEpoch();
        simulator.peer->write(frameMessage(kNode5Mpdu));
        QVERIFY(simulator.peer->flush());
        QThread::msleep(kBusyMs);
        QTRY_COMPARE_WITH_TIMEOUT(stamps.size(), 2, 5000);

        const qint64 late = (stamps[0] - sent + 86400000) % 86400000;
        const qint64 lateWall = stamps[1] - sentWall;
        QVERIFY2(late < kBusyMs / 2 && lateWall >= 0 && lateWall < kBusyMs / 2,
                 qPrintable(QString("stamped %1 ms (wall clock %2 ms) after sending")
                                    .arg(late)
                                    .arg(lateWall)));
    }

    // A driver that never opened, or whose open failed, sends nothing; a refused connection is
    // known at once, only an unanswered one takes 5000 ms.
    void notOpen()
    {
        NrfLumbrioDriver driver(0x01020304, "not the interface's name");
        const uint8_t frame[1] = {0x7F};
        QVERIFY(!driver.transmit(frame, 1));
        QTcpServer server;
        QVERIFY2(server.listen(QHostAddress::LocalHost, kSimulatorPort),
                 "port 8844 is taken (a running lumbrio-sim?)");
        server.close();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!driver.open());
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!driver.isOpen());
        QVERIFY(!driver.transmit(frame, 1));
    }

    // The simulator goes and comes back: the loss is told once however often the driver retries
    // meanwhile, and the driver announces itself again and carries frames as before.
    void reconnectsWhenTheSimulatorIsBack()
    {
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        QStringList changes;
        driver.setLinkStateHandler([&](bool up, const std::string &what) {
            changes << (up ? "up" : "down") + QString(what.empty() ? "" : " with a reason");
        });
        QStringList frames;
        driver.setReceiveHandler([&](Driver &, uint32_t, const uint8_t *data, size_t length) {
            frames << QByteArray(reinterpret_cast<const char *>(data), int(length)).toHex();
        });
        Simulator simulator;
        QVERIFY2(simulator.connect(driver), qPrintable(simulator.error));
        QByteArray announced;
        QTRY_COMPARE((announced += simulator.peer->readAll()).toHex(), kAnnouncedX.toHex());

        simulator.server.close();
        simulator.peer->abort();
        QTRY_COMPARE(changes, QStringList{"down with a reason"});
        // A lost link is not a success, though the driver stays open to come back.
        const uint8_t frame[1] = {0x7F};
        QVERIFY(!driver.transmit(frame, 1));
        QVERIFY(driver.isOpen());
        QTest::qWait(1500);
        QCOMPARE(changes, QStringList{"down with a reason"});

        QVERIFY(simulator.server.listen(QHostAddress::LocalHost, kSimulatorPort));
        QVERIFY(simulator.server.waitForNewConnection(10000));
        QTcpSocket *peer = simulator.server.nextPendingConnection();
        announced.clear();
        QTRY_COMPARE((announced += peer->readAll()).toHex(), kAnnouncedX.toHex());
        QTRY_COMPARE(changes, (QStringList{"down with a reason", "up"}));
        QVERIFY(driver.transmit(frame, 1));
        // Written on the new connection, not on the one that was lost.
        QByteArray sent;
        QTRY_COMPARE((sent += peer->readAll()).toHex(), bytes("01 00000004 55 7f 7b08").toHex());
        peer->write(frameMessage(kNode5Mpdu));
        QTRY_COMPARE(frames, QStringList{kNode5Mpdu.toHex()});
    }
};

QTEST_GUILESS_MAIN(TestLumbrioDriver)

#include "tst_lumbriodriver.moc"
