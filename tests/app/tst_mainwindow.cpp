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
    Bench()
    {
        window.setNetworkInterfaceDriver(driver);
        const auto leds = window.findChildren<QLedWidget *>();
        beaconLed = leds.value(0);
        mpduLed = leds.value(1);
    }

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

    talven::Beacon sentBeacon(int index = 0) const
    {
        return talven::Beacon(frameOver(driver->transmitted.at(index)));
    }

    MainWindow window;
    RecordingDriver *driver = new RecordingDriver;
    QSpinBox *nextBeacon = window.findChild<QSpinBox *>("nextBeaconSpinBox");
    QSpinBox *slotDuration = window.findChild<QSpinBox *>("slotDurationSpinBox");
    QTextBrowser *console = window.findChild<QTextBrowser *>();
    MarloNodeTableView *table = window.findChild<MarloNodeTableView *>();
    QEventTimeslotWidget *timeline = window.findChild<QEventTimeslotWidget *>();
    QLedWidget *beaconLed = nullptr;
    QLedWidget *mpduLed = nullptr;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startsDisabledAndIsEnabledByTheDriver()
    {
        MainWindow window;
        QVERIFY(!window.isEnabled());
        QVERIFY(window.windowTitle().isEmpty());
        window.setNetworkInterfaceDriver(new RecordingDriver);
        QVERIFY(window.isEnabled());
        QCOMPARE(window.windowTitle(),
                 QCoreApplication::applicationName() + " - Recording test link");
    }

    void intervalCorrection_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("slotMaximum");
        QTest::addColumn<int>("slot");
        QTest::newRow("1000 rounds up to 1023") << "1000" << 1023 << 31 << 31;
        QTest::newRow("a multiple of 33 stays") << "660" << 660 << 20 << 20;
        QTest::newRow("one above a multiple") << "661" << 693 << 21 << 21;
        QTest::newRow("long interval keeps the slot of 50") << "6600" << 6600 << 200 << 50;
        QTest::newRow("32740 ends at the maximum") << "32740" << 32768 << 992 << 50;
        QTest::newRow("arrows do not correct") << "" << 330 << 61 << 50;
    }

    void intervalCorrection()
    {
        QFETCH(QString, typed);
        QFETCH(int, interval);
        QFETCH(int, slotMaximum);
        QFETCH(int, slot);
        Bench bench;
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
    }

    void beaconCarriesTheControls_data()
    {
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<quint32>("mask");
        QTest::newRow("first and last") << QList<int>{0, 15} << 32769u;
        QTest::newRow("group 2 alone") << QList<int>{2} << 4u;
    }

    void beaconCarriesTheControls()
    {
        QFETCH(QList<int>, checked);
        QFETCH(quint32, mask);
        Bench bench;
        for (QMenu *menu : bench.window.findChildren<QMenu *>()) {
            for (QAction *entry : menu->actions()) {
                if (entry->text().startsWith("SV Group "))
                    entry->setChecked(checked.contains(entry->text().mid(9).toInt()));
            }
        }
        bench.nextBeacon->setValue(990);
        bench.slotDuration->setValue(30);
        bench.action("Send Single Beacon")->trigger();
        QCOMPARE(bench.driver->transmitted.size(), 1);
        QCOMPARE(bench.sentBeacon().cycleInterval(), 990u);
        QCOMPARE(int(bench.sentBeacon().slotDuration()), 30);
        QCOMPARE(quint32(bench.sentBeacon().svGroupMask()), mask);
    }

    // The beacon starts the cursor and flashes the red lamp; an MPDU refreshes table and
    // timeline at once and flashes the green lamp.
    void cycleShowsAtOnce()
    {
        Bench bench;
        QVERIFY(bench.show());
        bench.slotDuration->setValue(20);
        QCOMPARE(bench.beaconLed->color(), QColor(Qt::red));
        QCOMPARE(bench.mpduLed->color(), QColor(Qt::green));
        bench.action("Send Single Beacon")->trigger();
        QVERIFY(!bench.action("Send Single Beacon")->isEnabled());
        QCOMPARE(bench.timeline->totalTime(), 32 * 20);
        QVERIFY(bench.beaconLed->value());
        QVERIFY(!bench.mpduLed->value());

        PaintCounter timelinePaints(bench.timeline);
        bench.driver->deliver(bench.sentBeacon().networkTime() + 40, mpdu(0, 0));
        QCOMPARE(timelinePaints.count, 1);
        QVERIFY(bench.mpduLed->value());
        QTRY_VERIFY(!bench.mpduLed->value()); // the 50 ms flash ends

        // Node 0 answered at its slot's upper bound, node 1 late: a green badge, then a red one.
        bench.driver->deliver(bench.sentBeacon().networkTime() + 61, mpdu(1, 0));
        const QImage table = bench.table->viewport()->grab().toImage();
        QStringList badges;
        for (int row = 0; row < bench.table->model()->rowCount(); ++row) {
            const QRect cell = bench.table->visualRect(bench.table->model()->index(row, 0));
            badges << table.pixelColor(cell.center() - QPoint(0, 10)).name();
        }
        QCOMPARE(badges, (QStringList{QColor(Qt::darkGreen).name(), QColor(Qt::darkRed).name()}));
    }

    void spaceRequestsABeacon_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("beacons");
        QTest::newRow("space") << int(Qt::Key_Space) << int(Qt::NoModifier) << 1;
        QTest::newRow("ctrl+alt+space")
                << int(Qt::Key_Space) << int(Qt::ControlModifier | Qt::AltModifier) << 1;
        QTest::newRow("return") << int(Qt::Key_Return) << int(Qt::NoModifier) << 0;
    }

    void spaceRequestsABeacon()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, beacons);
        Bench bench;
        QTest::keyClick(&bench.window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(bench.driver->transmitted.size(), beacons);
    }

    void continuousBeacons()
    {
        Bench bench;
        bench.shortCycles();
        QAction *single = bench.action("Send Single Beacon");
        QAction *continuous = bench.action("Send Beacons continuously");

        continuous->setChecked(true);
        QCOMPARE(bench.driver->transmitted.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(bench.driver->transmitted.size() >= 3, 10000);
        QVERIFY(!single->isEnabled());

        continuous->setChecked(false);
        const int sent = bench.driver->transmitted.size();
        QVERIFY(!single->isEnabled()); // the running cycle goes on
        QTRY_VERIFY_WITH_TIMEOUT(single->isEnabled(), 5000);
        QCOMPARE(bench.driver->transmitted.size(), sent);
    }

    // A lost link is said once, marked in the title and greys out the beacon commands; nothing
    // goes out meanwhile, not even by Space. When it is back, continuous beacons go on by
    // themselves.
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
        QAction *single = bench.action("Send Single Beacon");
        QAction *continuousAction = bench.action("Send Beacons continuously");
        const QString title = bench.window.windowTitle();
        continuousAction->setChecked(continuous);

        bench.driver->setLink(false, "gone");
        bench.driver->setLink(false, "gone again");
        QCOMPARE(bench.window.windowTitle(), title + " (no link)");
        QVERIFY(!single->isEnabled() && !continuousAction->isEnabled());
        QVERIFY(bench.console->toPlainText().endsWith(
                "] Lost connection to Recording test link: gone"));
        QTest::qWait(800); // past the end of a running cycle
        const int sent = bench.driver->transmitted.size();
        QTest::keyClick(&bench.window, Qt::Key_Space);
        QTest::qWait(400);
        QCOMPARE(bench.driver->transmitted.size(), sent);
        QVERIFY(!single->isEnabled());

        bench.driver->setLink(true);
        QCOMPARE(bench.window.windowTitle(), title);
        QVERIFY(continuousAction->isEnabled());
        QCOMPARE(single->isEnabled(), !continuous);
        QCOMPARE(bench.driver->transmitted.size(), sent + (continuous ? 1 : 0));
    }

    // Every line is stamped with the time of the cycle's beacon (midnight before the first).
    void logLinesCarryTheBeaconTime()
    {
        Bench bench;
        bench.shortCycles();
        bench.driver->deliver(1234, bytes("0102"));
        QCOMPARE(bench.lastConsoleLine(), "[ERROR 00:00:00.000] Received invalid frame: 01 02 ");

        bench.driver->deliver(0, mpdu(6, 0)); // outside any cycle: creates the record
        bench.action("Send Single Beacon")->trigger();
        const quint32 beaconTime = bench.sentBeacon().networkTime();
        const QString stamp
                = QTime::fromMSecsSinceStartOfDay(int(beaconTime)).toString("hh:mm:ss.zzz");
        QTRY_VERIFY_WITH_TIMEOUT(bench.action("Send Single Beacon")->isEnabled(), 5000);
        QCOMPARE(bench.lastConsoleLine(),
                 QString("[ERROR %1] No MPDU as a response to the beacon from 6").arg(stamp));
    }

    void clearActions()
    {
        Bench bench;
        QVERIFY(bench.show());
        bench.shortCycles();
        bench.action("Send Single Beacon")->trigger();
        const quint32 beaconTime = bench.sentBeacon().networkTime();
        bench.driver->deliver(beaconTime + 25, mpdu(1, 0));
        bench.driver->deliver(beaconTime + 1, mpdu(2, 0)); // early: one line
        QCOMPARE(bench.timeline->datasource()->events().size(), 2);
        const QString log = bench.console->toPlainText();
        QVERIFY(!log.isEmpty());

        PaintCounter timelinePaints(bench.timeline);
        bench.action("Clear nodes list")->trigger();
        QCOMPARE(bench.table->model()->rowCount(), 0);
        QCOMPARE(timelinePaints.count, 1);
        QCOMPARE(bench.console->toPlainText(), log);

        bench.driver->deliver(beaconTime + 25, mpdu(1, 0));
        bench.action("Clear Console")->trigger();
        QVERIFY(bench.console->toPlainText().isEmpty());
        QCOMPARE(bench.table->model()->rowCount(), 1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
