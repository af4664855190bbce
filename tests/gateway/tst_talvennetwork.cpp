#include "gateway/talvennetwork.h"
#include "support/frames.h"
#include "support/recordingdriver.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>
#include <QTime>

#include <memory>

namespace {

int now()
{
    return QTime::currentTime().msecsSinceStartOfDay();
}

// The node records as text, "; " between records, behind "link down; " while the link is down.
QString records(const TalvenNetwork &network)
{
    QStringList entries;
    for (const NodeState *n : network.nodes()) {
        const QVector3D &a = n->accelerometer;
        entries << QString::asprintf("%d %s%s, delay %d, %u errors, joystick %u, (%g, %g, %g)",
                                     n->id, n->answered ? "answered" : "silent",
                                     n->inSlot ? " in slot" : "", n->delay, n->errorCount,
                                     n->joystick, double(a.x()), double(a.y()), double(a.z()));
    }
    return (network.isLinkUp() ? "" : "link down; ") + entries.join("; ");
}

QString colorName(const QVariant &color)
{
    static const QMap<QRgb, QString> names{{QColor(Qt::darkGray).rgb(), "gray"},
                                           {QColor(Qt::darkGreen).rgb(), "green"},
                                           {QColor(Qt::darkRed).rgb(), "red"}};
    return color.isValid() ? names.value(color.value<QColor>().rgb(), "other") : "none";
}

// An engine on a recording link (owned by the engine) and all it reports, in order: its log
// lines, "<beacon>", "<mpdu N>" for each judged MPDU, "<link up>"/"<link down>" as its observers
// hear it, and "<cycle finished>".
struct Bench : verdict::Observer
{
    explicit Bench(RecordingDriver::Probe *probe = nullptr)
        : driver(new RecordingDriver(probe))
    {
        network.setNetworkInterfaceDriver(driver);
        network.addObserver(this);
        QObject::connect(&network, &TalvenNetwork::error, &network,
                         [this](const QString &line) { log << line; });
        QObject::connect(&network, &TalvenNetwork::beaconSend, &network,
                         [this] { log << QStringLiteral("<beacon>"); });
        QObject::connect(&network, &TalvenNetwork::receivedMpdu, &network,
                         [this](int node) { log << QStringLiteral("<mpdu %1>").arg(node); });
        QObject::connect(&network, &TalvenNetwork::cycleFinished, &network,
                         [this] { log << QStringLiteral("<cycle finished>"); });
    }

    void linkChanged(bool up, const QString &) override
    {
        log << (up ? "<link up>" : "<link down>");
    }

    // Steps: "nodes A B..", "beacon INTERVAL SLOT MASK", "rx OFFSET HEX" (see rx()), "down" and
    // "up" (each reported twice, as a driver may), "clear on log" (a log line clears the list),
    // "next beacon on cycle end" (as continuous mode does), "tick" (the clock moves on), and
    // "cycle end" (waits for it).
    void play(const QStringList &steps)
    {
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            if (words[0] == "nodes") {
                for (const QString &id : words.mid(1))
                    network.nodeFor(uint8_t(id.toInt()));
            } else if (words[0] == "beacon") {
                network.sendBeacon(words[1].toInt(), words[2].toInt(),
                                   words[3].toUInt(nullptr, 16));
            } else if (words[0] == "rx") {
                receive(words[1].toLongLong(), QByteArray::fromHex(words[2].toLatin1()));
            } else if (words[0] == "down" || words[0] == "up") {
                driver->setLink(words[0] == "up", "cable pulled");
                driver->setLink(words[0] == "up", "again");
            } else if (step == "clear on log") {
                QObject::connect(&network, &TalvenNetwork::error, &network,
                                 &TalvenNetwork::clearNodes);
            } else if (step == "next beacon on cycle end") {
                QObject::connect(&network, &TalvenNetwork::cycleFinished, &network,
                                 [this] { network.sendBeacon(60000, 50, 0xFFFF); });
            } else if (step == "tick") {
                // An accepted second beacon could not be told by its time otherwise.
                const int beaconTime = network.beaconTime();
                QVERIFY(QTest::qWaitFor([&] { return now() != beaconTime; }, 5000));
            } else {
                QCOMPARE(step, "cycle end");
                QTRY_VERIFY_WITH_TIMEOUT(log.contains("<cycle finished>"), 10000);
            }
        }
    }

    // Reception `offset` ms after the last beacon, in the engine's unsigned time base.
    void receive(qint64 offset, const QByteArray &frame)
    {
        driver->deliver(uint32_t(network.beaconTime() + offset), frame);
    }

    TalvenNetwork network;
    RecordingDriver *driver;
    QStringList log;
};

QString rx(qint64 offset, const QByteArray &frame)
{
    return QStringLiteral("rx %1 %2").arg(offset).arg(QString::fromLatin1(frame.toHex()));
}

} // namespace

class TestTalvenNetwork : public QObject
{
    Q_OBJECT

private slots:
    // The cycle starts with beaconSend, before the beacon goes out; a negative interval is sent
    // as 0 and the cycle still ends.
    void beaconBytes()
    {
        Bench bench;
        int sentBeforeSignal = -1;
        connect(&bench.network, &TalvenNetwork::beaconSend, this,
                [&] { sentBeforeSignal = bench.driver->transmitted.size(); });
        bench.network.sendBeacon(-5, 50, 0x11);

        QCOMPARE(sentBeforeSignal, 0);
        QCOMPARE(bench.driver->transmitted.size(), 1);
        const QByteArray beacon = bench.driver->transmitted.first();
        QCOMPARE(beacon.left(6) + beacon.mid(10), bytes("c7c7c7c7 0c 00  000000 3200 1100"));
        QCOMPARE(bench.network.beaconTime(), int(talven::Beacon(frameOver(beacon)).networkTime()));
        QTRY_VERIFY_WITH_TIMEOUT(bench.log.contains("<cycle finished>"), 10000);
    }

    // Steps as Bench::play() takes them, then the log and the records.
    void script_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QString>("records");

        const QString early("Received MPDU from sensor 3 to early: %1 ms (Should be between 200 "
                            "and 250 ms)");
        const QString late("Received MPDU from sensor 3 to late: %1 ms (Should be between 200 "
                           "and 250 ms)");
        const QString invalid("Invalid data for %1 from node 5 [%2]");
        const QString silent("No MPDU as a response to the beacon from %1");
        const QString node3("3 answered%1, delay %2, %3 errors, joystick 1, (0, 0, 0)");
        const QString node5("5 answered in slot, delay 300, %1 errors, joystick 1, (0, 0, 0)");
        const QString beacon = "beacon 60000 50 0";
        const QStringList judged{"<beacon>", "<mpdu 3>"};
        const auto row = [](const char *name, const QStringList &steps, const QStringList &log,
                            const QString &records) {
            QTest::newRow(name) << steps << log << records;
        };

        row("echo of a beacon", {beacon, rx(100, kBeacon)},
            {"<beacon>",
             "Received Beacon frame: c7 c7 c7 c7 0c 00 02 01 00 00 e8 03 00 1e 00 11 00 "},
            "");
        row("one byte short of a type", {beacon, rx(100, bytes("e2e2e2e2 00"))},
            {"<beacon>", "Received invalid frame: e2 e2 e2 e2 00 "}, "");
        // The invalid SV group would cost an error if the MPDU were decoded.
        row("MPDU of a new node outside any cycle", {rx(500, mpdu(9, 1, "0a 0102"))},
            {"Received MPDU from sensor 9 outside any cycle!"},
            "9 silent, delay 0, 0 errors, joystick 1, (0, 0, 0)");
        row("slot over 16 bits judged in full", {"beacon 60000 70000 0", rx(70000, mpdu(0, 0))},
            {"<beacon>", "<mpdu 0>"},
            "0 answered in slot, delay 4464, 0 errors, joystick 1, (0, 0, 0)");

        row("lower bound is inside", {beacon, rx(200, mpdu(3, 0))}, judged,
            node3.arg(" in slot", "200", "0"));
        row("upper bound is inside", {beacon, rx(250, mpdu(3, 0))}, judged,
            node3.arg(" in slot", "250", "0"));
        row("one ms early", {beacon, rx(199, mpdu(3, 0))}, {"<beacon>", early.arg(199), "<mpdu 3>"},
            node3.arg("", "199", "1"));
        row("one ms late", {beacon, rx(251, mpdu(3, 0))}, {"<beacon>", late.arg(251), "<mpdu 3>"},
            node3.arg("", "251", "1"));
        row("stamped 5 ms before the beacon wraps around", {beacon, rx(-5, mpdu(3, 0))},
            {"<beacon>", late.arg(4294967291u), "<mpdu 3>"}, node3.arg("", "-5", "1"));
        // 100 ms is node 0's upper bound with the first beacon's slots, but late with the second's.
        row("no second beacon while a cycle runs",
            {"beacon 60000 50 ffff", "tick", "beacon 60000 10 1", rx(100, mpdu(0, 0))},
            {"<beacon>", "<mpdu 0>"},
            "0 answered in slot, delay 100, 0 errors, joystick 1, (0, 0, 0)");

        row("accelerometer one byte over", {beacon, rx(300, mpdu(5, 1, "17 01020304050607"))},
            {"<beacon>", invalid.arg("SV group 2", "01020304050607"), "<mpdu 5>"}, node5.arg(1));
        row("six bytes of another group", {beacon, rx(300, mpdu(5, 1, "1e e803 18fc 0000"))},
            {"<beacon>", invalid.arg("SV group 3", "e80318fc0000"), "<mpdu 5>"}, node5.arg(1));
        row("empty SV group 15 of node 127", {beacon, rx(6400, mpdu(127, 1, "78"))},
            {"<beacon>", "Invalid data for SV group 15 from node 127 []", "<mpdu 127>"},
            "127 answered in slot, delay 6400, 1 errors, joystick 1, (0, 0, 0)");
        row("joystick with two bytes", {beacon, rx(300, mpdu(5, 1, "c2 0405"))},
            {"<beacon>", invalid.arg("Event 8", "0405"), "<mpdu 5>"}, node5.arg(1));
        row("joystick without a byte", {beacon, rx(300, mpdu(5, 1, "c0"))},
            {"<beacon>", invalid.arg("Event 8", ""), "<mpdu 5>"}, node5.arg(1));
        row("every bad ePDU is charged", {beacon, rx(300, mpdu(5, 3, "c1 02  09 ab  c9 cd"))},
            {"<beacon>", invalid.arg("SV group 1", "ab"), invalid.arg("Event 9", "cd"), "<mpdu 5>"},
            "5 answered in slot, delay 300, 2 errors, joystick 2, (0, 0, 0)");

        // Silent nodes are charged and reported by ascending id, then the cycle is over.
        const QString charged("%1 silent, delay 0, 1 errors, joystick 1, (0, 0, 0)");
        row("cycle end", {"nodes 12 3 7 0", "beacon 80 10 0", rx(40, mpdu(3, 0)), "cycle end"},
            {"<beacon>", "<mpdu 3>", silent.arg(0), silent.arg(7), silent.arg(12),
             "<cycle finished>"},
            QStringList({charged.arg(0),
                         "3 answered in slot, delay 40, 0 errors, joystick 1, (0, 0, 0)",
                         charged.arg(7), charged.arg(12)})
                    .join("; "));
        // A second MPDU is judged again but never clears the in-slot mark; the next beacon keeps
        // only counts and decoded values.
        row("a node across cycles",
            {"beacon 30 50 ffff", rx(100, mpdu(1, 3, "16 e803 18fc 0000  c1 04  00")),
             rx(200, mpdu(1, 0)), "next beacon on cycle end", "cycle end"},
            {"<beacon>", "Invalid data for SV group 0 from node 1 []", "<mpdu 1>",
             "Received MPDU from sensor 1 to late: 200 ms (Should be between 100 and 150 ms)",
             "<mpdu 1>", "<cycle finished>", "<beacon>"},
            "1 silent, delay -1, 2 errors, joystick 4, (1000, -1000, 0)");

        // A lost link is said once and blames no node for a cycle it spoiled; once it is back,
        // silent nodes count again.
        const QString lost = "Lost connection to Recording test link: cable pulled";
        const QString back = "Connection to Recording test link restored";
        const QString nobody = "link down; 3 silent, delay 0, 0 errors, joystick 1, (0, 0, 0)";
        row("link lost during a cycle", {"nodes 3", "beacon 50 10 0", "down", "cycle end"},
            {"<beacon>", lost, "<link down>", "<cycle finished>"}, nobody);
        row("link lost before the beacon", {"nodes 3", "down", "beacon 50 10 0", "cycle end"},
            {lost, "<link down>", "<beacon>", "<cycle finished>"}, nobody);
        row("link back within the cycle", {"nodes 3", "beacon 50 10 0", "down", "up", "cycle end"},
            {"<beacon>", lost, "<link down>", back, "<link up>", "<cycle finished>"},
            nobody.mid(11));
        row("link back before the beacon", {"nodes 3", "down", "up", "beacon 50 10 0", "cycle end"},
            {lost, "<link down>", back, "<link up>", "<beacon>", silent.arg(3), "<cycle finished>"},
            "3 silent, delay 0, 1 errors, joystick 1, (0, 0, 0)");

        // Clearing the list from a log line must not leave the engine writing to a deleted record.
        const QStringList clearing{"nodes 3 4", "clear on log", beacon};
        row("cleared on an early MPDU, then an accelerometer sample",
            clearing + QStringList{rx(10, mpdu(3, 1, "16 e803 18fc 0000"))},
            {"<beacon>", early.arg(10), "<mpdu 3>"}, "");
        row("cleared on an early MPDU, then a joystick",
            clearing + QStringList{rx(10, mpdu(3, 1, "c1 04"))},
            {"<beacon>", early.arg(10), "<mpdu 3>"}, "");
        row("cleared on a bad joystick, then a format error",
            clearing + QStringList{rx(200, mpdu(3, 2, "c0"))},
            {"<beacon>", "Invalid data for Event 8 from node 3 []", "<mpdu 3>"}, "");
        row("cleared on silent nodes at the cycle end",
            {"nodes 3 4", "clear on log", "beacon 30 50 0", "cycle end"},
            {"<beacon>", silent.arg(3), "<cycle finished>"}, "");
    }

    void script()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, log);
        QFETCH(QString, records);

        Bench bench;
        bench.play(steps);
        QCOMPARE(bench.log, log);
        QCOMPARE(::records(bench.network), records);
    }

    // Whenever a driver goes, its handler goes first: a driver may read its link while it closes,
    // and that must not reach the engine.
    void driverLifecycle()
    {
        RecordingDriver::Probe first, last;
        auto bench = std::make_unique<Bench>(&first);
        QSignalSpy lines(&bench->network, &TalvenNetwork::error);
        QSignalSpy received(&bench->network, &TalvenNetwork::receivedMpdu);
        bench->driver->frameOnDestruction = mpdu(9, 0);
        bench->network.setNetworkInterfaceDriver(bench->driver);
        QVERIFY(!first.destroyed);
        bench->network.setNetworkInterfaceDriver(nullptr);
        QVERIFY(first.destroyed);
        bench->network.sendBeacon(60000, 50, 0);

        auto *driver = new RecordingDriver(&last);
        bench->network.setNetworkInterfaceDriver(driver);
        QVERIFY(driver->deliver(0, QByteArray()));
        driver->frameOnDestruction = mpdu(2, 1, "c1 04");
        bench.reset();

        QVERIFY(last.destroyed);
        QCOMPARE(lines.count(), 1); // the empty frame handed over on purpose
        QCOMPARE(received.count(), 0);
    }

    // The handler takes whatever a driver hands over, even a length without bytes, and decodes the
    // driver's own bytes: a change made while it reports an ePDU reaches the next one.
    void handlerTakesTheDriversBytes()
    {
        Bench bench;
        bench.driver->deliver(123, nullptr, 0);
        bench.driver->deliver(123, nullptr, 7);
        QCOMPARE(bench.log, QStringList({"Received invalid frame: ", "Received invalid frame: "}));

        bench.network.sendBeacon(60000, 50, 0);
        QByteArray frame = mpdu(5, 2, "c0  c1 04");
        connect(&bench.network, &TalvenNetwork::error, this, [&] { frame[frame.size() - 1] = 9; });
        bench.receive(300, frame);
        QCOMPARE(bench.network.nodes().first()->joystick, 9u);
    }

    // The only row as the table shows it (value and colour per column), then the timeline marks.
    void nodeRow_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expected");

        const QString beacon = "beacon 60000 50 ffff";
        const auto row = [](const char *name, const QStringList &steps, const char *expected) {
            QTest::newRow(name) << steps << QString(expected);
        };
        row("first seen outside a cycle", {rx(0, mpdu(3, 0))},
            "3 red | - red | 0 green | 1 none | 0 0 0 none");
        row("pending right after the beacon", {"nodes 3", beacon},
            "3 gray | pending... gray | 0 gray | 1 none | 0 0 0 none");
        row("silent for a whole cycle", {"nodes 3", "beacon 60 50 ffff", "cycle end"},
            "3 red | - red | 1 red | 1 none | 0 0 0 none");
        row("in its slot with a good and a bad payload",
            {beacon, rx(200, mpdu(3, 3, "16 e803 18fc 0000  c1 04  c0"))},
            "3 green | 200 ms green | 1 red | 4 none | 1000 -1000 0 none | 3 green 0.09375");
        row("late", {beacon, rx(300, mpdu(3, 0))},
            "3 red | 300 ms red | 1 red | 1 none | 0 0 0 none | 3 red 0.15625");
        row("so late that the delay reads as pending", {beacon, rx(40000, mpdu(3, 0))},
            "3 gray | pending... gray | 1 gray | 1 none | 0 0 0 none | 3 red -15.99125");
        row("node 31 at its upper bound is the right end", {beacon, rx(1650, mpdu(31, 0))},
            "31 green | 1650 ms green | 0 green | 1 none | 0 0 0 none | 31 green 1");
        row("inside the beacon's slot lies left of the axis", {beacon, rx(25, mpdu(0, 0))},
            "0 red | 25 ms red | 1 red | 1 none | 0 0 0 none | 0 red -0.015625");
    }

    void nodeRow()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);

        Bench bench;
        bench.play(steps);
        QCOMPARE(bench.network.rowCount(), 1);
        QStringList cells;
        for (int column = 0; column < 5; ++column) {
            const QModelIndex index = bench.network.index(0, column);
            const QVariant value = bench.network.data(index);
            const QVector3D xyz = value.value<QVector3D>();
            cells << QStringLiteral("%1 %2").arg(
                    column == 4 ? QString::asprintf("%g %g %g", xyz.x(), xyz.y(), xyz.z())
                                : value.toString(),
                    colorName(bench.network.data(index, Qt::ForegroundRole)));
        }
        for (const QEventTimeslotWidgetEvent &mark : bench.network.events())
            cells << QStringLiteral("%1 %2 %3")
                             .arg(mark.label, colorName(mark.color),
                                  QString::number(mark.position, 'g', 10));
        QCOMPARE(cells.join(" | "), expected);
    }

    void rowChangesResetTheModel()
    {
        TalvenNetwork network;
        QAbstractItemModelTester tester(&network,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&network, &QAbstractItemModel::modelReset);
        network.nodeFor(9);
        network.nodeFor(2);
        network.nodeFor(9);
        QCOMPARE(resets.count(), 2);
        // An index kept from before the list was cleared points at no row any more.
        const QModelIndex kept = network.index(1, 0);

        network.clearNodes();

        QCOMPARE(resets.count(), 3);
        QCOMPARE(network.rowCount(), 0);
        QVERIFY(!network.data(kept).isValid());
    }
};

QTEST_GUILESS_MAIN(TestTalvenNetwork)
#include "tst_talvennetwork.moc"
