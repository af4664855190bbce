#include "common/lumbriowire.h"
#include "common/seriallink.h"
#include "tool.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kSimulator = QStringLiteral(LUMBRIO_SIM_PATH);
const QString kEmulator = QStringLiteral(MARLO_EMU_PATH);

// The next `count` messages on the PC's end of marlo-emu's terminal, read as a driver reads it:
// whatever has arrived, as soon as it has arrived, so that pieces written apart are seen apart.
QList<seriallink::Message> readMessages(int fd, int count)
{
    seriallink::Reader reader;
    QList<seriallink::Message> messages;
    QDeadlineTimer deadline(10000);
    for (seriallink::Message next; messages.size() < count && !deadline.hasExpired();) {
        if (reader.next(&next)) {
            messages << next;
            continue;
        }
        pollfd input = {fd, POLLIN, 0};
        char chunk[512];
        if (::poll(&input, 1, int(deadline.remainingTime()) + 1) == 1)
            reader.append(QByteArray(chunk, int(std::max<ssize_t>(0, ::read(fd, chunk, 512)))));
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

        const QString squatted = QString::number(squatter_.serverPort());
        const auto row = [](const char *name, const QString &program, const QStringList &arguments,
                            int exitCode, const QString &mentions) {
            QTest::newRow(name) << program << arguments << exitCode << mentions;
        };
        row("lumbrio-sim --help", kSimulator, {"--help"}, 0, "--port");
        row("lumbrio-sim: unknown option", kSimulator, {"--speed", "3"}, 2, "speed");
        row("lumbrio-sim: port taken", kSimulator, {"--port", squatted}, 1,
            "127.0.0.1:" + squatted);
        row("marlo-emu --help", kEmulator, {"--help"}, 0, "--port");
        row("marlo-emu: port past 65535", kEmulator, {"--port", "65536"}, 2, "65536");
        row("marlo-emu: rate above one", kEmulator, {"--corrupt-checksum", "1.5"}, 2, "1.5");
        row("marlo-emu: stray argument", kEmulator, {"/dev/ttyS0"}, 2, "/dev/ttyS0");
        row("marlo-emu: link name taken by a file", kEmulator, {"--link", taken_.fileName()}, 1,
            "--link:");
        row("marlo-emu: simulator not running", kEmulator, {"--port", freePort()}, 1,
            "cannot reach lumbrio-sim");
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
        QVERIFY2((exitCode == 0 ? out : err).contains(mentions), qPrintable(out + err));
        QVERIFY(QFileInfo(taken_.fileName()).isFile());
    }

    // marlo-emu between a stand-in simulator and the PC's end of its terminal: the process's
    // plumbing, its impairments on the line, and how it ends.
    void emulatorBridges_data()
    {
        QTest::addColumn<QStringList>("options");

        QTest::newRow("clean line, ended by SIGTERM") << QStringList();
        QTest::newRow("noise, split, every checksum wrong, ended by the simulator")
                << QStringList{"--noise", "--split", "--corrupt-checksum", "1"};
    }

    void emulatorBridges()
    {
        QFETCH(QStringList, options);
        const bool impaired = !options.isEmpty();

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
        const QByteArray linkUp = seriallink::message(1, QByteArray::fromHex("0101"));
        QCOMPARE(::write(pc, linkUp.constData(), 6), ssize_t(6));
        QVERIFY(!emulator.waitForLine("link up").isEmpty());

        // A frame too short to pass on: the board says so. Stamping frames is its link's business.
        simulator->write(lumbrio::encodeFrameMessage(QByteArray::fromHex("e2e2e2e200")));
        QVERIFY(simulator->waitForBytesWritten(5000));
        const QList<seriallink::Message> messages = readMessages(pc, 2);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[1].payload, QByteArray("heard a frame of 5 bytes, not passed on"));
        for (const seriallink::Message &message : messages) {
            QCOMPARE(message.checksumMatches, !impaired);
            QCOMPARE(message.skipped > 0, impaired);
        }
        if (impaired)
            QVERIFY2(messages[0].inPieces || messages[1].inPieces, "every message arrived whole");
        if (impaired)
            simulator->disconnectFromHost();
        else
            emulator.terminate();
        QVERIFY(emulator.waitForFinished(10000));
        QCOMPARE(emulator.exitCode(), impaired ? 1 : 0);
        QCOMPARE(emulator.readAllStandardError(),
                 QByteArray(impaired ? "marlo-emu: lumbrio-sim closed the connection\n" : ""));
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
