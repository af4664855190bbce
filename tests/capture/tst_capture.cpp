#include "e2e/tool.h"

#include <QStandardPaths>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {

// One Enhanced Packet Block, as an independent reading of the file gives it.
struct Packet
{
    quint64 stamp = 0;
    quint32 flags = 0;
    QByteArray frame;
    QString comment;
};

// Reads a little-endian pcapng file block by block and checks what every reader relies on: the
// section header first, the two length fields of each block equal, interfaces of link type 147
// with nanosecond stamps, packets only on described interfaces.
QList<Packet> readCapture(const QString &path, QString *problem)
{
    QFile file(path);
    QList<Packet> packets;
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return packets;
    }
    const QByteArray bytes = file.readAll();
    const auto at = [&](int offset) {
        return qFromLittleEndian<quint32>(bytes.constData() + offset);
    };
    int interfaces = 0;
    for (int offset = 0; offset < bytes.size();) {
        const quint32 length = offset + 8 <= bytes.size() ? at(offset + 4) : 0;
        if (length < 12 || length % 4 || offset + int(length) > bytes.size()
            || at(offset + int(length) - 4) != length) {
            *problem = QStringLiteral("block at %1: length fields do not agree").arg(offset);
            return packets;
        }
        const quint32 type = at(offset);
        if ((offset == 0) != (type == 0x0A0D0D0A && at(offset + 8) == 0x1A2B3C4D)) {
            *problem = QStringLiteral("block at %1: section header misplaced").arg(offset);
            return packets;
        }
        int options = -1;
        if (type == 1) {
            ++interfaces;
            // Link type, then if_tsresol (code 9) among the options.
            if (qFromLittleEndian<quint16>(bytes.constData() + offset + 8) != 147
                || !bytes.mid(offset + 16, int(length) - 20)
                            .contains(QByteArray("\x09\x00\x01\x00\x09", 5)))
                *problem = QStringLiteral("interface without link type 147 or nanoseconds");
        } else if (type == 6) {
            if (int(at(offset + 8)) >= interfaces)
                *problem = QStringLiteral("packet on an undescribed interface");
            Packet packet;
            packet.stamp = quint64(at(offset + 12)) << 32 | at(offset + 16);
            packet.frame = bytes.mid(offset + 28, int(at(offset + 20)));
            options = offset + 28 + (packet.frame.size() + 3) / 4 * 4;
            packets << packet;
        }
        // Options: code, length, value padded to 32 bits, up to end-of-options.
        while (options >= 0 && options + 4 <= offset + int(length) - 4) {
            const quint16 code = qFromLittleEndian<quint16>(bytes.constData() + options);
            const quint16 size = qFromLittleEndian<quint16>(bytes.constData() + options + 2);
            if (code == 0)
                break;
            if (code == 1)
                packets.last().comment = QString::fromUtf8(bytes.mid(options + 4, size));
            if (code == 2)
                packets.last().flags = at(options + 4);
            options += 4 + (size + 3) / 4 * 4;
        }
        offset += int(length);
    }
    return packets;
}

// Runs tshark with the dissector over `path`: one list of the fields per frame.
QList<QStringList> dissect(const QString &tshark, const QString &path, const QStringList &fields,
                           const QString &filter = QString())
{
    QStringList arguments{"-X", "lua_script:" TALVEN_DISSECTOR,
                          "-r", path,
                          "-T", "fields",
                          "-E", "separator=|",
                          "-E", "occurrence=a",
                          "-E", "aggregator=,"};
    if (!filter.isEmpty())
        arguments << "-Y" << filter;
    for (const QString &field : fields)
        arguments << "-e" << field;
    QProcess process;
    process.start(tshark, arguments);
    process.waitForFinished(60000);
    QList<QStringList> rows;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split('|');
    }
    return rows;
}

} // namespace

// Captures from both ends of a seeded run with faults: talven-gateway --pcapng and
// lumbrio-sim --pcapng, read back block by block and through the Wireshark dissector.
class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void bothEndsOfARunWithFaults()
    {
        // Every node but 0 and 5 spoils each answer its own way; node 7 never answers. Wide
        // slots: late and early answers miss theirs by 25 ms, more than a busy machine delays.
        const QStringList verdicts{", in slot (",
                                   "; format error at ePDU 2, position 21",
                                   "; invalid SV group 2 [",
                                   "; invalid event 12 [",
                                   ", late (",
                                   ", in slot (",
                                   ", early ("};
        constexpr int kCycles = 5;
        QTemporaryDir dir;
        const QString gatewayFile = dir.filePath("gateway.pcapng");
        const QString simulatorFile = dir.filePath("simulator.pcapng");
        {
            Tool simulator(LUMBRIO_SIM_PATH,
                           {"--nodes", "0-7", "--seed", "11", "--pcapng", simulatorFile,
                            "--node-fault", "1:broken-structure=1", "--node-fault",
                            "2:wrong-size=1", "--node-fault", "3:unknown-epdu=1", "--node-fault",
                            "4:late=1", "--node-fault", "6:early=1", "--node-fault", "7:silent=1"});
            QVERIFY2(!simulator.waitForLine("listening").isEmpty(),
                     simulator.readAllStandardError().constData());
            QProcess gateway;
            gateway.start(TALVEN_GATEWAY_PATH, {"--cycles", QString::number(kCycles), "--interval",
                                                "1650", "--slot", "50", "--pcapng", gatewayFile});
            QVERIFY(gateway.waitForFinished(60000));
            QCOMPARE(gateway.exitCode(), 1);
        }

        QString problem;
        const QList<Packet> packets = readCapture(gatewayFile, &problem);
        QCOMPARE(problem, QString());
        const QList<Packet> medium = readCapture(simulatorFile, &problem);
        QCOMPARE(problem, QString());

        // The gateway's beacons are what the medium took in, its inbound frames what the
        // virtual nodes sent out, byte for byte and in order.
        QByteArrayList beacons, answers, sent, heard;
        QStringList seen;
        for (int i = 0; i < packets.size(); ++i) {
            const Packet &p = packets[i];
            if (i > 0)
                QVERIFY2(p.stamp >= packets[i - 1].stamp, qPrintable(QString::number(i)));
            (p.flags == 2 ? beacons : answers) << p.frame;
            if (p.flags == 1) {
                const int node = quint8(p.frame.at(5)) & 0x7f;
                seen << p.comment;
                QVERIFY2(p.comment.startsWith(QStringLiteral("node %1: ").arg(node))
                                 && p.comment.contains(verdicts.value(node, "?")),
                         qPrintable(p.comment));
            }
        }
        // The simulator's name for each node's fault, by node.
        const QStringList faults{
                "", "broken-structure", "wrong-size", "unknown-epdu", "late", "", "early", ""};
        for (const Packet &p : medium) {
            (p.flags == 1 ? heard : sent) << p.frame;
            const int node = quint8(p.frame.at(5)) & 0x7f;
            if (p.flags == 2)
                QCOMPARE(p.comment, QStringLiteral("node %1 answers").arg(node)
                                            + (!faults.value(node).isEmpty()
                                                       ? ", " + faults[node] + " on purpose"
                                                       : QString()));
        }
        QCOMPARE(beacons.size(), kCycles);
        QCOMPARE(answers.size(), kCycles * verdicts.size());
        QCOMPARE(heard, beacons);
        QCOMPARE(sent, answers);

        const QString tshark = QStandardPaths::findExecutable("tshark");
        if (tshark.isEmpty())
            QSKIP("tshark is not installed: the dissector is not checked");

        // Frame by frame the dissector finds the nodes, the ePDU ids and the run's verdicts.
        const QList<QStringList> rows
                = dissect(tshark, gatewayFile, {"talven.node", "talven.epdu.id", "frame.comment"});
        QCOMPARE(rows.size(), packets.size());
        for (int i = 0; i < rows.size(); ++i) {
            const QByteArray &frame = packets[i].frame;
            QStringList ids;
            for (int at = 7, n = 0; packets[i].flags == 1 && n < frame.at(6) && at < frame.size();
                 ++n, at += 1 + (frame.at(at) & 7))
                ids << QString::number((quint8(frame.at(at)) >> 3) & 15);
            const QString node
                    = packets[i].flags == 1 ? QString::number(quint8(frame.at(5)) & 0x7f) : "";
            QCOMPARE(rows[i], (QStringList{node, ids.join(','), packets[i].comment}));
        }
        // The broken structures, and nothing else, are malformed; the bad payloads are flagged.
        const auto nodesOf = [&](const QString &filter) {
            QStringList nodes;
            for (const QStringList &row : dissect(tshark, gatewayFile, {"talven.node"}, filter))
                nodes << row.first();
            nodes.removeDuplicates();
            return nodes;
        };
        QCOMPARE(nodesOf("_ws.malformed"), QStringList{"1"});
        QCOMPARE(nodesOf("talven.epdu.size"), QStringList{"2"});
        QCOMPARE(nodesOf("talven.epdu.unknown"), QStringList{"3"});
        QCOMPARE(nodesOf("talven.accel.x && talven.joystick"),
                 (QStringList{"0", "1", "3", "4", "5", "6"}));
    }

    void unwritableCaptureEndsWithStatusTwo_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        // Were the file not checked first, the gateway would end with 3 (no simulator on its
        // port) and the simulator would listen on a free port.
        QTest::newRow("talven-gateway")
                << TALVEN_GATEWAY_PATH << QStringList{"--serial", "/dev/null/x"};
        QTest::newRow("lumbrio-sim") << LUMBRIO_SIM_PATH << QStringList{"--port", freePort()};
    }

    void unwritableCaptureEndsWithStatusTwo()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(program, QStringList{"--pcapng", "/proc/talven/capture.pcapng"} + arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("/proc/talven/capture.pcapng"));
    }
};

QTEST_GUILESS_MAIN(TestCapture)

#include "tst_capture.moc"
