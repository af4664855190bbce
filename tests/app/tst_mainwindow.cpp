#include "app/mainwindow.h"
#include "support/frames.h"
#include "support/recordingdriver.h"
#include "widgets/marlonodetableview.h"
#include "widgets/qeventtimeslotwidget.h"
#include "widgets/qeventtimeslotwidgetdatasource.h"
#include "widgets/qledwidget.h"
#include "widgets/widgettesthelpers.h"

#include <QMenu>
#include <QSpinBox>
#include <QTextBrowser>
#include <QtTest>

namespace {

// The window and the parts of it a test looks at. The driver belongs to the window's engine.
struct Bench
{
    Bench() { window.setNetworkInterfaceDriver(driver); }

    QAction *action(const QString &text) const
    {
        for (QAction *candidate : window.findChildren<QAction *>()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }

    // Repaints reach only a window on the screen.
    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    QString lastConsoleLine() const { return console->toPlainText().split('\n').last(); }

    // Short cycles keep the tests quick: 330 ms, ten 10 ms slots.
    void shortCycles()
    {
        nextBeacon->setValue(330);
        slotDuration->setValue(10);
    }

    talven::Beacon sentBeacon() const { return talven::Beacon(frameOver(driver->transmitted[0])); }

    MainWindow window;
    RecordingDriver *driver = new RecordingDriver;
    QSpinBox *nextBeacon = window.findChild<QSpinBox *>("nextBeaconSpinBox");
    QSpinBox *slotDuration = window.findChild<QSpinBox *>("slotDurationSpinBox");
    QTextBrowser *console = window.findChild<QTextBrowser *>();
    MarloNodeTableView *table = window.findChild<MarloNodeTableView *>();
    QEventTimeslotWidget *timeline = window.findChild<QEventTimeslotWidget *>();
    QAction *single = action("Send Single Beacon");
    QAction *continuous = action("Send Beacons continuously");
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // A typed interval is corrected to a whole number of 33rds when the typing ends, and bounds
    // the slot duration. Space, whatever the modifiers, then requests the beacon that the controls
    // describe; Return does not.
    void controlsMakeTheBeacon_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("slotMaximum");
        QTest::addColumn<int>("slot");
        QTest::newRow("a multiple of 33 stays") << "660" << 660 << 20 << 20;
        QTest::newRow("one above a multiple rounds up") << "661" << 693 << 21 << 21;
        QTest::newRow("long interval keeps the slot of 50") << "6600" << 6600 << 200 << 50;
        QTest::newRow("32740 ends at the maximum") << "32740" << 32768 << 992 << 50;
        QTest::newRow("arrows do not correct") << "" << 330 << 61 << 50;
    }

    void controlsMakeTheBeacon()
    {
        QFETCH(QString, typed);
        QFETCH(int, interval);
        QFETCH(int, slotMaximum);
        QFETCH(int, slot);
        Bench bench;
        for (QAction *entry : bench.window.findChild<QMenu *>()->actions())
            entry->setChecked(entry->text() == "SV Group 0" || entry->text() == "SV Group 15");
        if (typed.isEmpty()) {
            bench.nextBeacon->stepBy(-51);
        } else {
            bench.nextBeacon->selectAll();
            QTest::keyClicks(bench.nextBeacon, typed);
            QTest::keyClick(bench.nextBeacon, Qt::Key_Return);
        }
        QCOMPARE(bench.nextBeacon->value(), interval);
        QCOMPARE(bench.slotDuration->maximum(), slotMaximum);
        QCOMPARE(bench.slotDuration->value(), slot);

        QTest::keyClick(&bench.window, Qt::Key_Return);
        QCOMPARE(bench.driver->transmitted.size(), 0);
        QTest::keyClick(&bench.window, Qt::Key_Space, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(bench.driver->transmitted.size(), 1);
        QCOMPARE(int(bench.sentBeacon().cycleInterval()), interval);
        QCOMPARE(int(bench.sentBeacon().slotDuration()), slot);
        QCOMPARE(int(bench.sentBeacon().svGroupMask()), 0x8001);
    }

    // The beacon starts the cursor and flashes the red lamp. An MPDU, also one of a node whose row
    // is there already, repaints table and timeline at once and flashes the green lamp.
    // Then the two clearing actions.
    void cycleShowsAtOnce()
    {
        Bench bench;
        QVERIFY(bench.show());
        bench.slotDuration->setValue(20);
        const auto leds = bench.window.findChildren<QLedWidget *>();
        bench.driver->deliver(0, mpdu(0, 0)); // outside any cycle: only makes node 0's row
        QTRY_VERIFY(!leds[1]->value());
        bench.single->trigger();
        QVERIFY(!bench.single->isEnabled());
        QCOMPARE(bench.timeline->totalTime(), 32 * 20);
        QVERIFY(leds[0]->value());

        PaintCounter timelinePaints(bench.timeline);
        PaintCounter tablePaints(bench.table->viewport());
        bench.driver->deliver(bench.sentBeacon().networkTime() + 40, mpdu(0, 0));
        QCOMPARE(timelinePaints.count, 1);
        QCOMPARE(tablePaints.count, 1);
        QVERIFY(leds[1]->value());

        // Node 0 answered at its slot's upper bound, node 1 late: a green badge, then a red one.
        bench.driver->deliver(bench.sentBeacon().networkTime() + 61, mpdu(1, 0));
        const QImage table = bench.table->viewport()->grab().toImage();
        QStringList badges;
        for (int row = 0; row < bench.table->model()->rowCount(); ++row) {
            const QRect cell = bench.table->visualRect(bench.table->model()->index(row, 0));
            badges << table.pixelColor(cell.center() - QPoint(0, 10)).name();
        }
        QCOMPARE(badges, (QStringList{QColor(Qt::darkGreen).name(), QColor(Qt::darkRed).name()}));

        // Clearing the nodes repaints the timeline at once and keeps the log, and the other way
        // round.
        const QString log = bench.console->toPlainText();
        QVERIFY(!log.isEmpty());
        PaintCounter clearedPaints(bench.timeline);
        bench.action("Clear nodes list")->trigger();
        QCOMPARE(bench.table->model()->rowCount(), 0);
        QCOMPARE(clearedPaints.count, 1);
        QCOMPARE(bench.console->toPlainText(), log);
        bench.driver->deliver(bench.sentBeacon().networkTime() + 25, mpdu(1, 0));
        bench.action("Clear Console")->trigger();
        QVERIFY(bench.console->toPlainText().isEmpty());
        QCOMPARE(bench.table->model()->rowCount(), 1);
    }

    // A lost link is said once, marked in the title and greys out the beacon commands; nothing
    // goes out meanwhile, not even by Space. When it is back, continuous beacons go on by
    // themselves; switched off, they end with the running cycle.
    void lostLink_data()
    {
        QTest::addColumn<bool>("continuous");
        QTest::newRow("single beacons") << false;
        QTest::newRow("continuous beacons resume") << true;
    }

    void lostLink()
    {
        QFETCH(bool, continuous);
        Bench bench;
        bench.shortCycles();
        const QString title = bench.window.windowTitle();
        bench.continuous->setChecked(continuous);
        if (continuous)
            QTRY_VERIFY_WITH_TIMEOUT(bench.driver->transmitted.size() >= 2, 10000);

        bench.driver->setLink(false, "gone");
        bench.driver->setLink(false, "gone again");
        QCOMPARE(bench.window.windowTitle(), title + " (no link)");
        QVERIFY(!bench.single->isEnabled() && !bench.continuous->isEnabled());
        QVERIFY(bench.console->toPlainText().endsWith(
                "] Lost connection to Recording test link: gone"));
        QTest::qWait(800); // past the end of a running cycle
        const int sent = bench.driver->transmitted.size();
        QTest::keyClick(&bench.window, Qt::Key_Space);
        QTest::qWait(400);
        QCOMPARE(bench.driver->transmitted.size(), sent);
        QVERIFY(!bench.single->isEnabled());

        bench.driver->setLink(true);
        QCOMPARE(bench.window.windowTitle(), title);
        QVERIFY(bench.continuous->isEnabled());
        QCOMPARE(bench.single->isEnabled(), !continuous);
        QCOMPARE(bench.driver->transmitted.size(), sent + (continuous ? 1 : 0));

        bench.continuous->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(bench.single->isEnabled(), 5000);
        QCOMPARE(bench.driver->transmitted.size(), sent + (continuous ? 1 : 0));
    }

    // Every line is stamped with the time of the cycle's beacon (midnight before the first). The
    // cycle's end repaints table and timeline.
    void cycleEnd()
    {
        Bench bench;
        QVERIFY(bench.show());
        bench.nextBeacon->setValue(660);
        bench.slotDuration->setValue(10); // the cursor's 320 ms end long before the cycle
        bench.driver->deliver(1234, bytes("0102"));
        QCOMPARE(bench.lastConsoleLine(), "[ERROR 00:00:00.000] Received invalid frame: 01 02 ");

        bench.driver->deliver(0, mpdu(6, 0)); // outside any cycle: creates the record
        bench.single->trigger();
        const QString stamp = QTime::fromMSecsSinceStartOfDay(int(bench.sentBeacon().networkTime()))
                                      .toString("hh:mm:ss.zzz");
        QTRY_COMPARE(bench.timeline->timerId(), -1);
        PaintCounter timelinePaints(bench.timeline);
        PaintCounter tablePaints(bench.table->viewport());
        QTRY_VERIFY_WITH_TIMEOUT(bench.single->isEnabled(), 5000);
        QCOMPARE(timelinePaints.count, 1);
        QTRY_VERIFY(tablePaints.count > 0);
        QCOMPARE(bench.lastConsoleLine(),
                 QString("[ERROR %1] No MPDU as a response to the beacon from 6").arg(stamp));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
