#include "drivers/nrflumbriodriver.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QtTest>

#include <memory>

namespace {

constexpr quint16 kSimulatorPort = 8844;
const std::string kInterfaceName = "Lumbrio virtual Network Interface";
// No frame comes near this; a bigger length is a wrapped-around one.
constexpr size_t kSaneLength = 1024;

QByteArray bytes(const char *hexText)
{
    return QByteArray::fromHex(hexText);
}

// A frame message as the simulator sends it; preamble and checksum are not looked at.
QByteArray frameMessage(const QByteArray &frame, const QByteArray &trailer = bytes("0000"))
{
    QByteArray message = bytes("01");
    const quint32 length = quint32(frame.size() + 1 + trailer.size());
    message.append(char(length >> 24)).append(char(length >> 16));
    message.append(char(length >> 8)).append(char(length));
    return message + bytes("aa") + frame + trailer;
}

const QByteArray kBeacon = bytes("c7c7c7c70c0002010000e803001e001100");
const QByteArray kMpdu = bytes("e2e2e2e20b850216010203040506c104");

struct Reception
{
    uint32_t time = 0;
    QByteArray frame;
    bool sameDriver = false;
};

// Stores what the driver hands over; a wrapped-around length is recorded, never followed.
class Recorder
{
public:
    talven::NetworkInterfaceDriver::ReceiveHandler
    handler(const talven::NetworkInterfaceDriver *expected)
    {
        return [this, expected](talven::NetworkInterfaceDriver &driver, uint32_t time,
                                const uint8_t *data, size_t length) {
            Reception reception;
            reception.time = time;
            reception.sameDriver = &driver == expected;
            reception.frame
                    = length > kSaneLength
                              ? QByteArray("length ") + QByteArray::number(qulonglong(length))
                              : QByteArray(reinterpret_cast<const char *>(data), int(length));
            receptions.append(reception);
        };
    }

    QList<QByteArray> frames() const
    {
        QList<QByteArray> result;
        for (const Reception &reception : receptions)
            result.append(reception.frame);
        return result;
    }

    QList<Reception> receptions;
};

// Stands in for the simulator on its fixed port: tests that use it hold the CTest resource lock
// lumbrio-port, so a taken port means something outside the test suite listens there.
QString portTakenMessage(const QTcpServer &server)
{
    return QStringLiteral("port %1 is taken; stop whatever listens there (a running lumbrio-sim?) "
                          "and run again: %2")
            .arg(kSimulatorPort)
            .arg(server.errorString());
}

} // namespace

class TestLumbrioDriver : public QObject
{
    Q_OBJECT

private:
    // Opens `driver` against `server` and returns the simulator's end of the connection with the
    // announcements already read, or null (after a failed check).
    QTcpSocket *connectDriver(QTcpServer &server, NrfLumbrioDriver &driver, QByteArray *announced)
    {
        if (!server.isListening() && !server.listen(QHostAddress::LocalHost, kSimulatorPort)) {
            QTest::qFail(qPrintable(portTakenMessage(server)), __FILE__, __LINE__);
            return nullptr;
        }
        if (!driver.open()) {
            QTest::qFail("open() failed although the simulator listens", __FILE__, __LINE__);
            return nullptr;
        }
        if (!server.hasPendingConnections() && !server.waitForNewConnection(5000)) {
            QTest::qFail("the driver's connection was not accepted", __FILE__, __LINE__);
            return nullptr;
        }
        QTcpSocket *peer = server.nextPendingConnection();
        const int announcementLength = 5 + 1 + int(driverNameLength_) + 5 + 5;
        QByteArray received;
        const bool whole = QTest::qWaitFor(
                [&] {
                    received += peer->readAll();
                    return received.size() >= announcementLength;
                },
                5000);
        if (!whole) {
            QTest::qFail("the announcements did not arrive", __FILE__, __LINE__);
            return nullptr;
        }
        if (announced)
            *announced = received;
        return peer;
    }

    // Writes `chunk` and waits until the kernel holds it for the driver.
    static bool send(QTcpSocket *peer, const QByteArray &chunk)
    {
        peer->write(chunk);
        peer->flush();
        return QTest::qWaitFor([&] { return peer->bytesToWrite() == 0; }, 5000);
    }

    size_t driverNameLength_ = 0;

private slots:
    void announcesNameAndAddress_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("the testbench's own values") << 0xE2E2E2E2u << "TALVEN Testbench"
                                                    << bytes("0300000011"
                                                             "05"
                                                             "54414c56454e205465737462656e6368"
                                                             "0300000005"
                                                             "01"
                                                             "e2e2e2e2");
        QTest::newRow("address goes out big-endian") << 0x01020304u << "ab"
                                                     << bytes("0300000003"
                                                              "05"
                                                              "6162"
                                                              "0300000005"
                                                              "01"
                                                              "01020304");
        QTest::newRow("empty name") << 0xC7C7C7C7u << ""
                                    << bytes("0300000001"
                                             "05"
                                             "0300000005"
                                             "01"
                                             "c7c7c7c7");
    }

    void announcesNameAndAddress()
    {
        QFETCH(quint32, address);
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);

        QTcpServer server;
        NrfLumbrioDriver driver(address, name.toStdString());
        driverNameLength_ = size_t(name.toUtf8().size());
        QByteArray announced;
        QTcpSocket *peer = connectDriver(server, driver, &announced);
        QVERIFY(peer);
        QCOMPARE(announced.toHex(), expected.toHex());
        QVERIFY(driver.isOpen());
    }

    void proberOffersTheSimulatorLast()
    {
        const auto descriptors = talven::NetworkInterfaceDriver::Descriptor::availableDescriptors();
        QVERIFY(!descriptors.empty());
        int simulators = 0;
        for (const auto *descriptor : descriptors)
            simulators += descriptor->name() == kInterfaceName ? 1 : 0;
        QCOMPARE(simulators, 1);
        QCOMPARE(descriptors.back()->name(), kInterfaceName);
        QCOMPARE(descriptors.back()->location(), kInterfaceName);
    }

    void proberDriverAnnouncesTheTestbench()
    {
        const auto descriptors = talven::NetworkInterfaceDriver::Descriptor::availableDescriptors();
        QVERIFY(!descriptors.empty());
        std::unique_ptr<talven::NetworkInterfaceDriver> driver(descriptors.back()->instantiate());
        QVERIFY(driver);
        QVERIFY(!driver->isOpen());
        QCOMPARE(driver->address(), 0xE2E2E2E2u);
        QCOMPARE(driver->name(), kInterfaceName);

        auto *lumbrio = dynamic_cast<NrfLumbrioDriver *>(driver.get());
        QVERIFY(lumbrio);
        QTcpServer server;
        driverNameLength_ = 16;
        QByteArray announced;
        QVERIFY(connectDriver(server, *lumbrio, &announced));
        QCOMPARE(announced.toHex(),
                 QByteArray("030000001105" + QByteArray("TALVEN Testbench").toHex()
                            + "030000000501e2e2e2e2"));
    }

    void transmitWrapsTheFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("beacon: 25 bytes, preamble aa")
                << kBeacon << bytes("0100000014aa") + kBeacon + bytes("90a5");
        QTest::newRow("standard check string")
                << QByteArray("123456789") << bytes("010000000c55313233343536373839906e");
        QTest::newRow("first byte 0x7f: preamble 55") << bytes("7f") << bytes("0100000004557f7b08");
        QTest::newRow("first byte 0x80: preamble aa") << bytes("80") << bytes("0100000004aa807470");
        QTest::newRow("MPDU") << kMpdu << bytes("0100000013aa") + kMpdu + bytes("10be");
    }

    void transmitWrapsTheFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);

        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        QVERIFY(driver.transmit(reinterpret_cast<const uint8_t *>(frame.constData()),
                                size_t(frame.size())));
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= expected.size(), 5000);
        QCOMPARE(received.toHex(), expected.toHex());
    }

    void emptyFrameReadsNoByteBeyondIt()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        // The byte after the (empty) frame has its top bit set: it must not choose the preamble.
        const uint8_t beyond[1] = {0x80};
        QVERIFY(driver.transmit(beyond, 0));
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT((received += peer->readAll()).size() >= 8, 5000);
        QCOMPARE(received.toHex(), QByteArray("0100000003550000"));
    }

    void receptionCutsTheStream_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        // How many frames have been delivered once each chunk is in: the wait after each chunk
        // makes sure the driver has read it before the next one is written.
        QTest::addColumn<QList<int>>("deliveredAfter");
        QTest::addColumn<QList<QByteArray>>("expected");

        const QByteArray beacon = frameMessage(kBeacon);
        const QByteArray mpdu = frameMessage(kMpdu);
        const QList<QByteArray> both{kBeacon, kMpdu};

        QTest::newRow("one message")
                << QList<QByteArray>{mpdu} << QList<int>{1} << QList<QByteArray>{kMpdu};
        QTest::newRow("two messages in one read")
                << QList<QByteArray>{beacon + mpdu} << QList<int>{2} << both;
        QTest::newRow("message split across reads")
                << QList<QByteArray>{beacon + mpdu.left(9), mpdu.mid(9)} << QList<int>{1, 2}
                << both;
        QTest::newRow("split inside the header")
                << QList<QByteArray>{beacon + mpdu.left(3), mpdu.mid(3)} << QList<int>{1, 2}
                << both;
        QTest::newRow("header alone, then its payload")
                << QList<QByteArray>{beacon + mpdu.left(5), mpdu.mid(5)} << QList<int>{1, 2}
                << both;
        QTest::newRow("message missing its last byte")
                << QList<QByteArray>{beacon + mpdu.chopped(1), mpdu.right(1)} << QList<int>{1, 2}
                << both;
        QTest::newRow("control and unknown kinds are dropped")
                << QList<QByteArray>{bytes("030000000501e2e2e2e2") + bytes("020000000112")
                                     + bytes("0000000001ff") + mpdu}
                << QList<int>{1} << QList<QByteArray>{kMpdu};
        QTest::newRow("payload too short for a frame is dropped, the next one arrives")
                << QList<QByteArray>{bytes("0100000002aa00") + bytes("0100000001aa") + mpdu}
                << QList<int>{1} << QList<QByteArray>{kMpdu};
        QTest::newRow("empty payload waits for a byte more, then is dropped")
                << QList<QByteArray>{beacon + bytes("0100000000"), mpdu} << QList<int>{1, 2}
                << both;
        QTest::newRow("preamble and checksum alone carry an empty frame")
                << QList<QByteArray>{bytes("0100000003aa0000") + mpdu} << QList<int>{2}
                << QList<QByteArray>{QByteArray(), kMpdu};
        QTest::newRow("wrong preamble and checksum are not judged")
                << QList<QByteArray>{frameMessage(kBeacon, bytes("dead"))} << QList<int>{1}
                << QList<QByteArray>{kBeacon};
    }

    void receptionCutsTheStream()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, deliveredAfter);
        QFETCH(QList<QByteArray>, expected);

        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        Recorder recorder;
        driver.setReceiveHandler(recorder.handler(&driver));
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        for (int i = 0; i < chunks.size(); ++i) {
            QVERIFY(send(peer, chunks[i]));
            QTRY_COMPARE_WITH_TIMEOUT(recorder.receptions.size(), deliveredAfter[i], 5000);
        }
        // A marker behind everything: once it is in, nothing else is still on its way.
        QVERIFY(send(peer, frameMessage(bytes("00"))));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.receptions.size(), expected.size() + 1, 5000);
        QCOMPARE(recorder.frames(), expected + QList<QByteArray>{bytes("00")});
        for (const Reception &reception : qAsConst(recorder.receptions))
            QVERIFY(reception.sameDriver);
    }

    void receptionTimeIsTheClockWhenRead()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        Recorder recorder;
        driver.setReceiveHandler(recorder.handler(&driver));
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        const uint32_t before = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        QVERIFY(send(peer, frameMessage(kMpdu) + frameMessage(kMpdu)));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.receptions.size(), 2, 5000);
        const uint32_t after = uint32_t(QTime::currentTime().msecsSinceStartOfDay());
        if (after < before)
            QSKIP("the clock passed midnight during the test");
        for (const Reception &reception : qAsConst(recorder.receptions)) {
            QVERIFY2(reception.time >= before && reception.time <= after,
                     qPrintable(QStringLiteral("%1 not within %2..%3")
                                        .arg(reception.time)
                                        .arg(before)
                                        .arg(after)));
        }
        QVERIFY(recorder.receptions[0].time <= recorder.receptions[1].time);
    }

    void framesWithoutHandlerAreNotKept()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        QVERIFY(send(peer, frameMessage(kBeacon)));
        // Loopback hands written bytes to the receiving socket at once; one pass of the event
        // loop lets the driver read them while it has no handler.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();

        Recorder recorder;
        driver.setReceiveHandler(recorder.handler(&driver));
        QVERIFY(send(peer, frameMessage(kMpdu)));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.receptions.size(), 1, 5000);
        QCOMPARE(recorder.frames(), QList<QByteArray>{kMpdu});
    }

    void secondHandlerReplacesTheFirst()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        Recorder first;
        Recorder second;
        driver.setReceiveHandler(first.handler(&driver));
        driver.setReceiveHandler(second.handler(&driver));
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        QVERIFY(send(peer, frameMessage(kMpdu)));
        QTRY_COMPARE_WITH_TIMEOUT(second.receptions.size(), 1, 5000);
        QCOMPARE(first.receptions.size(), 0);
    }

    void handlerMayReplaceItselfWhileCalled()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        Recorder next;
        QList<QByteArray> seenFirst;
        driver.setReceiveHandler([&](talven::NetworkInterfaceDriver &, uint32_t,
                                     const uint8_t *data, size_t length) {
            // Destroys the callable that runs right now unless the driver called a copy; the
            // sanitizer build (TALVEN_SANITIZE) reports the use after free.
            driver.setReceiveHandler(next.handler(&driver));
            seenFirst.append(QByteArray(reinterpret_cast<const char *>(data), int(length)));
        });
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        QVERIFY(send(peer, frameMessage(kBeacon) + frameMessage(kMpdu)));
        QTRY_COMPARE_WITH_TIMEOUT(next.receptions.size(), 1, 5000);
        QCOMPARE(seenFirst, QList<QByteArray>{kBeacon});
        QCOMPARE(next.frames(), QList<QByteArray>{kMpdu});
    }

    void openFailsFastWhenNothingListens()
    {
        {
            QTcpServer probe;
            QVERIFY2(probe.listen(QHostAddress::LocalHost, kSimulatorPort),
                     qPrintable(portTakenMessage(probe)));
        }
        NrfLumbrioDriver driver(0xE2E2E2E2, "TALVEN Testbench");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!driver.open());
        // A refused connection is known at once; only an unanswered one takes the full 5000 ms.
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!driver.isOpen());
        const uint8_t frame[1] = {0x7F};
        QVERIFY(!driver.transmit(frame, 1));
    }

    void transmitReportsALostConnection()
    {
        QTcpServer server;
        NrfLumbrioDriver driver(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        QTcpSocket *peer = connectDriver(server, driver, nullptr);
        QVERIFY(peer);

        const uint8_t frame[1] = {0x7F};
        QVERIFY(driver.transmit(frame, 1));
        peer->abort();
        QTRY_VERIFY_WITH_TIMEOUT(!driver.transmit(frame, 1), 5000);
        // No reconnection and no state change: the driver stays "open" with a dead link.
        QVERIFY(driver.isOpen());
    }

    void destructionEndsTheConnection()
    {
        QTcpServer server;
        auto driver = std::make_unique<NrfLumbrioDriver>(0xE2E2E2E2, "x");
        driverNameLength_ = 1;
        bool called = false;
        driver->setReceiveHandler([&](talven::NetworkInterfaceDriver &, uint32_t, const uint8_t *,
                                      size_t) { called = true; });
        QTcpSocket *peer = connectDriver(server, *driver, nullptr);
        QVERIFY(peer);

        driver.reset();
        QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY(!called);
    }

    void nameInEveryState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("open");

        QTest::newRow("never opened") << "created" << false;
        QTest::newRow("open failed") << "failed" << false;
        QTest::newRow("open") << "open" << true;
        QTest::newRow("simulator gone") << "lost" << true;
    }

    void nameInEveryState()
    {
        QFETCH(QString, state);
        QFETCH(bool, open);

        QTcpServer server;
        NrfLumbrioDriver driver(0x01020304, "a node name that is not the interface's");
        driverNameLength_ = 39;
        if (state == "failed") {
            QVERIFY2(server.listen(QHostAddress::LocalHost, kSimulatorPort),
                     qPrintable(portTakenMessage(server)));
            server.close();
            QVERIFY(!driver.open());
        } else if (state == "open" || state == "lost") {
            QTcpSocket *peer = connectDriver(server, driver, nullptr);
            QVERIFY(peer);
            if (state == "lost") {
                peer->abort();
                server.close();
            }
        }
        QCOMPARE(driver.name(), kInterfaceName);
        QCOMPARE(driver.isOpen(), open);
        QCOMPARE(driver.address(), 0xE2E2E2E2u);
    }
};

QTEST_GUILESS_MAIN(TestLumbrioDriver)

#include "tst_lumbriodriver.moc"
