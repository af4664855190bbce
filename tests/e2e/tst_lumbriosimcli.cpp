#include "lumbrio-sim/wire.h"
#include "marloharness.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using marloharness::ToolProcess;

namespace {

const QString kSimulator = QStringLiteral(LUMBRIO_SIM_PATH);

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the simulator to its end; it must end by itself within the timeout.
Outcome runToEnd(const QStringList &arguments)
{
    QProcess process;
    process.start(kSimulator, arguments);
    Outcome outcome;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
        outcome.err = QStringLiteral("<still running>");
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

QByteArray beaconMessage()
{
    return lumbrio::encodeFrameMessage(QByteArray::fromHex("c7c7c7c70c0002010000e803000a00ffff"));
}

} // namespace

// lumbrio-sim as its users meet it: the command line, its errors and its output.
class TestLumbrioSimCli : public QObject
{
    Q_OBJECT

private slots:
    void helpDocumentsEveryOption()
    {
        const Outcome outcome = runToEnd({"--help"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.err, QString());
        for (const char *option : {"--port", "--nodes", "--seed", "--silent", "--late", "--early",
                                   "--wrong-size", "--unknown-epdu", "--broken-structure",
                                   "--node-fault", "--demo", "--verbose", "--help"})
            QVERIFY2(outcome.out.contains(QLatin1String(option)), option);
    }

    void badOptionsEndWithOneLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("mentions");

        QTest::newRow("unknown option") << QStringList{"--speed", "3"} << "speed";
        QTest::newRow("missing value") << QStringList{"--nodes"} << "--nodes";
        QTest::newRow("node id out of range") << QStringList{"--nodes", "0-200"} << "0-200";
        QTest::newRow("port not a number") << QStringList{"--port", "eighty"} << "eighty";
        QTest::newRow("probability too big") << QStringList{"--silent", "2"} << "--silent";
        QTest::newRow("bad node fault") << QStringList{"--node-fault", "3=late"} << "3=late";
        QTest::newRow("faults add up over 1")
                << QStringList{"--late", "0.7", "--early", "0.7"} << "add up";
        QTest::newRow("stray argument") << QStringList{"now"} << "now";
    }

    void badOptionsEndWithOneLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, mentions);

        const Outcome outcome = runToEnd(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QCOMPARE(outcome.out, QString());
        QVERIFY2(outcome.err.startsWith("lumbrio-sim: ") && outcome.err.endsWith('\n')
                         && outcome.err.count('\n') == 1,
                 qPrintable(outcome.err));
        QVERIFY2(outcome.err.contains(mentions), qPrintable(outcome.err));
    }

    void takenPortIsAnError()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(squatter.serverPort());

        const Outcome outcome = runToEnd({"--port", port});
        QVERIFY2(outcome.exitCode != 0, qPrintable(outcome.err));
        QVERIFY2(outcome.err.startsWith("lumbrio-sim: cannot listen on 127.0.0.1:" + port + ": "),
                 qPrintable(outcome.err));
        QCOMPARE(outcome.err.count('\n'), 1);
    }

    void printsConnectionsAndFrames_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("quiet: connections only") << false;
        QTest::newRow("verbose: every frame too") << true;
    }

    void printsConnectionsAndFrames()
    {
        QFETCH(bool, verbose);

        const QString port = QString::number(marloharness::freePort());
        QStringList arguments{"--port", port, "--nodes", "1,4"};
        if (verbose)
            arguments << "--verbose";
        ToolProcess simulator(kSimulator, arguments);
        QVERIFY2(simulator.waitForLine("listening on 127.0.0.1:" + port + ", nodes 1,4, seed 1"),
                 qPrintable(simulator.process().readAllStandardError()));

        QStringList lines;
        auto readUntil = [&](const QString &text) {
            for (QString line; !(line = simulator.readLine()).isEmpty();) {
                lines << line;
                if (line.contains(text))
                    return true;
            }
            return false;
        };

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(port.toUInt()));
        QVERIFY(client.waitForConnected(5000));
        QVERIFY2(readUntil("client 1 connected from 127.0.0.1:"), qPrintable(lines.join('\n')));
        client.write(QByteArray::fromHex("03000000050101020304") + beaconMessage());
        client.flush();
        // Nodes 1 and 4 answer 25 and 55 ms after the beacon; the client has another address.
        if (verbose)
            QVERIFY2(readUntil("node 4 -> "), qPrintable(lines.join('\n')));
        client.disconnectFromHost();
        QVERIFY2(readUntil("disconnected"), qPrintable(lines.join('\n')));

        const QString all = lines.join('\n');
        QCOMPARE(lines.last(), QString("client 1 (01020304) disconnected"));
        if (!verbose) {
            QVERIFY2(lines.size() == 2, qPrintable(all));
            return;
        }
        const QStringList expected{
                "^client 1 connected from 127\\.0\\.0\\.1:\\d+$",
                "^client 1 \\(01020304\\): address 01020304$",
                "^client 1 \\(01020304\\) -> c7c7c7c7, 17 bytes to 2 stations: c7 c7 c7 c7 0c ",
                "^node 1 -> e2e2e2e2 at 25 ms: e2 e2 e2 e2 0b 81 02 16 ",
                "^node 4 -> e2e2e2e2 at 55 ms: e2 e2 e2 e2 0b 84 02 16 ",
                "^client 1 \\(01020304\\) disconnected$"};
        QCOMPARE(lines.size(), expected.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(QRegularExpression(expected[i])), qPrintable(all));
    }
};

QTEST_GUILESS_MAIN(TestLumbrioSimCli)

#include "tst_lumbriosimcli.moc"
