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

    // Operations: on, off, toggle, red (a new colour), flash:<ms>, wait:<ms>.
    void operations_data()
    {
        QTest::addColumn<QString>("operations");
        QTest::addColumn<int>("paints"); // at once, before the event loop runs
        QTest::addColumn<bool>("lit");
        QTest::addColumn<int>("paintsAfter"); // once any flash has run out, which puts it out
        QTest::newRow("on twice repaints once") << "on on" << 1 << true << 1;
        QTest::newRow("toggle always repaints") << "toggle toggle" << 2 << false << 2;
        QTest::newRow("new colour twice repaints once") << "red red" << 1 << false << 1;
        QTest::newRow("the window's 50 ms flash") << "flash:50" << 1 << true << 2;
        QTest::newRow("second flash does not flicker") << "flash:100 flash:100" << 1 << true << 2;
        QTest::newRow("second flash restarts it")
                << "flash:1000 wait:300 flash:1000" << 1 << true << 2;
        QTest::newRow("switched off during a flash") << "flash:100 off" << 2 << false << 2;
        QTest::newRow("flash longer than a timer interval holds")
                << "flash:" + QString::number(uint(INT_MAX) + 1u) << 1 << true << -1;
    }

    void operations()
    {
        QFETCH(QString, operations);
        QFETCH(int, paints);
        QFETCH(bool, lit);
        QFETCH(int, paintsAfter);
        QLedWidget led(nullptr);
        led.show();
        QVERIFY(QTest::qWaitForWindowExposed(&led));
        PaintCounter counter(&led);
        QElapsedTimer sinceFlash;
        uint flash = 0;
        for (const QString &operation : operations.split(' ')) {
            const uint ms = operation.section(':', 1).toUInt();
            if (operation == "on" || operation == "off")
                led.setValue(operation == "on");
            else if (operation == "toggle")
                led.toggle();
            else if (operation == "red")
                led.setColor(Qt::red);
            else if (operation.startsWith("wait"))
                QVERIFY(QTest::qWaitFor([&] { return sinceFlash.elapsed() >= ms; }, 5000));
            else {
                sinceFlash.start();
                led.flash(flash = ms);
            }
        }
        if (operations.contains("wait") && counter.count > paints)
            QSKIP("the machine stalled for longer than the whole flash");
        QCOMPARE(counter.count, paints);
        QCOMPARE(led.value(), lit);
        const bool flashing = lit && operations.contains("flash");
        if (flashing) // not stuck lit without a timer
            QCOMPARE(timersOf(&led).size(), 1);
        if (paintsAfter < 0) // the dispatcher keeps such long ones in whole seconds
            return;
        if (flashing)
            QCOMPARE(uint(timersOf(&led).first().interval), flash);
        QTRY_COMPARE_WITH_TIMEOUT(led.timerId(), -1, 10000);
        // A coarse timer may fire up to 5 % early.
        QVERIFY2(!flashing || sinceFlash.elapsed() >= flash * 0.94, qPrintable(operations));
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
        QVERIFY(on.pixelColor(cx, cy).value() >= 250);
        QVERIFY(on.pixelColor(cx, cy).value() > 1.8 * off.pixelColor(cx, cy).value());
        QVERIFY(qAbs(on.pixelColor(cx, disc.top() + 1).red() - 255 / 2) <= 3);
        QVERIFY(qAbs(off.pixelColor(cx, disc.top() + 1).red() - 255 / 3) <= 3); // dark: a third
        // The glare brightens the upper middle of a dark lamp only (same row of the dome gradient).
        QVERIFY(off.pixelColor(cx, cy - 5).value() >= off.pixelColor(cx - 10, cy - 5).value() + 5);
        QVERIFY(colorDistance(on.pixelColor(cx, cy - 5), on.pixelColor(cx - 10, cy - 5)) <= 1);
    }
};

QTEST_MAIN(TestLedWidget)
#include "tst_ledwidget.moc"
