#include "drivers/marloserialdriver.h"
#include "support/serialmessage.h"

#include <QSerialPortInfo>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray kLinkUp = QByteArray::fromHex("7f010201017b");
const QByteArray kLinkDown = QByteArray::fromHex("7f010201027a");
const char *const kBadTimeLine = "Error: Bad reception time for received frame!";

// A pseudo-terminal: the driver opens the slave by its path, the test plays the board on the
// master. The test also keeps the slave open itself, so that what the driver writes stays
// readable on the master after the driver has closed its side, and so that it can see how much
// input the driver has not read yet.
class PtyPair
{
public:
    PtyPair()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        slavePath_ = ptsname(master_);
        termios settings;
        tcgetattr(master_, &settings);
        cfmakeraw(&settings);
        tcsetattr(master_, TCSANOW, &settings);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        keeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }

    ~PtyPair()
    {
        if (keeper_ >= 0)
            ::close(keeper_);
        if (master_ >= 0)
            ::close(master_);
    }

    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isReady() const { return master_ >= 0 && keeper_ >= 0; }
    std::string slavePath() const { return slavePath_; }

    // Returns once the bytes are in the terminal's input queue. No event is processed meanwhile,
    // so the driver has not read any of them yet: a test knows exactly what is waiting.
    bool write(const QByteArray &bytes)
    {
        const int before = unread();
        if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
            return false;
        QElapsedTimer elapsed;
        elapsed.start();
        while (unread() < before + bytes.size()) {
            if (elapsed.hasExpired(10000))
                return false;
            pollfd input = {keeper_, POLLIN, 0};
            if (::poll(&input, 1, 10) == 1)
                ::usleep(100);
        }
        return true;
    }

    // Waits for `count` bytes from the driver; fewer when they do not come in time.
    QByteArray read(int count, int timeoutMs = 10000)
    {
        // A short result tells the caller what was missing.
        static_cast<void>(QTest::qWaitFor(
                [&] {
                    drain();
                    return received_.size() >= count;
                },
                timeoutMs));
        const QByteArray bytes = received_.left(count);
        received_.remove(0, bytes.size());
        return bytes;
    }

    // True once the driver has taken everything written to it out of the terminal.
    bool waitUntilConsumed()
    {
        return QTest::qWaitFor([&] { return unread() == 0; }, 10000);
    }

private:
    void drain()
    {
        char chunk[256];
        ssize_t got;
        while ((got = ::read(master_, chunk, sizeof chunk)) > 0)
            received_.append(chunk, int(got));
    }

    int unread() const
    {
        int count = 0;
        ioctl(keeper_, FIONREAD, &count);
        return count;
    }

    int master_ = -1;
    int keeper_ = -1;
    std::string slavePath_;
    QByteArray received_;
};

using SerialBytes::checksumOf;
using SerialBytes::message;

QByteArray withChecksumOffByOne(QByteArray bytes)
{
    bytes.back() = char(bytes.back() + 1);
    return bytes;
}

QByteArray littleEndian(quint32 value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(char(value >> (8 * i)));
    return bytes;
}

// The board's report of a received frame: the time goes between the header and the body.
QByteArray frameMessage(const QByteArray &frame, quint32 receptionTime)
{
    return message(3, frame.left(6) + littleEndian(receptionTime) + frame.mid(6));
}

QString delivery(quint32 receptionTime, const QByteArray &frame)
{
    return QString("%1 %2").arg(receptionTime).arg(QString::fromLatin1(frame.toHex()));
}

// Ends every input of a reception row, so the test knows when the driver is through with it.
const QByteArray kMarkerFrame = QByteArray::fromHex("e2e2e2e201ff");
const quint32 kMarkerTime = 0x7fffffff;

QList<QByteArray> bytewise(const QByteArray &bytes)
{
    QList<QByteArray> pieces;
    for (char byte : bytes)
        pieces.append(QByteArray(1, byte));
    return pieces;
}

// Collects debug output besides passing it on, so that a test can also see what it did not expect.
class DebugRecorder
{
public:
    DebugRecorder()
    {
        current_ = this;
        previous_ = qInstallMessageHandler(&DebugRecorder::record);
    }
    ~DebugRecorder()
    {
        qInstallMessageHandler(previous_);
        current_ = nullptr;
    }

    QStringList lines;

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg && current_)
            current_->lines.append(text);
        previous_(type, context, text);
    }

    static inline DebugRecorder *current_ = nullptr;
    static inline QtMessageHandler previous_ = nullptr;
};

} // namespace

class TestMarloSerialDriver : public QObject
{
    Q_OBJECT

private:
    // An opened driver on the pty whose opening command has been read off the line.
    void openOn(PtyPair &pty, MarloSerialDriver &driver)
    {
        QVERIFY2(pty.isReady(), "no pseudo-terminal");
        QVERIFY(driver.open());
        QCOMPARE(pty.read(kLinkUp.size()), kLinkUp);
    }

private slots:
    void opening_data()
    {
        QTest::addColumn<QByteArray>("stale");

        QTest::newRow("nothing pending") << QByteArray();
        QTest::newRow("a whole frame pending")
                << frameMessage(QByteArray::fromHex("e2e2e2e2048501c110"), 1234);
        QTest::newRow("half a frame pending")
                << frameMessage(QByteArray::fromHex("e2e2e2e2048501c110"), 1234).left(7);
        QTest::newRow("a debug message pending") << message(4, "stale");
    }

    void opening()
    {
        QFETCH(QByteArray, stale);

        PtyPair pty;
        QVERIFY2(pty.isReady(), "no pseudo-terminal");
        QVERIFY(pty.write(stale));

        // The handler is there before the port opens, so that nothing read off the line could
        // go unnoticed.
        MarloSerialDriver driver(pty.slavePath());
        DebugRecorder debug;
        QStringList delivered;
        driver.setReceiveHandler([&](talven::NetworkInterfaceDriver &, uint32_t time,
                                     const uint8_t *data, size_t length) {
            delivered << delivery(time,
                                  QByteArray(reinterpret_cast<const char *>(data), int(length)));
        });

        QVERIFY(!driver.isOpen());
        QVERIFY(driver.open());
        QVERIFY(driver.isOpen());
        QCOMPARE(driver.name(), pty.slavePath());
        QCOMPARE(driver.address(), 0xE2E2E2E2u);
        QCOMPARE(pty.read(kLinkUp.size()), kLinkUp);

        // What was waiting before the port opened is never delivered, nor does it swallow what
        // follows.
        QVERIFY(pty.write(frameMessage(kMarkerFrame, kMarkerTime)));
        QTRY_VERIFY_WITH_TIMEOUT(!delivered.isEmpty(), 10000);
        QCOMPARE(delivered, QStringList{delivery(kMarkerTime, kMarkerFrame)});
        QCOMPARE(debug.lines, QStringList());
    }

    void openingAMissingPortFails()
    {
        MarloSerialDriver driver("/dev/no-such-marlo-port");
        QVERIFY(!driver.open());
        QVERIFY(!driver.isOpen());
        QCOMPARE(driver.name(), std::string("/dev/no-such-marlo-port"));
        const uint8_t beacon[17] = {0xC7, 0xC7, 0xC7, 0xC7, 0x0C};
        QVERIFY(!driver.transmit(beacon, sizeof beacon));
    }

    void transmitting_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QByteArray>("written");

        const QByteArray beacon = QByteArray::fromHex("c7c7c7c70c0002010000e803001e001100");
        QByteArray counting32;
        for (int i = 0; i < 32; ++i)
            counting32.append(char(i));

        QTest::newRow("beacon") << beacon << true
                                << QByteArray::fromHex("7f0211") + beacon
                                           + QByteArray::fromHex("28");
        QTest::newRow("32-byte frame")
                << counting32 << true
                << QByteArray::fromHex("7f0220") + counting32 + QByteArray::fromHex("6e");
        QTest::newRow("33-byte frame") << counting32 + '\x20' << false << QByteArray();
        QTest::newRow("empty frame") << QByteArray() << true << QByteArray::fromHex("7f02007e");
    }

    void transmitting()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, accepted);
        QFETCH(QByteArray, written);

        PtyPair pty;
        MarloSerialDriver driver(pty.slavePath());
        openOn(pty, driver);

        QCOMPARE(driver.transmit(reinterpret_cast<const uint8_t *>(frame.constData()),
                                 size_t(frame.size())),
                 accepted);
        QCOMPARE(written.size(), accepted ? frame.size() + 4 : 0);

        // A second frame shows that nothing else was written in between.
        const QByteArray next = QByteArray::fromHex("c7c7c7c70c00");
        QVERIFY(driver.transmit(reinterpret_cast<const uint8_t *>(next.constData()), 6));
        const QByteArray expected = written + message(2, next);
        QCOMPARE(pty.read(expected.size()), expected);
    }

    void receiving_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QStringList>("debugLines");

        // A 10-byte MPDU of node 1 with event 8; in its message the time stands in payload
        // bytes 6 to 9.
        const QByteArray mpdu = QByteArray::fromHex("e2e2e2e2058101c11002");
        const QByteArray mpduMessage = frameMessage(mpdu, 10000);
        const QString mpduDelivered = delivery(10000, mpdu);
        const QByteArray beacon = QByteArray::fromHex("c7c7c7c70c0002010000e803001e001100");

        QTest::newRow("one whole frame")
                << QList<QByteArray>{mpduMessage} << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("time taken out of the middle of the payload")
                << QList<QByteArray>{QByteArray::fromHex("7f030e"
                                                         "e2e2e2e20581"
                                                         "10270000"
                                                         "01c11002")
                                     + char(checksumOf(QByteArray::fromHex("7f030e"
                                                                           "e2e2e2e20581"
                                                                           "10270000"
                                                                           "01c11002")))}
                << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("leading noise skipped")
                << QList<QByteArray>{QByteArray::fromHex("0055") + mpduMessage}
                << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("noise between messages")
                << QList<QByteArray>{mpduMessage + QByteArray::fromHex("00ff8003") + mpduMessage}
                << QStringList{mpduDelivered, mpduDelivered} << QStringList();
        QTest::newRow("two frames in one piece, in order")
                << QList<QByteArray>{frameMessage(beacon, 1) + frameMessage(mpdu, 86399999)}
                << QStringList{delivery(1, beacon), delivery(86399999, mpdu)} << QStringList();
        QTest::newRow("payload split in two")
                << QList<QByteArray>{mpduMessage.left(9), mpduMessage.mid(9)}
                << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("split after the size byte")
                << QList<QByteArray>{mpduMessage.left(3), mpduMessage.mid(3)}
                << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("split before the checksum")
                << QList<QByteArray>{mpduMessage.chopped(1), mpduMessage.right(1)}
                << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("one byte at a time")
                << bytewise(mpduMessage) << QStringList{mpduDelivered} << QStringList();
        QTest::newRow("checksum off by one") << QList<QByteArray>{withChecksumOffByOne(mpduMessage)}
                                             << QStringList() << QStringList();
        QTest::newRow("zero reception time") << QList<QByteArray>{frameMessage(mpdu, 0)}
                                             << QStringList() << QStringList{kBadTimeLine};
        QTest::newRow("largest reception time")
                << QList<QByteArray>{frameMessage(mpdu, 0xffffffff)}
                << QStringList{delivery(0xffffffff, mpdu)} << QStringList();
        QTest::newRow("debug message") << QList<QByteArray>{message(4, "radio ready")}
                                       << QStringList() << QStringList{"radio ready"};
        QTest::newRow("debug message with a wrong checksum")
                << QList<QByteArray>{withChecksumOffByOne(message(4, "radio ready"))}
                << QStringList() << QStringList{"radio ready"};
        QTest::newRow("debug message between frames")
                << QList<QByteArray>{mpduMessage + message(4, "tick") + frameMessage(beacon, 5)}
                << QStringList{mpduDelivered, delivery(5, beacon)} << QStringList{"tick"};
        QTest::newRow("command type dropped")
                << QList<QByteArray>{message(1, QByteArray::fromHex("0101"))} << QStringList()
                << QStringList();
        QTest::newRow("beacon type dropped")
                << QList<QByteArray>{message(2, beacon)} << QStringList() << QStringList();
        QTest::newRow("unknown type dropped")
                << QList<QByteArray>{message(9, mpdu)} << QStringList() << QStringList();
        QTest::newRow("header alone and time make the shortest frame")
                << QList<QByteArray>{frameMessage(mpdu.left(6), 42)}
                << QStringList{delivery(42, mpdu.left(6))} << QStringList();
        QTest::newRow("payload too short for header and time")
                << QList<QByteArray>{message(3, QByteArray::fromHex("e2e2e2e201851027"))}
                << QStringList() << QStringList();
        QTest::newRow("payload one byte too short")
                << QList<QByteArray>{message(3, QByteArray::fromHex("e2e2e2e20185102700"))}
                << QStringList() << QStringList();
        QTest::newRow("empty frame payload")
                << QList<QByteArray>{message(3, QByteArray())} << QStringList() << QStringList();
    }

    void receiving()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QStringList, frames);
        QFETCH(QStringList, debugLines);

        PtyPair pty;
        MarloSerialDriver driver(pty.slavePath());
        openOn(pty, driver);

        DebugRecorder debug;
        for (const QString &line : debugLines)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
        QStringList delivered;
        const talven::NetworkInterfaceDriver *from = nullptr;
        driver.setReceiveHandler([&](talven::NetworkInterfaceDriver &d, uint32_t time,
                                     const uint8_t *data, size_t length) {
            from = &d;
            delivered << delivery(time,
                                  QByteArray(reinterpret_cast<const char *>(data), int(length)));
        });

        // Each piece is taken off the line before the next is written: the driver sees every
        // split, and returns in between without waiting for the rest.
        pieces.back().append(frameMessage(kMarkerFrame, kMarkerTime));
        for (int i = 0; i < pieces.size(); ++i) {
            if (i == pieces.size() - 1 && i > 0)
                QCOMPARE(delivered, QStringList());
            QVERIFY(pty.write(pieces[i]));
            QVERIFY2(pty.waitUntilConsumed(), "the driver stopped reading");
        }

        const QString marker = delivery(kMarkerTime, kMarkerFrame);
        QTRY_VERIFY_WITH_TIMEOUT(delivered.contains(marker), 10000);
        QCOMPARE(delivered, frames << marker);
        QCOMPARE(from, &driver);
        QCOMPARE(debug.lines, debugLines);
    }

    void framesWithoutHandlerAreDiscarded()
    {
        PtyPair pty;
        MarloSerialDriver driver(pty.slavePath());
        openOn(pty, driver);

        QVERIFY(pty.write(frameMessage(QByteArray::fromHex("e2e2e2e2048501c110"), 77)));
        QVERIFY(pty.waitUntilConsumed());

        QStringList first, second;
        const auto recordInto = [](QStringList &list) {
            return [&list](talven::NetworkInterfaceDriver &, uint32_t time, const uint8_t *data,
                           size_t length) {
                list << delivery(time,
                                 QByteArray(reinterpret_cast<const char *>(data), int(length)));
            };
        };
        driver.setReceiveHandler(recordInto(first));
        driver.setReceiveHandler(recordInto(second));
        QVERIFY(pty.write(frameMessage(kMarkerFrame, kMarkerTime)));
        QTRY_COMPARE_WITH_TIMEOUT(second.size(), 1, 10000);
        QCOMPARE(second, QStringList{delivery(kMarkerTime, kMarkerFrame)});
        QCOMPARE(first, QStringList());
    }

    void destroying_data()
    {
        QTest::addColumn<QByteArray>("readBefore");
        QTest::addColumn<QByteArray>("pending");

        const QByteArray frame = frameMessage(QByteArray::fromHex("e2e2e2e2048501c110"), 99);
        QTest::newRow("a whole frame pending") << QByteArray() << frame;
        QTest::newRow("the rest of a frame pending") << frame.left(5) << frame.mid(5);
        QTest::newRow("a frame behind a debug message pending")
                << QByteArray() << message(4, "going down") + frame;
    }

    void destroying()
    {
        QFETCH(QByteArray, readBefore);
        QFETCH(QByteArray, pending);

        PtyPair pty;
        auto driver = std::make_unique<MarloSerialDriver>(pty.slavePath());
        openOn(pty, *driver);
        QVERIFY(pty.write(readBefore));
        QVERIFY(pty.waitUntilConsumed());

        int calls = 0;
        driver->setReceiveHandler([&](talven::NetworkInterfaceDriver &, uint32_t, const uint8_t *,
                                      size_t) { ++calls; });

        // No event is processed between this write and the destruction: the input is still
        // waiting when the driver writes its closing command and waits for it to leave.
        QVERIFY(pty.write(pending));
        driver.reset();

        QCOMPARE(calls, 0);
        QCOMPARE(pty.read(kLinkDown.size()), kLinkDown);
    }

    void destroyingAfterAFailedOpenWritesNothing()
    {
        PtyPair pty;
        auto holder = std::make_unique<MarloSerialDriver>(pty.slavePath());
        openOn(pty, *holder);

        {
            // The port is taken, so this one cannot open it.
            MarloSerialDriver second(pty.slavePath());
            QVERIFY(!second.open());
            QVERIFY(!second.isOpen());
            QCOMPARE(second.name(), pty.slavePath());
        }
        {
            MarloSerialDriver neverOpened(pty.slavePath());
        }
        holder.reset();

        // Between the holder's closing command and the next driver's opening one, nothing.
        MarloSerialDriver next(pty.slavePath());
        QVERIFY(next.open());
        QCOMPARE(pty.read(kLinkDown.size() + kLinkUp.size()), kLinkDown + kLinkUp);
    }

    void proberListsPortsBeforeTheSimulator()
    {
        const auto ports = QSerialPortInfo::availablePorts();
        const auto descriptors = talven::NetworkInterfaceDriver::Descriptor::availableDescriptors();

        QCOMPARE(int(descriptors.size()), ports.size() + 1);
        QCOMPARE(descriptors.back()->name(), std::string("Lumbrio virtual Network Interface"));
        for (int i = 0; i < ports.size(); ++i) {
            const auto *descriptor = descriptors[size_t(i)];
            QCOMPARE(QString::fromStdString(descriptor->name()),
                     QString("Marlo Gateway at %1").arg(ports[i].portName()));
            QCOMPARE(QString::fromStdString(descriptor->location()), ports[i].systemLocation());

            std::unique_ptr<talven::NetworkInterfaceDriver> driver(descriptor->instantiate());
            QVERIFY(dynamic_cast<MarloSerialDriver *>(driver.get()));
            QCOMPARE(driver->name(), descriptor->location());
            QVERIFY(!driver->isOpen());
        }
    }
};

QTEST_GUILESS_MAIN(TestMarloSerialDriver)

#include "tst_marloserialdriver.moc"
