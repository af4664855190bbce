#include "widgets/qledwidget.h"
#include "widgettesthelpers.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QStyleOptionButton>
#include <QTest>

#include <climits>

namespace {

const QColor kBackground(255, 255, 255);

// Anything visibly drawn over the white background (a faint antialiased rim is not).
bool drawn(const QImage &image, int x, int y)
{
    return colorDistance(pixelAt(image, x, y), kBackground) > 40;
}

void prepare(QLedWidget &led, QSize size = QSize(32, 32))
{
    QPalette palette;
    palette.setColor(QPalette::Window, kBackground);
    led.setPalette(palette);
    led.setFixedSize(size);
}

QImage render(QLedWidget &led)
{
    return led.grab().toImage();
}

QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject *object)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(object);
}

} // namespace

class TestLedWidget : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void repaints_data();
    void repaints();
    void brightness_data();
    void brightness();
    void glare_data();
    void glare();
    void discGeometry_data();
    void discGeometry();
    void contentsMarginsHoldTheLamp();
    void flashPutsOutAfterItsDuration_data();
    void flashPutsOutAfterItsDuration();
    void flashDuringFlashRestarts();
    void putOutDuringFlash_data();
    void putOutDuringFlash();
    void zeroFlash();
    void overlongFlash_data();
    void overlongFlash();
};

void TestLedWidget::initialState()
{
    QLedWidget led(nullptr);
    QCOMPARE(led.value(), false);
    QCOMPARE(led.timerId(), -1);
    QCOMPARE(led.minimumSize(), QSize(32, 32));
    QCOMPARE(led.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(led.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(led.color(), QGuiApplication::palette().color(QPalette::Highlight));
}

void TestLedWidget::repaints_data()
{
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<int>("paints");
    QTest::addColumn<bool>("lit");

    QTest::newRow("switching on") << QStringList{"on"} << 1 << true;
    QTest::newRow("switching on twice repaints once") << QStringList{"on", "on"} << 1 << true;
    QTest::newRow("switching a dark lamp off") << QStringList{"off"} << 0 << false;
    QTest::newRow("on and off") << QStringList{"on", "off"} << 2 << false;
    QTest::newRow("toggle always repaints") << QStringList{"toggle", "toggle"} << 2 << false;
    QTest::newRow("same colour") << QStringList{"same colour"} << 0 << false;
    QTest::newRow("new colour") << QStringList{"red"} << 1 << false;
    QTest::newRow("new colour twice") << QStringList{"red", "red"} << 1 << false;
    QTest::newRow("flash of a dark lamp") << QStringList{"flash"} << 1 << true;
    QTest::newRow("flash of a lit lamp") << QStringList{"on", "flash"} << 1 << true;
    QTest::newRow("second flash does not flicker") << QStringList{"flash", "flash"} << 1 << true;
}

void TestLedWidget::repaints()
{
    QFETCH(QStringList, operations);
    QFETCH(int, paints);
    QFETCH(bool, lit);

    QLedWidget led(nullptr);
    prepare(led);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter counter(&led);

    for (const QString &operation : operations) {
        if (operation == "on")
            led.setValue(true);
        else if (operation == "off")
            led.setValue(false);
        else if (operation == "toggle")
            led.toggle();
        else if (operation == "same colour")
            led.setColor(led.color());
        else if (operation == "red")
            led.setColor(Qt::red);
        else if (operation == "flash")
            led.flash(60000);
        else
            QFAIL(qPrintable("unknown operation " + operation));
    }
    // Counted without giving the event loop a chance: the repaints are synchronous.
    QCOMPARE(counter.count, paints);
    QCOMPARE(led.value(), lit);
}

void TestLedWidget::brightness_data()
{
    QTest::addColumn<QColor>("color");

    QTest::newRow("red") << QColor(Qt::red);
    QTest::newRow("green") << QColor(Qt::green);
    QTest::newRow("blue") << QColor(Qt::blue);
    QTest::newRow("orange") << QColor(255, 128, 0);
    QTest::newRow("dark cyan") << QColor(0, 128, 128);
}

void TestLedWidget::brightness()
{
    QFETCH(QColor, color);

    QLedWidget led(nullptr);
    prepare(led);
    led.setColor(color);
    QCOMPARE(led.color(), color);
    const QImage off = render(led);
    led.setValue(true);
    const QImage on = render(led);

    // The dome: lit it is more than twice as bright, in the lamp's own hue.
    const QColor domeOn = pixelAt(on, 15, 15);
    const QColor domeOff = pixelAt(off, 15, 15);
    QVERIFY2(domeOn.value() > 2 * domeOff.value(),
             qPrintable(QString("on %1, off %2").arg(domeOn.name(), domeOff.name())));
    QVERIFY(std::abs(domeOn.hue() - color.hue()) <= 8);
    QVERIFY(std::abs(domeOff.hue() - color.hue()) <= 8);

    // The ring around it: half the lamp's brightness when lit, a third when dark.
    QVERIFY(std::abs(pixelAt(on, 15, 1).value() - color.value() / 2) <= 3);
    QVERIFY(std::abs(pixelAt(off, 15, 1).value() - color.value() / 3) <= 3);

    // Corners stay background.
    QCOMPARE(pixelAt(on, 0, 0), kBackground);
    QCOMPARE(pixelAt(on, 31, 31), kBackground);
}

void TestLedWidget::glare_data()
{
    QTest::addColumn<bool>("lit");
    QTest::addColumn<bool>("glare");

    QTest::newRow("dark lamp shows the glare") << false << true;
    QTest::newRow("lit lamp shows none") << true << false;
}

void TestLedWidget::glare()
{
    QFETCH(bool, lit);
    QFETCH(bool, glare);

    QLedWidget led(nullptr);
    prepare(led);
    led.setColor(Qt::red);
    led.setValue(lit);
    const QImage image = render(led);

    // Same row of the dome's gradient: one point under the glare, one beside it.
    const QColor under = pixelAt(image, 15, 10);
    const QColor beside = pixelAt(image, 5, 10);
    if (glare)
        QVERIFY2(under.red() >= beside.red() + 5,
                 qPrintable(QString("%1 vs %2").arg(under.name(), beside.name())));
    else
        QVERIFY(colorDistance(under, beside) <= 1);
}

void TestLedWidget::discGeometry_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<QRect>("extent"); // what is drawn along the centre row and column

    // The centre is the middle of the first and last pixel, rounded down, so a square of even
    // side puts its disc one pixel up and left.
    QTest::newRow("32 square") << QSize(40, 40) << QRect(4, 4, 32, 32) << QPoint(19, 19)
                               << QRect(QPoint(3, 3), QPoint(34, 34));
    QTest::newRow("33 square") << QSize(40, 40) << QRect(4, 4, 33, 33) << QPoint(20, 20)
                               << QRect(QPoint(4, 4), QPoint(35, 35));
    QTest::newRow("wide rectangle") << QSize(50, 40) << QRect(4, 4, 40, 32) << QPoint(23, 19)
                                    << QRect(QPoint(7, 3), QPoint(38, 34));
    QTest::newRow("tall rectangle") << QSize(40, 60) << QRect(4, 4, 32, 50) << QPoint(19, 28)
                                    << QRect(QPoint(3, 12), QPoint(34, 43));
    QTest::newRow("64 square") << QSize(72, 72) << QRect(4, 4, 64, 64) << QPoint(35, 35)
                               << QRect(QPoint(3, 3), QPoint(66, 66));
}

void TestLedWidget::discGeometry()
{
    QFETCH(QSize, imageSize);
    QFETCH(QRect, rect);
    QFETCH(QPoint, centre);
    QFETCH(QRect, extent);

    QImage image(imageSize, QImage::Format_ARGB32);
    image.fill(kBackground);
    QStyleOptionButton option;
    option.rect = rect;
    option.palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::red));
    option.state = QStyle::State_Enabled | QStyle::State_On;
    {
        QPainter painter(&image);
        QLedWidget::drawLed(&option, &painter);
    }

    int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (drawn(image, x, centre.y())) {
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    for (int y = 0; y < image.height(); ++y) {
        if (drawn(image, centre.x(), y)) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    QCOMPARE(QRect(QPoint(left, top), QPoint(right, bottom)), extent);
}

void TestLedWidget::contentsMarginsHoldTheLamp()
{
    QLedWidget led(nullptr);
    prepare(led, QSize(60, 52));
    led.setContentsMargins(20, 10, 8, 10);
    led.setValue(true);
    const QImage image = render(led);

    // Contents from (20, 10) to (51, 41): centre (35, 25), radius 16.
    QVERIFY(!drawn(image, 18, 25));
    QVERIFY(drawn(image, 19, 25));
    QVERIFY(drawn(image, 50, 25));
    QVERIFY(!drawn(image, 51, 25));
    QVERIFY(!drawn(image, 35, 8));
    QVERIFY(drawn(image, 35, 9));
    QVERIFY(drawn(image, 35, 40));
    QVERIFY(!drawn(image, 35, 41));
}

void TestLedWidget::flashPutsOutAfterItsDuration_data()
{
    QTest::addColumn<uint>("duration");

    QTest::newRow("the window's 50 ms") << 50u;
    QTest::newRow("a quarter second") << 250u;
}

void TestLedWidget::flashPutsOutAfterItsDuration()
{
    QFETCH(uint, duration);

    QLedWidget led(nullptr);
    prepare(led);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter counter(&led);

    QElapsedTimer clock;
    clock.start();
    led.flash(duration);
    QVERIFY(led.value());
    QCOMPARE(counter.count, 1);
    const auto timers = timersOf(&led);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().timerId, led.timerId());
    QCOMPARE(timers.first().interval, int(duration));
    QCOMPARE(timers.first().timerType, Qt::CoarseTimer);

    QTRY_VERIFY_WITH_TIMEOUT(!led.value(), 10000);
    // A coarse timer may fire up to 5 % early.
    QVERIFY2(clock.elapsed() >= qint64(duration * 0.94),
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(led.timerId(), -1);
    QVERIFY(timersOf(&led).isEmpty());
    QCOMPARE(counter.count, 2);
}

void TestLedWidget::flashDuringFlashRestarts()
{
    QLedWidget led(nullptr);
    prepare(led);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter counter(&led);

    QElapsedTimer clock;
    clock.start();
    led.flash(1000);
    QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() >= 300; }, 5000));
    if (!led.value())
        QSKIP("the machine stalled for longer than the whole flash");

    QElapsedTimer sinceSecond;
    sinceSecond.start();
    led.flash(1000);
    QCOMPARE(timersOf(&led).size(), 1);
    QCOMPARE(timersOf(&led).first().timerId, led.timerId());

    QTRY_VERIFY_WITH_TIMEOUT(!led.value(), 10000);
    // The first flash alone would have ended about 700 ms after the second one.
    QVERIFY2(sinceSecond.elapsed() >= 940, qPrintable(QString::number(sinceSecond.elapsed())));
    // Lit once and put out once: no flicker in between.
    QCOMPARE(counter.count, 2);
    QVERIFY(timersOf(&led).isEmpty());
}

void TestLedWidget::putOutDuringFlash_data()
{
    QTest::addColumn<bool>("toggle");

    QTest::newRow("switched off") << false;
    QTest::newRow("toggled off") << true;
}

void TestLedWidget::putOutDuringFlash()
{
    QFETCH(bool, toggle);

    QLedWidget led(nullptr);
    prepare(led);
    led.show();
    QVERIFY(QTest::qWaitForWindowExposed(&led));
    PaintCounter counter(&led);

    led.flash(150);
    if (toggle)
        led.toggle();
    else
        led.setValue(false);
    QVERIFY(!led.value());
    QCOMPARE(counter.count, 2);
    // The timer still runs out, and its end changes nothing that shows.
    QCOMPARE(timersOf(&led).size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(led.timerId(), -1, 10000);
    QVERIFY(timersOf(&led).isEmpty());
    QVERIFY(!led.value());
    QCOMPARE(counter.count, 2);
}

void TestLedWidget::zeroFlash()
{
    QLedWidget led(nullptr);
    led.flash(0);
    QVERIFY(led.value());
    QTRY_VERIFY_WITH_TIMEOUT(!led.value(), 5000);
    QCOMPARE(led.timerId(), -1);
}

void TestLedWidget::overlongFlash_data()
{
    QTest::addColumn<uint>("duration");

    QTest::newRow("longest int") << uint(INT_MAX);
    QTest::newRow("one past the longest int") << uint(INT_MAX) + 1u;
    QTest::newRow("largest unsigned") << UINT_MAX;
}

void TestLedWidget::overlongFlash()
{
    QFETCH(uint, duration);

    QLedWidget led(nullptr);
    led.flash(duration);
    QVERIFY(led.value());
    // Lit for as long as a timer can wait, not stuck with no timer at all. (The dispatcher keeps
    // such long timers in whole seconds, so their reported interval is of no use here.)
    const auto timers = timersOf(&led);
    QCOMPARE(timers.size(), 1);
    QVERIFY(led.timerId() > 0);
    QCOMPARE(timers.first().timerId, led.timerId());
}

QTEST_MAIN(TestLedWidget)
#include "tst_ledwidget.moc"
