#include "marloharness.h"
#include "support/serialmessage.h"

#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTime>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using marloharness::ToolProcess;

namespace {

const QString kEmulator = QStringLiteral(MARLO_EMU_PATH);
const QByteArray kLinkUp = QByteArray::fromHex("7f010201017b");
const QByteArray kLinkDown = QByteArray::fromHex("7f010201027a");
const QByteArray kBeacon = QByteArray::fromHex("c7c7c7c70c0002010000e803001e001100");

quint32 now()
{
    return quint32(QTime::currentTime().msecsSinceStartOfDay());
}

using SerialBytes::checksumOf;

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The simulator's frame message: kind 1, length, preamble, frame, X.25 CRC.
QByteArray simulatorFrame(const QByteArray &frame, bool goodCrc = true)
{
    const quint16 crc = qChecksum(frame.constData(), uint(frame.size())) ^ (goodCrc ? 0 : 1);
    QByteArray bytes = QByteArray(1, '\x01') + bigEndian32(quint32(frame.size() + 3));
    bytes.append(char((uint8_t(frame[0]) & 0x80) ? 0xAA : 0x55)).append(frame);
    return bytes.append(char(crc >> 8)).append(char(crc));
}

// One message as the PC sees it on the line.
struct LineMessage
{
    int noiseBefore = 0;
    uint8_t type = 0;
    QByteArray payload;
    bool checksumOk = false;
    bool inPieces = false;
};

// The PC's end of the emulated serial line, read the way a driver reads it: whatever has
// arrived, as soon as it has arrived, so that pieces written apart are seen apart.
class PcSide
{
public:
    explicit PcSide(const QString &path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {}
    ~PcSide()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PcSide(const PcSide &) = delete;
    PcSide &operator=(const PcSide &) = delete;

    bool isOpen() const { return fd_ >= 0; }

    bool write(const QByteArray &bytes)
    {
        return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // The next `count` messages; fewer when they do not come in time.
    QList<LineMessage> read(int count, int timeoutMs = 10000)
    {
        QList<LineMessage> messages;
        QDeadlineTimer deadline(timeoutMs);
        while (messages.size() < count) {
            LineMessage message;
            if (parseNext(&message)) {
                messages.append(message);
                continue;
            }
            if (deadline.hasExpired())
                break;
            pollfd input = {fd_, POLLIN, 0};
            if (::poll(&input, 1, int(qMax<qint64>(1, deadline.remainingTime()))) != 1)
                continue;
            char chunk[512];
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0) {
                stream_.append(chunk, int(got));
                boundaries_.append(stream_.size());
            }
        }
        return messages;
    }

private:
    bool parseNext(LineMessage *message)
    {
        int start = parsed_;
        while (start < stream_.size() && uint8_t(stream_[start]) != 0x7F)
            ++start;
        if (start + 3 > stream_.size())
            return false;
        const int length = uint8_t(stream_[start + 2]) + 4;
        if (start + length > stream_.size())
            return false;
        message->noiseBefore = start - parsed_;
        message->type = uint8_t(stream_[start + 1]);
        message->payload = stream_.mid(start + 3, length - 4);
        message->checksumOk = checksumOf(stream_.mid(start, length - 1))
                              == uint8_t(stream_[start + length - 1]);
        for (int boundary : boundaries_)
            message->inPieces |= boundary > start && boundary < start + length;
        parsed_ = start + length;
        return true;
    }

    int fd_ = -1;
    QByteArray stream_;
    QList<int> boundaries_;
    int parsed_ = 0;
};

// Plays lumbrio-sim towards the emulator: one client, read and written directly.
class FakeSimulator
{
public:
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    bool accept()
    {
        if (!server_.waitForNewConnection(10000))
            return false;
        client_ = server_.nextPendingConnection();
        return client_ != nullptr;
    }

    QByteArray read(int count, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (client_->bytesAvailable() < count && !deadline.hasExpired())
            client_->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        return client_->read(count);
    }

    void send(const QByteArray &bytes)
    {
        client_->write(bytes);
        client_->waitForBytesWritten(5000);
    }

    void hangUp() { client_->disconnectFromHost(); }

private:
    QTcpServer server_;
    QTcpSocket *client_ = nullptr;
};

} // namespace

class TestMarloEmu : public QObject
{
    Q_OBJECT

private:
    // The emulator bridged to `simulator`, its announcements checked; returns the terminal path.
    QString startBridge(ToolProcess &emulator, FakeSimulator &simulator)
    {
        [&] {
            QVERIFY(emulator.started());
            QVERIFY2(simulator.accept(), "the emulator did not connect");
        }();
        const QString path = emulator.readLine();
        [&] {
            QVERIFY2(path.startsWith("/dev/"), qPrintable(path));

            const QByteArray header = simulator.read(6);
            QCOMPARE(header.size(), 6);
            QCOMPARE(header.left(1), QByteArray("\x03"));
            QCOMPARE(header.mid(5), QByteArray("\x05"));
            const quint32 length = qFromBigEndian<quint32>(header.constData() + 1);
            QVERIFY2(length > 1 && length < 100, qPrintable(header.toHex()));
            QCOMPARE(simulator.read(int(length - 1)).size(), int(length - 1));
            QCOMPARE(simulator.read(10), QByteArray::fromHex("030000000501e2e2e2e2"));
        }();
        return path;
    }

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");

        QTest::newRow("help") << QStringList{"--help"} << 0 << "--corrupt-checksum <rate>";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << QString();
        QTest::newRow("port missing its value") << QStringList{"--port"} << 2 << QString();
        QTest::newRow("port zero") << QStringList{"--port", "0"} << 2 << QString();
        QTest::newRow("port past 65535") << QStringList{"--port", "65536"} << 2 << QString();
        QTest::newRow("rate above one")
                << QStringList{"--corrupt-checksum", "1.5"} << 2 << QString();
        QTest::newRow("rate below zero")
                << QStringList{"--corrupt-checksum", "-0.1"} << 2 << QString();
        QTest::newRow("rate not a number")
                << QStringList{"--corrupt-checksum", "often"} << 2 << QString();
        QTest::newRow("negative seed") << QStringList{"--seed", "-3"} << 2 << QString();
        QTest::newRow("stray argument") << QStringList{"/dev/ttyS0"} << 2 << QString();
        QTest::newRow("simulator not running")
                << QStringList{"--port", QString::number(marloharness::freePort())} << 1
                << QString();
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);

        ToolProcess emulator(kEmulator, arguments);
        QVERIFY(emulator.process().waitForFinished(15000));
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.process().exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(emulator.process().readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(emulator.process().readAllStandardError());
        if (exitCode == 0) {
            QVERIFY2(out.contains(output), qPrintable(out));
            QCOMPARE(err, QString());
        } else {
            // One line that names the program, nothing on standard output.
            QCOMPARE(out, QString());
            QVERIFY2(err.startsWith("marlo-emu: ") && err.count('\n') == 1, qPrintable(err));
        }
    }

    void bridging_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("noise");
        QTest::addColumn<bool>("split");
        QTest::addColumn<bool>("corrupt");

        QTest::newRow("clean line") << QStringList() << false << false << false;
        QTest::newRow("noise") << QStringList{"--noise"} << true << false << false;
        QTest::newRow("split") << QStringList{"--split"} << false << true << false;
        QTest::newRow("noise and split")
                << QStringList{"--noise", "--split"} << true << true << false;
        QTest::newRow("every checksum wrong")
                << QStringList{"--corrupt-checksum", "1"} << false << false << true;
    }

    void bridging()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, noise);
        QFETCH(bool, split);
        QFETCH(bool, corrupt);

        FakeSimulator simulator;
        QVERIFY(simulator.listen());
        ToolProcess emulator(kEmulator, QStringList{"--port", QString::number(simulator.port()),
                                                    "--verbose", "--seed", "7"}
                                                + options);
        const QString path = startBridge(emulator, simulator);
        if (QTest::currentTestFailed())
            return;
        PcSide pc(path);
        QVERIFY(pc.isOpen());

        // Heard before the link is up: not passed on.
        const QByteArray early = QByteArray::fromHex("e2e2e2e2048101c101");
        simulator.send(simulatorFrame(early));
        QVERIFY(emulator.waitForLine("heard while the link is down"));

        QVERIFY(pc.write(kLinkUp));
        QList<LineMessage> messages = pc.read(1);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(int(messages[0].type), 4);
        QCOMPARE(messages[0].payload, QByteArray("link up"));

        // Towards the radio: beacons whole, in pieces behind noise, and none with a bad checksum.
        QVERIFY(pc.write(SerialBytes::message(2, kBeacon)));
        QCOMPARE(simulator.read(25),
                 QByteArray::fromHex("0100000014aa") + kBeacon + QByteArray::fromHex("90a5"));
        QVERIFY(pc.write(QByteArray::fromHex("0055") + SerialBytes::message(2, kBeacon).left(8)));
        QVERIFY(pc.write(SerialBytes::message(2, kBeacon).mid(8)));
        QCOMPARE(simulator.read(25), simulatorFrame(kBeacon));
        QVERIFY(pc.write(SerialBytes::message(2, kBeacon).chopped(1) + '\0'));
        const QByteArray mpduBeacon = kBeacon.left(5) + '\x80' + kBeacon.mid(6);
        QVERIFY(pc.write(SerialBytes::message(2, mpduBeacon)));
        QCOMPARE(simulator.read(25), simulatorFrame(mpduBeacon));

        // Towards the PC: what the radio hears, stamped with the board's clock.
        const QByteArray first = QByteArray::fromHex("e2e2e2e20b8502160102030405060708c104");
        const QByteArray second = QByteArray::fromHex("e2e2e2e2048701c110");
        const QByteArray third = QByteArray::fromHex("e2e2e2e2058501c11002");
        const quint32 before = now();
        simulator.send(simulatorFrame(first));
        simulator.send(simulatorFrame(second, false));
        simulator.send(QByteArray::fromHex("030000000201ff"));
        simulator.send(simulatorFrame(second));
        simulator.send(simulatorFrame(QByteArray::fromHex("e2e2e2e200")));
        simulator.send(simulatorFrame(third));

        messages += pc.read(5);
        const quint32 after = now();
        QCOMPARE(messages.size(), 6);

        QCOMPARE(int(messages[1].type), 4);
        QCOMPARE(messages[1].payload, QByteArray("dropped a message with a bad checksum"));
        const QList<QByteArray> frames{first, second, third};
        const int frameAt[] = {2, 3, 5};
        for (int i = 0; i < 3; ++i) {
            const LineMessage &message = messages[frameAt[i]];
            QCOMPARE(int(message.type), 3);
            QCOMPARE(message.payload.size(), frames[i].size() + 4);
            QCOMPARE(message.payload.left(6) + message.payload.mid(10), frames[i]);
            const quint32 time = qFromLittleEndian<quint32>(message.payload.constData() + 6);
            QVERIFY(time != 0);
            if (before <= after) // not across midnight
                QVERIFY2(time >= before && time <= after,
                         qPrintable(QString("%1 not in %2..%3").arg(time).arg(before).arg(after)));
        }
        QCOMPARE(int(messages[4].type), 4);
        QCOMPARE(messages[4].payload, QByteArray("heard a frame of 5 bytes, not passed on"));

        int noisy = 0, inPieces = 0, checksumsOk = 0;
        for (const LineMessage &message : messages) {
            noisy += message.noiseBefore > 0;
            inPieces += message.inPieces;
            checksumsOk += message.checksumOk;
        }
        QCOMPARE(noisy, noise ? messages.size() : 0);
        QCOMPARE(checksumsOk, corrupt ? 0 : messages.size());
        if (split)
            QVERIFY2(inPieces > 0, "every message arrived whole");

        // After the link is closed nothing more comes until it is opened again.
        QVERIFY(pc.write(kLinkDown));
        QVERIFY(emulator.waitForLine("link down"));
        simulator.send(simulatorFrame(third));
        QVERIFY(emulator.waitForLine("heard while the link is down"));
        QVERIFY(pc.write(kLinkUp));
        messages = pc.read(1);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].payload, QByteArray("link up"));
    }

    void symbolicLinkFollowsTheTerminal()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath("marlo");
        FakeSimulator simulator;
        QVERIFY(simulator.listen());
        ToolProcess emulator(kEmulator,
                             {"--port", QString::number(simulator.port()), "--link", link});
        const QString path = startBridge(emulator, simulator);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        emulator.process().terminate();
        QVERIFY(emulator.process().waitForFinished(10000));
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.process().exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void linkNameTakenByAFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString taken = dir.filePath("taken");
        QFile file(taken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        FakeSimulator simulator;
        QVERIFY(simulator.listen());
        ToolProcess emulator(kEmulator,
                             {"--port", QString::number(simulator.port()), "--link", taken});
        QVERIFY(emulator.process().waitForFinished(15000));
        QCOMPARE(emulator.process().exitCode(), 1);
        QVERIFY(QFileInfo(taken).isFile());
        const QString err = QString::fromLocal8Bit(emulator.process().readAllStandardError());
        QVERIFY2(err.startsWith("marlo-emu: --link: ") && err.count('\n') == 1, qPrintable(err));
    }

    void endsWhenTheSimulatorGoes()
    {
        FakeSimulator simulator;
        QVERIFY(simulator.listen());
        ToolProcess emulator(kEmulator, {"--port", QString::number(simulator.port())});
        startBridge(emulator, simulator);
        if (QTest::currentTestFailed())
            return;

        simulator.hangUp();
        QVERIFY(emulator.process().waitForFinished(10000));
        QCOMPARE(emulator.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.process().exitCode(), 1);
        const QString err = QString::fromLocal8Bit(emulator.process().readAllStandardError());
        QCOMPARE(err, QString("marlo-emu: lumbrio-sim closed the connection\n"));
    }
};

QTEST_GUILESS_MAIN(TestMarloEmu)

#include "tst_marloemu.moc"
