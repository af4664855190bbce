#include "lumbrio-sim/wire.h"
#include "support/serialmessage.h"
#include "tool.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QTime>
#include <QtEndian>
#include <QtTest>

#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kSimulator = QStringLiteral(LUMBRIO_SIM_PATH);
const QString kEmulator = QStringLiteral(MARLO_EMU_PATH);

struct LineMessage
{
    uint8_t type;
    QByteArray payload;
    bool noiseBefore, checksumOk, inPieces;
};

// The next `count` messages on the PC's end of marlo-emu's terminal, read as a driver reads it:
// whatever has arrived, as soon as it has arrived, so that pieces written apart are seen apart.
QList<LineMessage> readMessages(int fd, int count)
{
    QList<LineMessage> messages;
    QByteArray stream;
    QList<int> boundaries;
    int parsed = 0;
    QDeadlineTimer deadline(10000);
    while (messages.size() < count) {
        const int start = stream.indexOf('\x7f', parsed);
        const int end = start < 0 || start + 3 > stream.size()
                                ? INT_MAX
                                : start + uint8_t(stream[start + 2]) + 4;
        if (end <= stream.size()) {
            bool inPieces = false;
            for (int boundary : boundaries)
                inPieces |= boundary > start && boundary < end;
            messages.append({uint8_t(stream[start + 1]), stream.mid(start + 3, end - start - 4),
                             start > parsed,
                             SerialBytes::checksumOf(stream.mid(start, end - start - 1))
                                     == uint8_t(stream[end - 1]),
                             inPieces});
            parsed = end;
            continue;
        }
        pollfd input = {fd, POLLIN, 0};
        if (deadline.hasExpired())
            break;
        if (::poll(&input, 1, int(deadline.remainingTime()) + 1) != 1)
            continue;
        char chunk[512];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            stream.append(chunk, int(got));
            boundaries.append(stream.size());
        }
    }
    return messages;
}

} // namespace

// lumbrio-sim's and marlo-emu's command lines, and marlo-emu between a stand-in simulator and the
// PC's end of its terminal.
class TestTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(squatter_.listen(QHostAddress::LocalHost));
        QVERIFY(taken_.open());
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        // What standard output, or the one line on standard error, must mention.
        QTest::addColumn<QString>("mentions");

        QTest::newRow("lumbrio-sim --help") << kSimulator << QStringList{"--help"} << 0 << "--port";
        QTest::newRow("lumbrio-sim: unknown option")
                << kSimulator << QStringList{"--speed", "3"} << 2 << "speed";
        const QString squatted = QString::number(squatter_.serverPort());
        QTest::newRow("lumbrio-sim: port taken")
                << kSimulator << QStringList{"--port", squatted} << 1 << "127.0.0.1:" + squatted;

        QTest::newRow("marlo-emu --help") << kEmulator << QStringList{"--help"} << 0 << "--port";
        QTest::newRow("marlo-emu: unknown option")
                << kEmulator << QStringList{"--bogus"} << 2 << "bogus";
        QTest::newRow("marlo-emu: port zero")
                << kEmulator << QStringList{"--port", "0"} << 2 << "'0'";
        QTest::newRow("marlo-emu: port past 65535")
                << kEmulator << QStringList{"--port", "65536"} << 2 << "65536";
        QTest::newRow("marlo-emu: rate above one")
                << kEmulator << QStringList{"--corrupt-checksum", "1.5"} << 2 << "1.5";
        QTest::newRow("marlo-emu: stray argument")
                << kEmulator << QStringList{"/dev/ttyS0"} << 2 << "/dev/ttyS0";
        QTest::newRow("marlo-emu: link name taken by a file")
                << kEmulator << QStringList{"--link", taken_.fileName()} << 1 << "--link:";
        QTest::newRow("marlo-emu: simulator not running")
                << kEmulator << QStringList{"--port", freePort()} << 1
                << "cannot reach lumbrio-sim";
    }

    void commandLine()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, mentions);

        Tool tool(program, arguments);
        QVERIFY(tool.waitForFinished(15000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
        QCOMPARE(exitCode == 0 ? err : out, QString());
        if (exitCode != 0)
            QVERIFY2(err.startsWith(QFileInfo(program).fileName() + ": ") && err.count('\n') == 1,
                     qPrintable(err));
        for (const QString &text : mentions.split(' '))
            QVERIFY2((exitCode == 0 ? out : err).contains(text), qPrintable(text));
        QVERIFY(QFileInfo(taken_.fileName()).isFile());
    }

    void emulatorBridges_data()
    {
        QTest::addColumn<QStringList>("options");

        QTest::newRow("clean line, ended by SIGTERM") << QStringList();
        QTest::newRow("noise, ended by the simulator") << QStringList{"--noise"};
        QTest::newRow("split, every checksum wrong, ended by the simulator")
                << QStringList{"--split", "--corrupt-checksum", "1"};
    }

    void emulatorBridges()
    {
        QFETCH(QStringList, options);
        const bool noise = options.contains("--noise"), split = options.contains("--split");
        const bool corrupt = options.contains("--corrupt-checksum"),
                   simulatorGoes = !options.isEmpty();

        QTemporaryDir dir;
        const QString link = dir.filePath("marlo");
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        Tool emulator(kEmulator, QStringList{"--port", QString::number(server.serverPort()),
                                             "--link", link, "--seed", "7"}
                                         + options);
        QVERIFY2(server.waitForNewConnection(10000), "the emulator did not connect");
        QTcpSocket *simulator = server.nextPendingConnection();
        const QString path = emulator.waitForLine("/dev/");
        QVERIFY2(!path.isEmpty(), emulator.readAllStandardError().constData());
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        const int pc = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const auto closePc = qScopeGuard([pc] { ::close(pc); });
        QCOMPARE(::write(pc, "\x7f\x01\x02\x01\x01\x7b", 6), ssize_t(6)); // the link goes up
        QVERIFY(!emulator.waitForLine("link up").isEmpty());

        // What the radio hears goes to the PC stamped with the board's clock, if a FRAME message
        // can carry it and its CRC is right.
        const QByteArray first = QByteArray::fromHex("e2e2e2e20b8502160102030405060708c104");
        const QByteArray second = QByteArray::fromHex("e2e2e2e2058501c11002");
        QByteArray badCrc = lumbrio::encodeFrameMessage(QByteArray::fromHex("e2e2e2e2048701c110"));
        badCrc[badCrc.size() - 1] = char(badCrc[badCrc.size() - 1] ^ 1);
        const quint32 before = quint32(QTime::currentTime().msecsSinceStartOfDay());
        simulator->write(lumbrio::encodeFrameMessage(first) + badCrc
                         + lumbrio::encodeFrameMessage(QByteArray::fromHex("e2e2e2e200"))
                         + lumbrio::encodeFrameMessage(second));
        QVERIFY(simulator->waitForBytesWritten(5000));
        const QList<LineMessage> messages = readMessages(pc, 4);
        const quint32 after = quint32(QTime::currentTime().msecsSinceStartOfDay());
        QCOMPARE(messages.size(), 4);
        QCOMPARE(messages[0].payload, QByteArray("link up"));
        QCOMPARE(messages[2].payload, QByteArray("heard a frame of 5 bytes, not passed on"));
        int noisy = 0, inPieces = 0, checksumsOk = 0;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(int(messages[i].type), i % 2 ? 3 : 4);
            noisy += messages[i].noiseBefore;
            inPieces += messages[i].inPieces;
            checksumsOk += messages[i].checksumOk;
        }
        for (const auto &[at, frame] : {std::make_pair(1, first), std::make_pair(3, second)}) {
            const QByteArray &payload = messages[at].payload;
            QCOMPARE(payload.left(6) + payload.mid(10), frame);
            const quint32 time = qFromLittleEndian<quint32>(payload.constData() + 6);
            QVERIFY(time != 0);
            if (before <= after) // not across midnight
                QVERIFY2(time >= before && time <= after, qPrintable(QString::number(time)));
        }
        QCOMPARE(noisy, noise ? 4 : 0);
        QCOMPARE(checksumsOk, corrupt ? 0 : 4);
        if (split)
            QVERIFY2(inPieces > 0, "every message arrived whole");

        if (simulatorGoes)
            simulator->disconnectFromHost();
        else
            emulator.terminate();
        QVERIFY(emulator.waitForFinished(10000));
        QCOMPARE(emulator.exitCode(), simulatorGoes ? 1 : 0);
        QCOMPARE(emulator.readAllStandardError(),
                 QByteArray(simulatorGoes ? "marlo-emu: lumbrio-sim closed the connection\n" : ""));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // lumbrio-sim against clients that misbehave: it keeps its memory, its log and its CPU.
    void simulatorBoundsMisbehavingClients_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("said");

        QTest::newRow("a client that never reads is closed")
                << "stuck"
                << "does not read: more than 65536 bytes wait for it; closing";
        QTest::newRow("a flood of bad checksums is logged a line a second")
                << "bad checksums"
                << "more since the last such line";
        QTest::newRow("more clients than descriptors wait without spinning")
                << "too many"
                << "no descriptors left for more";
    }

    void simulatorBoundsMisbehavingClients()
    {
        QFETCH(QString, client);
        QFETCH(QString, said);

        const QString port = freePort();
        Tool simulator("bash", QStringList{"-c", "ulimit -n 64; exec \"$0\" --nodes 0 --port $1",
                                           kSimulator, port});
        QVERIFY(!simulator.waitForLine("listening").isEmpty());
        const auto connected = [&] {
            auto *socket = new QTcpSocket(this);
            socket->connectToHost(QHostAddress::LocalHost, port.toUShort());
            return socket;
        };
        // The stuck client takes nothing off its socket, so the kernel's buffers fill too.
        QTcpSocket *sender = connected();
        QVERIFY(sender->waitForConnected(5000));
        QTcpSocket *stuck = connected();
        stuck->setReadBufferSize(1);
        QVERIFY(stuck->waitForConnected(5000));
        stuck->write(lumbrio::encodeControlMessage(1, QByteArray::fromHex("e2e2e2e2")));
        QVERIFY(stuck->waitForBytesWritten(5000));

        QList<QTcpSocket *> crowd;
        for (int i = 0; i < 100 && client == "too many"; ++i)
            crowd << connected();
        const QByteArray frame = QByteArray::fromHex("e2e2e2e2 05 81 01 c1 00");
        QByteArray message = lumbrio::encodeFrameMessage(frame);
        if (client == "bad checksums")
            message[message.size() - 1] = char(message[message.size() - 1] ^ 1);
        QString lines;
        QDeadlineTimer deadline(30000);
        while (!lines.contains(said) && !deadline.hasExpired()) {
            if (client != "too many") {
                sender->write(message.repeated(1000));
                QVERIFY(sender->waitForBytesWritten(5000));
            }
            simulator.waitForReadyRead(client == "too many" ? 100 : 1);
            lines += QString::fromLocal8Bit(simulator.readAllStandardOutput());
        }
        QVERIFY2(lines.contains(said), qPrintable(lines.right(2000)));
        QVERIFY2(lines.count("wrong checksum") < 40, qPrintable(lines.left(2000)));
        // What the simulator's process used: user and system time in clock ticks.
        QFile stat(QString("/proc/%1/stat").arg(simulator.processId()));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        QThread::msleep(1000);
        const auto ticks = [&] {
            stat.seek(0);
            const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
            return fields[12].toLongLong() + fields[13].toLongLong();
        };
        const qint64 before = ticks();
        QThread::msleep(1000);
        QVERIFY2(ticks() - before < sysconf(_SC_CLK_TCK) / 2,
                 "the simulator keeps a core busy while nothing happens");
        qDeleteAll(crowd);
    }

private:
    QTcpServer squatter_;
    QTemporaryFile taken_;
};

QTEST_GUILESS_MAIN(TestTools)

#include "tst_tools.moc"
