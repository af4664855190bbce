#include "drivers/marloserialdriver.h"
#include "support/frames.h"
#include "support/serialmessage.h"

#include <QSerialPortInfo>
#include <QtEndian>
#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using Bytes = QList<QByteArray>;
using Driver = talven::NetworkInterfaceDriver;
using SerialBytes::kLinkUp;
using SerialBytes::message;

namespace {

const QByteArray kLinkDown = bytes("7f 01 02 01 02 7a");
const QByteArray kMpdu = mpdu(1, 1, "c1 10 02");

// The board's report of a received frame: the time goes between the common header and the body.
QByteArray frameMessage(const QByteArray &frame, quint32 time)
{
    QByteArray stamp(4, 0);
    qToLittleEndian<quint32>(time, stamp.data());
    return message(3, frame.left(6) + stamp + frame.mid(6));
}

QByteArray withChecksumOffByOne(QByteArray bytes)
{
    bytes.back() = char(bytes.back() + 1);
    return bytes;
}

QString delivery(quint32 time, const uint8_t *data, size_t length)
{
    return QString("%1 %2").arg(time).arg(
            QString(QByteArray(reinterpret_cast<const char *>(data), int(length)).toHex()));
}

QString delivery(quint32 time, const QByteArray &frame)
{
    return delivery(time, reinterpret_cast<const uint8_t *>(frame.constData()),
                    size_t(frame.size()));
}

bool transmit(Driver &to, const QByteArray &frame)
{
    return to.transmit(reinterpret_cast<const uint8_t *>(frame.constData()), size_t(frame.size()));
}

// Debug lines, besides QtTest's own handling of them: a test also sees those it did not expect.
QStringList debugLines;
QtMessageHandler qtTestHandler = nullptr;

void recordDebug(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg)
        debugLines << text;
    qtTestHandler(type, context, text);
}

// A pseudo-terminal: the driver opens the slave by its path, the test plays the board on the
// master. The test holds the slave open too, so that what the driver wrote stays readable after
// the driver closed its side, and so that it sees how much input the driver has not taken yet.
class Pty
{
public:
    Pty()
    {
        char name[128];
        termios settings;
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return;
        path = name;
        tcgetattr(slave_, &settings);
        cfmakeraw(&settings);
        tcsetattr(slave_, TCSANOW, &settings);
        fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    // The board goes away: the driver's side of the terminal reads end of file or fails.
    ~Pty()
    {
        ::close(slave_);
        ::close(master_);
    }

    // Returns once the bytes wait in the terminal. No event is processed meanwhile, so the
    // driver has read none of them yet.
    bool write(const QByteArray &bytes)
    {
        const int expected = unread() + bytes.size();
        if (::write(master_, bytes.constData(), size_t(bytes.size())) != bytes.size())
            return false;
        QElapsedTimer timer;
        timer.start();
        while (unread() < expected && !timer.hasExpired(10000))
            ::usleep(100);
        return unread() >= expected;
    }

    // True once the driver has taken everything written to it.
    bool waitUntilConsumed()
    {
        return QTest::qWaitFor([&] { return unread() == 0; }, 10000);
    }

    // What the driver wrote, once there are `count` bytes or time is up.
    QByteArray read(int count)
    {
        QByteArray bytes;
        char chunk[256];
        static_cast<void>(QTest::qWaitFor(
                [&] {
                    for (ssize_t got; (got = ::read(master_, chunk, sizeof chunk)) > 0;)
                        bytes.append(chunk, int(got));
                    return bytes.size() >= count;
                },
                10000));
        return bytes;
    }

    std::string path;

private:
    int unread() const
    {
        int count = 0;
        ioctl(slave_, FIONREAD, &count);
        return count;
    }

    int master_ = -1;
    int slave_ = -1;
};

void row(const char *name, const Bytes &pieces, const QStringList &frames,
         const QStringList &debug = {}, const QByteArray &beforeOpen = {},
         const QByteArray &beforeHandler = {})
{
    QTest::newRow(name) << beforeOpen << beforeHandler << pieces << frames << debug;
}

} // namespace

class TestMarloSerialDriver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qtTestHandler = qInstallMessageHandler(recordDebug); }

    void receiving_data()
    {
        QTest::addColumn<QByteArray>("beforeOpen");
        QTest::addColumn<QByteArray>("beforeHandler");
        QTest::addColumn<Bytes>("pieces");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QStringList>("debug");

        const QByteArray mpdu = frameMessage(kMpdu, 10000);
        const QString mpduDelivered = delivery(10000, kMpdu);
        Bytes bytewise;
        for (char byte : mpdu)
            bytewise << QByteArray(1, byte);

        row("leading noise skipped, time taken out of the payload's middle",
            {bytes("00 55") + message(3, bytes("e2e2e2e20581 10270000 01c11002"))},
            {mpduDelivered});
        row("two frames in one piece, in order, with whole 32-bit times",
            {frameMessage(kBeacon, 1) + frameMessage(kMpdu, 0xffffffff)},
            {delivery(1, kBeacon), delivery(0xffffffff, kMpdu)});
        row("one byte at a time: every split, in the payload too", bytewise, {mpduDelivered});
        row("checksum off by one: dropped without a word, whatever its time",
            {withChecksumOffByOne(frameMessage(kMpdu, 0))}, {});
        row("zero reception time: dropped with its debug line", {frameMessage(kMpdu, 0)}, {},
            {"Error: Bad reception time for received frame!"});
        row("debug message logged, its checksum not judged",
            {mpdu + withChecksumOffByOne(message(4, "tick")) + frameMessage(kBeacon, 5)},
            {mpduDelivered, delivery(5, kBeacon)}, {"tick"});
        row("command, beacon and unknown types dropped",
            {message(1, bytes("0101")) + message(2, kBeacon) + message(9, kMpdu)}, {});
        row("header and time alone make the shortest frame", {frameMessage(kMpdu.left(6), 42)},
            {delivery(42, kMpdu.left(6))});
        row("payload a byte short of header and time: dropped",
            {message(3, bytes("e2e2e2e20185 102700"))}, {});
        row("a frame and a half waiting before the port opened are not taken", {}, {}, {},
            mpdu + mpdu.left(7));
        row("a frame while no handler is set is dropped", {}, {}, {}, {}, mpdu);
        // A false sync byte must cost no good message, whatever size it seems to announce.
        QByteArray thirty;
        QStringList thirtyDelivered;
        for (int i = 0; i < 30; ++i) {
            thirty += mpdu;
            thirtyDelivered << mpduDelivered;
        }
        row("stray sync byte before 30 frames: none lost", {bytes("7f") + thirty}, thirtyDelivered);
        row("stray sync and frame type before 30 frames: none lost", {bytes("7f 03") + thirty},
            thirtyDelivered);
        row("stray header claiming 255 bytes before 30 frames: none lost",
            {bytes("7f 03 ff") + thirty}, thirtyDelivered);
    }

    void receiving()
    {
        QFETCH(QByteArray, beforeOpen);
        QFETCH(QByteArray, beforeHandler);
        QFETCH(Bytes, pieces);
        QFETCH(QStringList, frames);
        QFETCH(QStringList, debug);

        Pty pty;
        QVERIFY2(!pty.path.empty(), "no pseudo-terminal");
        QVERIFY(pty.write(beforeOpen));
        MarloSerialDriver driver(pty.path);
        QVERIFY(driver.open());
        // Unless the row asks for it, no event is processed before the handlers are in place.
        if (!beforeHandler.isEmpty())
            QVERIFY(pty.write(beforeHandler) && pty.waitUntilConsumed());
        QStringList delivered;
        driver.setReceiveHandler(
                [&](Driver &from, uint32_t time, const uint8_t *data, size_t length) {
                    QCOMPARE(&from, &driver);
                    delivered << delivery(time, data, length);
                });
        QCOMPARE(pty.read(kLinkUp.size()), kLinkUp);

        debugLines.clear();
        for (const QString &line : debug)
            QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
        // Each piece is taken off the line before the next is written: the driver sees every
        // split and returns in between without waiting for the rest.
        for (int i = 0; i < pieces.size(); ++i) {
            if (i > 0 && i == pieces.size() - 1)
                QCOMPARE(delivered, QStringList());
            QVERIFY(pty.write(pieces[i]));
            QVERIFY2(pty.waitUntilConsumed(), "the driver stopped reading");
        }
        // A last frame: once it is in, the driver is through with everything before it.
        QVERIFY(pty.write(frameMessage(kMpdu, 7)));
        QTRY_VERIFY_WITH_TIMEOUT(delivered.size() > frames.size(), 10000);
        QCOMPARE(delivered, frames << delivery(7, kMpdu));
        QCOMPARE(debugLines, debug);
    }

    // Everything a driver writes in its life, and nothing else: the opening command, frames of
    // up to 32 bytes, the closing command, and nothing from a driver whose port did not open.
    // Nor does the destruction call the handler while input is pending.
    void writing()
    {
        Pty pty;
        QVERIFY2(!pty.path.empty(), "no pseudo-terminal");
        auto driver = std::make_unique<MarloSerialDriver>(pty.path);
        QVERIFY(driver->open());
        {
            MarloSerialDriver taken(pty.path);
            QVERIFY(!taken.open());
            QVERIFY(!taken.isOpen());
            QCOMPARE(taken.name(), pty.path);
            QVERIFY(!transmit(taken, kBeacon));
        }
        QVERIFY(transmit(*driver, kBeacon));
        QVERIFY(!transmit(*driver, QByteArray(33, 'y')));
        QVERIFY(transmit(*driver, QByteArray(32, 'y')));

        const QByteArray frame = frameMessage(kMpdu, 99);
        QVERIFY(pty.write(frame.left(5)) && pty.waitUntilConsumed());
        int calls = 0;
        driver->setReceiveHandler([&](Driver &, uint32_t, const uint8_t *, size_t) { ++calls; });
        // No event is processed between this write and the destruction: the rest of the frame
        // still waits while the driver writes its closing command and waits for it to leave.
        QVERIFY(pty.write(frame.mid(5)));
        driver.reset();
        QCOMPARE(calls, 0);

        MarloSerialDriver next(pty.path);
        QVERIFY(next.open());
        const QByteArray expected = kLinkUp + bytes("7f 02 11") + kBeacon + bytes("28")
                                    + message(2, QByteArray(32, 'y')) + kLinkDown + kLinkUp;
        QCOMPARE(pty.read(expected.size()).toHex(), expected.toHex());
    }

    // The board goes away and comes back under the same path: the driver closes the dead port
    // without spinning on it, says so once, and reopens the port with its link command.
    void lostPortIsReportedOnceAndReopened()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("board");
        auto pty = std::make_unique<Pty>();
        QVERIFY2(!pty->path.empty(), "no pseudo-terminal");
        QVERIFY(QFile::link(QString::fromStdString(pty->path), link));
        MarloSerialDriver driver(link.toStdString());
        QStringList changes;
        driver.setLinkStateHandler([&](bool up, const std::string &what) {
            changes << (up ? "up" : "down") + QString(what.empty() ? "" : " with a reason");
        });
        QVERIFY(driver.open());
        QCOMPARE(pty->read(kLinkUp.size()), kLinkUp);

        pty.reset();
        QVERIFY(QFile::remove(link));
        QTRY_COMPARE(changes, QStringList{"down with a reason"});
        QVERIFY(!driver.isOpen());
        QVERIFY(!transmit(driver, kBeacon));
        // A driver that keeps polling the dead port burns the whole core meanwhile.
        timespec before, after;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
        QTest::qWait(1000);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
        const double cpuMs
                = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
        QVERIFY2(cpuMs < 500, qPrintable(QString("%1 ms of CPU in 1000 ms").arg(cpuMs)));

        pty = std::make_unique<Pty>();
        QVERIFY(QFile::link(QString::fromStdString(pty->path), link));
        QTRY_COMPARE_WITH_TIMEOUT(changes, (QStringList{"down with a reason", "up"}), 10000);
        QVERIFY(driver.isOpen());
        QCOMPARE(pty->read(kLinkUp.size()), kLinkUp);
        QStringList delivered;
        driver.setReceiveHandler([&](Driver &, uint32_t time, const uint8_t *data, size_t length) {
            delivered << delivery(time, data, length);
        });
        QVERIFY(pty->write(frameMessage(kMpdu, 7)));
        QTRY_COMPARE(delivered, QStringList{delivery(7, kMpdu)});
    }

    // Which entries there are, and in what order, the registry's tests prove; here what each
    // serial port's entry says.
    void proberDescribesEachPort()
    {
        const auto ports = QSerialPortInfo::availablePorts();
        const auto descriptors = Driver::Descriptor::availableDescriptors();
        QVERIFY(int(descriptors.size()) > ports.size());
        for (int i = 0; i < ports.size(); ++i) {
            const auto *descriptor = descriptors[size_t(i)];
            QCOMPARE(QString::fromStdString(descriptor->name()),
                     "Marlo Gateway at " + ports[i].portName());
            QCOMPARE(QString::fromStdString(descriptor->location()), ports[i].systemLocation());
            QCOMPARE(std::unique_ptr<Driver>(descriptor->instantiate())->name(),
                     descriptor->location());
        }
    }
};

QTEST_GUILESS_MAIN(TestMarloSerialDriver)

#include "tst_marloserialdriver.moc"
