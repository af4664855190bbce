#include "app/mainwindow.h"
#include "support/recordingdriver.h"
#include "widgets/marlonodetableview.h"
#include "widgets/qeventtimeslotwidget.h"
#include "widgets/qeventtimeslotwidgetdatasource.h"
#include "widgets/qledwidget.h"

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
        nextBeacon = window.findChild<QSpinBox *>("nextBeaconSpinBox");
        slotDuration = window.findChild<QSpinBox *>("slotDurationSpinBox");
        console = window.findChild<QTextBrowser *>();
        table = window.findChild<MarloNodeTableView *>();
        timeline = window.findChild<QEventTimeslotWidget *>();
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

    QMenu *svGroupsMenu() const
    {
        for (QMenu *menu : window.findChildren<QMenu *>()) {
            if (menu->actions().size() == 16)
                return menu;
        }
        return nullptr;
    }

    QString lastConsoleLine() const { return console->toPlainText().split('\n').last(); }

    // Short cycles keep the tests quick: 330 ms, ten 10 ms slots.
    void shortCycles()
    {
        nextBeacon->setValue(330);
        slotDuration->setValue(10);
    }

    MainWindow window;
    RecordingDriver *driver = new RecordingDriver;
    QSpinBox *nextBeacon = nullptr;
    QSpinBox *slotDuration = nullptr;
    QTextBrowser *console = nullptr;
    MarloNodeTableView *table = nullptr;
    QEventTimeslotWidget *timeline = nullptr;
    QLedWidget *beaconLed = nullptr;
    QLedWidget *mpduLed = nullptr;
};

quint32 littleEndian(const QByteArray &bytes, int offset, int count)
{
    quint32 value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | quint8(bytes[offset + i]);
    return value;
}

QByteArray mpduOfNode(int id)
{
    QByteArray frame = QByteArray::fromHex("e2e2e2e2 04 00 01 c1 04");
    frame[5] = char(0x80 | id);
    return frame;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void startsDisabledAndIsEnabledByTheDriver()
    {
        MainWindow window;
        QVERIFY(!window.isEnabled());
        QVERIFY(window.minimumWidth() >= 800);
        QVERIFY(window.minimumHeight() >= 400);
        QVERIFY(window.windowTitle().isEmpty());

        window.setNetworkInterfaceDriver(new RecordingDriver);
        QVERIFY(window.isEnabled());
        QCOMPARE(window.windowTitle(),
                 QCoreApplication::applicationName() + " - Recording test link");
    }

    void defaults()
    {
        Bench bench;
        QCOMPARE(bench.nextBeacon->value(), 2013);
        QCOMPARE(bench.slotDuration->value(), 50);
        QCOMPARE(bench.slotDuration->maximum(), 61);
        QVERIFY(bench.action("Send Single Beacon")->isEnabled());
        QVERIFY(!bench.action("Send Beacons continuously")->isChecked());
        QCOMPARE(bench.beaconLed->color(), QColor(Qt::red));
        QCOMPARE(bench.mpduLed->color(), QColor(Qt::green));
        QCOMPARE(bench.table->model()->columnCount(), 5);
        QVERIFY(bench.timeline->datasource());
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
        QTest::newRow("long interval keeps the slot") << "6600" << 6600 << 200 << 50;
        QTest::newRow("32740 ends at the maximum") << "32740" << 32768 << 992 << 50;
        QTest::newRow("the maximum stays") << "32768" << 32768 << 992 << 50;
    }

    void intervalCorrection()
    {
        QFETCH(QString, typed);
        QFETCH(int, interval);
        QFETCH(int, slotMaximum);
        QFETCH(int, slot);
        Bench bench;
        bench.nextBeacon->selectAll();
        QTest::keyClicks(bench.nextBeacon, typed);
        QTest::keyClick(bench.nextBeacon, Qt::Key_Return);
        QCOMPARE(bench.nextBeacon->value(), interval);
        QCOMPARE(bench.slotDuration->maximum(), slotMaximum);
        QCOMPARE(bench.slotDuration->value(), slot);
    }

    void arrowsDoNotCorrect()
    {
        Bench bench;
        bench.nextBeacon->stepBy(-51);
        QCOMPARE(bench.nextBeacon->value(), 330);
        QCOMPARE(bench.slotDuration->maximum(), 61);
        QCOMPARE(bench.slotDuration->value(), 50);
    }

    void beaconCarriesTheControls_data()
    {
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<quint32>("mask");
        QList<int> all;
        for (int group = 0; group < 16; ++group)
            all << group;
        QTest::newRow("every group") << all << 65535u;
        QTest::newRow("first and last") << QList<int>{0, 15} << 32769u;
        QTest::newRow("group 2 alone") << QList<int>{2} << 4u;
        QTest::newRow("none") << QList<int>() << 0u;
    }

    void beaconCarriesTheControls()
    {
        QFETCH(QList<int>, checked);
        QFETCH(quint32, mask);
        Bench bench;
        const auto entries = bench.svGroupsMenu()->actions();
        for (int group = 0; group < 16; ++group) {
            QCOMPARE(entries[group]->text(), QString("SV Group %1").arg(group));
            entries[group]->setChecked(checked.contains(group));
        }
        bench.nextBeacon->setValue(990);
        bench.slotDuration->setValue(30);

        bench.action("Send Single Beacon")->trigger();
        QCOMPARE(bench.driver->transmitted.size(), 1);
        const QByteArray beacon = bench.driver->transmitted.first();
        QCOMPARE(littleEndian(beacon, 10, 3), 990u);
        QCOMPARE(littleEndian(beacon, 13, 2), 30u);
        QCOMPARE(littleEndian(beacon, 15, 2), mask);
    }

    void beaconStartsCursorAndLamp()
    {
        Bench bench;
        bench.slotDuration->setValue(20);
        bench.action("Send Single Beacon")->trigger();
        QVERIFY(!bench.action("Send Single Beacon")->isEnabled());
        QCOMPARE(bench.timeline->totalTime(), 32 * 20);
        QVERIFY(bench.beaconLed->value());
        QVERIFY(!bench.mpduLed->value());

        bench.driver->deliver(QTime::currentTime().msecsSinceStartOfDay(), mpduOfNode(3));
        QVERIFY(bench.mpduLed->value());
        QCOMPARE(bench.table->model()->rowCount(), 1);
        QTRY_VERIFY(!bench.mpduLed->value()); // the 50 ms flash ends
    }

    void spaceRequestsABeacon_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("beacons");
        QTest::newRow("space") << int(Qt::Key_Space) << int(Qt::NoModifier) << 1;
        QTest::newRow("shift+space") << int(Qt::Key_Space) << int(Qt::ShiftModifier) << 1;
        QTest::newRow("ctrl+alt+space")
                << int(Qt::Key_Space) << int(Qt::ControlModifier | Qt::AltModifier) << 1;
        QTest::newRow("return") << int(Qt::Key_Return) << int(Qt::NoModifier) << 0;
        QTest::newRow("letter b") << int(Qt::Key_B) << int(Qt::NoModifier) << 0;
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

    void spaceDuringACycleIsRefused()
    {
        Bench bench;
        QTest::keyClick(&bench.window, Qt::Key_Space);
        QTest::keyClick(&bench.window, Qt::Key_Space);
        QCOMPARE(bench.driver->transmitted.size(), 1);
    }

    void continuousBeacons()
    {
        Bench bench;
        bench.shortCycles();
        QAction *single = bench.action("Send Single Beacon");
        QAction *continuous = bench.action("Send Beacons continuously");

        continuous->setChecked(true);
        QCOMPARE(bench.driver->transmitted.size(), 1);
        QVERIFY(!single->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(bench.driver->transmitted.size() >= 3, 10000);
        QVERIFY(!single->isEnabled());

        continuous->setChecked(false);
        const int sent = bench.driver->transmitted.size();
        QVERIFY(!single->isEnabled()); // the running cycle goes on
        QTRY_VERIFY_WITH_TIMEOUT(single->isEnabled(), 5000);
        QCOMPARE(bench.driver->transmitted.size(), sent);
    }

    void continuousWaitsForTheRunningCycle()
    {
        Bench bench;
        bench.shortCycles();
        bench.action("Send Single Beacon")->trigger();
        bench.action("Send Beacons continuously")->setChecked(true);
        QCOMPARE(bench.driver->transmitted.size(), 1); // refused: a cycle runs
        QTRY_COMPARE_WITH_TIMEOUT(bench.driver->transmitted.size(), 2, 5000);
        bench.action("Send Beacons continuously")->setChecked(false);
    }

    void logLineBeforeTheFirstBeacon()
    {
        Bench bench;
        bench.driver->deliver(1234, QByteArray::fromHex("0102"));
        QCOMPARE(bench.lastConsoleLine(), "[ERROR 00:00:00.000] Received invalid frame: 01 02 ");
    }

    void logLinesCarryTheBeaconTime()
    {
        Bench bench;
        bench.shortCycles();
        bench.driver->deliver(0, mpduOfNode(6)); // outside any cycle: creates the record
        bench.action("Send Single Beacon")->trigger();
        const quint32 beaconTime = littleEndian(bench.driver->transmitted.first(), 6, 4);
        const QString stamp
                = QTime::fromMSecsSinceStartOfDay(int(beaconTime)).toString("hh:mm:ss.zzz");

        bench.driver->deliver(beaconTime + 3, bench.driver->transmitted.first());
        QCOMPARE(bench.lastConsoleLine(),
                 QString("[ERROR %1] Received Beacon frame: %2")
                         .arg(stamp, QString(bench.driver->transmitted.first().toHex(' ')) + ' '));

        QTRY_VERIFY_WITH_TIMEOUT(bench.action("Send Single Beacon")->isEnabled(), 5000);
        QCOMPARE(bench.lastConsoleLine(),
                 QString("[ERROR %1] No MPDU as a response to the beacon from 6").arg(stamp));
    }

    void clearActions()
    {
        Bench bench;
        bench.shortCycles();
        bench.action("Send Single Beacon")->trigger();
        const quint32 beaconTime = littleEndian(bench.driver->transmitted.first(), 6, 4);
        bench.driver->deliver(beaconTime + 25, mpduOfNode(1));
        bench.driver->deliver(beaconTime + 1, mpduOfNode(2)); // early: one line
        QCOMPARE(bench.table->model()->rowCount(), 2);
        QCOMPARE(bench.timeline->datasource()->events().size(), 2);
        const QString log = bench.console->toPlainText();
        QVERIFY(!log.isEmpty());

        bench.action("Clear nodes list")->trigger();
        QCOMPARE(bench.table->model()->rowCount(), 0);
        QVERIFY(bench.timeline->datasource()->events().isEmpty());
        QCOMPARE(bench.console->toPlainText(), log);

        bench.driver->deliver(beaconTime + 25, mpduOfNode(1));
        bench.action("Clear Console")->trigger();
        QVERIFY(bench.console->toPlainText().isEmpty());
        QCOMPARE(bench.table->model()->rowCount(), 1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
