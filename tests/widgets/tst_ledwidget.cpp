#include "widgets/qledwidget.h"
#include "widgettesthelpers.h"

#include <QElapsedTimer>
#include <QTest>

#include <climits>

class TestLedWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useTestLook(); }

    void repaints_data()
    {
        QTest::addColumn<QString>("operations");
        QTest::addColumn<int>("paints"); // at once, before the event loop runs
        QTest::addColumn<bool>("lit");
        QTest::addColumn<int>("paintsAfter"); // once any flash has run out, which puts it out
        QTest::newRow("on twice repaints once") << "on on" << 1 << true << 1;
        QTest::newRow("toggle always repaints") << "toggle toggle" << 2 << false << 2;
        QTest::newRow("new colour twice repaints once") << "red red" << 1 << false << 1;
        QTest::newRow("second flash does not flicker") << "flash flash" << 1 << true << 2;
        QTest::newRow("switched off during a flash") << "flash off" << 2 << false << 2;
        QTest::newRow("toggled off during a flash") << "flash toggle" << 2 << false << 2;
    }
    void repaints()
    {
        QFETCH(QString, operations);
        QFETCH(int, paints);
        QFETCH(bool, lit);
        QFETCH(int, paintsAfter);
        QLedWidget led(nullptr);
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        PaintCounter counter(&led);
        for (const QString &operation : operations.split(' ')) {
            if (operation == "on" || operation == "off")
                led.setValue(operation == "on");
            else if (operation == "toggle")
                led.toggle();
            else if (operation == "red")
                led.setColor(Qt::red);
            else
                led.flash(100);
        }
        QCOMPARE(counter.count, paints);
        QCOMPARE(led.value(), lit);
        for (const auto &timer : timersOf(&led))
            QCOMPARE(timer.timerType, Qt::CoarseTimer);
        QTRY_COMPARE_WITH_TIMEOUT(led.timerId(), -1, 10000);
        QCOMPARE(counter.count, paintsAfter);
        QCOMPARE(led.value(), lit && !operations.contains("flash"));
    }

    void lamp()
    {
        // Contents (20, 10)-(59, 41): the centre is the middle of the first and last pixel, rounded
        // down, the radius (16) half the smaller side; a faint antialiased rim does not count.
        const QRect disc(QPoint(23, 9), QPoint(54, 40));
        const int cx = 39, cy = 25;
        QLedWidget led(nullptr);
        led.setFixedSize(60, 52);
        led.setContentsMargins(20, 10, 0, 10);
        led.setColor(Qt::red);
        const QImage off = led.grab().toImage();
        led.setValue(true);
        const QImage on = led.grab().toImage();
        QCOMPARE(boundsWhere(on, [](QColor c) { return colorDistance(c, kBackground) > 40; }),
                 disc);
        // Lit, the dome is pure red and about twice as bright (its gradient runs from the widget's
        // top, so a low dome is brightened to the full); the ring has half the lamp's brightness.
        QCOMPARE(on.pixelColor(cx, cy).hue(), 0);
        QVERIFY(on.pixelColor(cx, cy).value() > 1.8 * off.pixelColor(cx, cy).value());
        QVERIFY(qAbs(on.pixelColor(cx, disc.top() + 1).red() - 255 / 2) <= 3);
        QVERIFY(qAbs(off.pixelColor(cx, disc.top() + 1).red() - 255 / 3) <= 3); // dark: a third
        // The glare brightens the upper middle of a dark lamp only (same row of the dome gradient).
        QVERIFY(off.pixelColor(cx, cy - 5).value() >= off.pixelColor(cx - 10, cy - 5).value() + 5);
        QVERIFY(colorDistance(on.pixelColor(cx, cy - 5), on.pixelColor(cx - 10, cy - 5)) <= 1);
    }

    void flash_data()
    {
        QTest::addColumn<uint>("duration");
        QTest::addColumn<int>("restartAfter"); // ms before the same flash is given again; 0: never
        QTest::newRow("the window's 50 ms") << 50u << 0;
        QTest::newRow("zero") << 0u << 0;
        QTest::newRow("restarted by a second flash") << 1000u << 300;
        QTest::newRow("longer than a timer interval holds") << uint(INT_MAX) + 1u << 0;
    }
    void flash()
    {
        QFETCH(uint, duration);
        QFETCH(int, restartAfter);
        QLedWidget led(nullptr);
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        PaintCounter counter(&led);
        QElapsedTimer clock;
        clock.start();
        led.flash(duration);
        if (restartAfter) {
            QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() >= restartAfter; }, 5000));
            if (!led.value())
                QSKIP("the machine stalled for longer than the whole flash");
            clock.start();
            led.flash(duration);
        }
        QVERIFY(led.value());
        const auto timers = timersOf(&led);
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers.first().timerId, led.timerId());
        // Not stuck lit without a timer; the dispatcher keeps such long ones in whole seconds.
        if (duration > INT_MAX)
            return;
        QCOMPARE(timers.first().interval, int(duration));
        QTRY_VERIFY_WITH_TIMEOUT(!led.value(), 10000);
        // A coarse timer may fire up to 5 % early.
        QVERIFY2(clock.elapsed() >= duration * 0.94, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(led.timerId(), -1);
        QVERIFY(timersOf(&led).isEmpty());
        QCOMPARE(counter.count, 2);
    }
};

QTEST_MAIN(TestLedWidget)
#include "tst_ledwidget.moc"
