#include "widgets/qeventtimeslotwidget.h"
#include "widgets/qeventtimeslotwidgetdatasource.h"
#include "widgettesthelpers.h"

#include <QAbstractEventDispatcher>
#include <QTest>
#include <QTimerEvent>

#include <cmath>
#include <limits>

namespace {

const QColor kBackground(255, 255, 255);
const QColor kAxis(0, 0, 0);
const QColor kHighlight(0, 160, 0);
const QColor kHighlightedText(255, 255, 0);
const QColor kMarkFill(200, 0, 0);

// Rows of the widget (height 44) where each element lies.
constexpr int kTickRow = 31;   // inner and end ticks, nothing else
constexpr int kCursorRow = 32; // axis line and the cursor bar over it
constexpr int kBoxRow = 12;    // middle of the marks' boxes

class FakeSource : public QEventTimeslotWidgetDatasource
{
public:
    int timeslotCount() const override { return count; }
    QList<QEventTimeslotWidgetEvent> events() const override
    {
        ++eventsCalls;
        return marks;
    }

    int count = 32;
    QList<QEventTimeslotWidgetEvent> marks;
    mutable int eventsCalls = 0;
};

QEventTimeslotWidgetEvent mark(double position, QColor color = kMarkFill, QString label = {})
{
    QEventTimeslotWidgetEvent event;
    event.position = position;
    event.color = color;
    event.label = label;
    return event;
}

void prepare(QEventTimeslotWidget &widget, int width)
{
    QPalette palette;
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::Mid, kAxis);
    palette.setColor(QPalette::Highlight, kHighlight);
    palette.setColor(QPalette::HighlightedText, kHighlightedText);
    widget.setPalette(palette);
    widget.setFont(QFont("DejaVu Sans"));
    widget.setFixedWidth(width);
}

QImage render(QEventTimeslotWidget &widget)
{
    return widget.grab().toImage();
}

// Columns of a row that show `color` exactly.
QList<int> columnsOf(const QImage &image, int y, QColor color)
{
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (pixelAt(image, x, y) == color)
            columns << x;
    }
    return columns;
}

void tick(QEventTimeslotWidget &widget)
{
    QTimerEvent event(widget.timerId());
    QCoreApplication::sendEvent(&widget, &event);
}

QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject *object)
{
    return QAbstractEventDispatcher::instance()->registeredTimers(object);
}

} // namespace

class TestEventTimeslotWidget : public QObject
{
    Q_OBJECT

private slots:
    void slotTicks_data();
    void slotTicks();
    void slotNumbers_data();
    void slotNumbers();
    void markPlacement_data();
    void markPlacement();
    void markVisibility_data();
    void markVisibility();
    void markColours();
    void cursorGrowth_data();
    void cursorGrowth();
    void cursorEnd_data();
    void cursorEnd();
    void cursorRunsOnItsTimer();
    void restartKeepsOneTimer();
    void withoutSource();
};

void TestEventTimeslotWidget::slotTicks_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<QList<int>>("inner"); // relative to the axis start at x = 25

    QTest::newRow("minimum width, 32 slots")
            << 300 << 32 << QList<int>{7,   15,  23,  31,  39,  46,  54,  62,  70,  78,  85,
                                       93,  101, 109, 117, 125, 132, 140, 148, 156, 164, 171,
                                       179, 187, 195, 203, 210, 218, 226, 234, 242};
    QTest::newRow("width 400, 32 slots")
            << 400 << 32 << QList<int>{10,  21,  32,  43,  54,  65,  76,  87,  98,  109, 120,
                                       131, 142, 153, 164, 175, 185, 196, 207, 218, 229, 240,
                                       251, 262, 273, 284, 295, 306, 317, 328, 339};
    QTest::newRow("three slots") << 300 << 3 << QList<int>{83, 166};
    QTest::newRow("odd width, seven slots") << 301 << 7 << QList<int>{35, 71, 107, 143, 179, 215};
    QTest::newRow("one slot has no inner tick") << 300 << 1 << QList<int>{};
    QTest::newRow("no slots") << 300 << 0 << QList<int>{};
    QTest::newRow("negative slot count") << 300 << -4 << QList<int>{};
}

void TestEventTimeslotWidget::slotTicks()
{
    QFETCH(int, width);
    QFETCH(int, slotCount);
    QFETCH(QList<int>, inner);

    FakeSource source;
    source.count = slotCount;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, width);
    widget.setDatasource(&source);
    const QImage image = render(widget);
    QCOMPARE(image.height(), 44);

    QList<int> expected{25};
    for (int x : inner)
        expected << 25 + x;
    expected << width - 25;
    QCOMPARE(columnsOf(image, kTickRow, kAxis), expected);

    // The end ticks reach from 27 to 37 whatever the slot count.
    for (int y : {27, 37}) {
        QCOMPARE(pixelAt(image, 25, y), kAxis);
        QCOMPARE(pixelAt(image, width - 25, y), kAxis);
    }
    QCOMPARE(pixelAt(image, 25, 26), kBackground);
    // The axis runs from end tick to end tick.
    QCOMPARE(columnsOf(image, kCursorRow, kAxis).size(), width - 50 + 1);
}

void TestEventTimeslotWidget::slotNumbers_data()
{
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<QList<double>>("centres"); // widget x of each number at width 300

    QTest::newRow("one slot numbered in the middle") << 1 << QList<double>{150.0};
    QTest::newRow("two slots") << 2 << QList<double>{87.5, 212.5};
    QTest::newRow("four slots in cells 62 wide") << 4 << QList<double>{56.0, 118.0, 181.0, 243.0};
    QTest::newRow("no slots, no numbers") << 0 << QList<double>{};
    QTest::newRow("negative count, no numbers") << -1 << QList<double>{};
}

void TestEventTimeslotWidget::slotNumbers()
{
    QFETCH(int, slotCount);
    QFETCH(QList<double>, centres);

    FakeSource source;
    source.count = slotCount;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    const QImage image = render(widget);

    // Ink of the numbers in their band (below the slot ticks, which end at 34), grouped into runs.
    QList<QPair<int, int>> runs;
    for (int x = 0; x < image.width(); ++x) {
        bool ink = false;
        for (int y = 35; y < 44; ++y)
            ink = ink || colorDistance(pixelAt(image, x, y), kBackground) > 60;
        // The end ticks reach into the band.
        if (x == 25 || x == 275)
            ink = false;
        if (!ink)
            continue;
        if (!runs.isEmpty() && runs.last().second >= x - 2)
            runs.last().second = x;
        else
            runs << qMakePair(x, x);
    }
    QCOMPARE(runs.size(), centres.size());
    for (int i = 0; i < runs.size(); ++i) {
        const double centre = (runs[i].first + runs[i].second + 1) / 2.0;
        QVERIFY2(std::abs(centre - centres[i]) <= 2.0,
                 qPrintable(QString("number %1 centred at %2").arg(i).arg(centre)));
    }
}

void TestEventTimeslotWidget::markPlacement_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("position");
    QTest::addColumn<int>("centre");

    QTest::newRow("left end") << 300 << 0.0 << 25;
    QTest::newRow("middle") << 300 << 0.5 << 150;
    QTest::newRow("right end") << 300 << 1.0 << 275;
    QTest::newRow("inside slot 3 of 32") << 300 << 0.096 << 49;
    QTest::newRow("wider widget") << 500 << 0.2 << 115;
    QTest::newRow("wider widget, right end") << 500 << 1.0 << 475;
}

void TestEventTimeslotWidget::markPlacement()
{
    QFETCH(int, width);
    QFETCH(double, position);
    QFETCH(int, centre);

    FakeSource source;
    source.marks = {mark(position)};
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, width);
    widget.setDatasource(&source);
    const QImage image = render(widget);

    // The box: 20 wide and centred on the mark, its solid inside within the white outline.
    const QList<int> box = columnsOf(image, kBoxRow, kMarkFill);
    QVERIFY(!box.isEmpty());
    QCOMPARE(box.first(), centre - 9);
    QCOMPARE(box.last(), centre + 8);
    QCOMPARE(box.size(), 18);
    // Its top and bottom edges: from 2 to 22.
    QCOMPARE(pixelAt(image, centre, 4), kMarkFill);
    QCOMPARE(pixelAt(image, centre, 20), kMarkFill);
    QCOMPARE(pixelAt(image, centre, 0), kBackground);
    // The pointer below it narrows down to just under the axis.
    QVERIFY(colorDistance(pixelAt(image, centre, 26), kMarkFill) < 40);
    QVERIFY(colorDistance(pixelAt(image, centre - 1, 26), kMarkFill) < 40);
    QCOMPARE(pixelAt(image, centre - 4, 26), kBackground);
    QVERIFY(colorDistance(pixelAt(image, centre, 36), kMarkFill) > 100);
}

void TestEventTimeslotWidget::markVisibility_data()
{
    QTest::addColumn<double>("position");
    QTest::addColumn<bool>("drawn");

    QTest::newRow("exactly at the start") << 0.0 << true;
    QTest::newRow("exactly at the end") << 1.0 << true;
    QTest::newRow("just before the start") << -0.0001 << false;
    QTest::newRow("just after the end") << 1.0000001 << false;
    QTest::newRow("far before the start") << -3.5 << false;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false;
}

void TestEventTimeslotWidget::markVisibility()
{
    QFETCH(double, position);
    QFETCH(bool, drawn);

    FakeSource source;
    source.marks = {mark(position)};
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    const QImage image = render(widget);

    QCOMPARE(boundsOf(image, kMarkFill).isValid(), drawn);
    // The rest of the timeline is drawn either way.
    QCOMPARE(pixelAt(image, 150, kTickRow), kAxis);
    QCOMPARE(pixelAt(image, 150, kCursorRow), kAxis);
}

void TestEventTimeslotWidget::markColours()
{
    const QColor second(0, 0, 200);
    FakeSource source;
    source.marks = {mark(0.5), mark(0.5, second), mark(0.2, QColor(), QStringLiteral("8")),
                    mark(0.8, kMarkFill, QStringLiteral("88"))};
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    const QImage image = render(widget);

    // A later mark covers an earlier one at the same place.
    QCOMPARE(pixelAt(image, 150, kBoxRow), second);
    QVERIFY(columnsOf(image, kBoxRow, kMarkFill).size() > 0);
    QVERIFY(!columnsOf(image, kBoxRow, kMarkFill).contains(150));

    // Without a colour the mark takes the palette's highlight.
    QCOMPARE(pixelAt(image, 75 - 7, kBoxRow), kHighlight);

    // Labels are written in the highlighted-text colour inside their boxes, and only there.
    auto labelInk = [&](int centre) {
        int ink = 0;
        for (int y = 3; y < 22; ++y) {
            for (int x = centre - 9; x <= centre + 8; ++x)
                ink += colorDistance(pixelAt(image, x, y), kHighlightedText) < 60;
        }
        return ink;
    };
    QVERIFY(labelInk(75) > 3);
    QVERIFY(labelInk(225) > labelInk(75));
    QCOMPARE(labelInk(150), 0);
}

void TestEventTimeslotWidget::cursorGrowth_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("length");

    QTest::newRow("just started") << 1000 << 0 << 0;
    QTest::newRow("one tick of 1000 ms") << 1000 << 1 << 8;
    QTest::newRow("half way") << 1000 << 15 << 123;
    QTest::newRow("last tick before the end") << 1000 << 30 << 247;
    QTest::newRow("one tick of a 50 ms cycle") << 50 << 1 << 165;
    QTest::newRow("cycle of 32 slots of 50 ms, 20 ticks") << 1600 << 20 << 103;
}

void TestEventTimeslotWidget::cursorGrowth()
{
    QFETCH(int, total);
    QFETCH(int, ticks);
    QFETCH(int, length);

    FakeSource source;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    widget.startTimeCursor(total);
    for (int i = 0; i < ticks; ++i)
        tick(widget);
    QCOMPARE(widget.totalTime(), total);
    QCOMPARE(widget.elapsedTime(), 33 * ticks);
    const QImage image = render(widget);

    // A bar two pixels thick over the axis, from its left end.
    const QList<int> bar = columnsOf(image, kCursorRow, kHighlight);
    QCOMPARE(bar.size(), length);
    if (length > 0) {
        QCOMPARE(bar.first(), 25);
        QCOMPARE(bar.last(), 25 + length - 1);
        QCOMPARE(columnsOf(image, kCursorRow - 1, kHighlight), bar);
    }
    QVERIFY(columnsOf(image, kCursorRow + 1, kHighlight).isEmpty());
    QVERIFY(columnsOf(image, kCursorRow - 2, kHighlight).isEmpty());
}

void TestEventTimeslotWidget::cursorEnd_data()
{
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("ticks"); // ticks until the cursor is gone

    QTest::newRow("1000 ms ends on tick 31") << 1000 << 31;
    QTest::newRow("exactly two ticks") << 66 << 2;
    QTest::newRow("one ms over two ticks") << 67 << 3;
    QTest::newRow("shorter than a tick") << 10 << 1;
    QTest::newRow("zero") << 0 << 1;
    QTest::newRow("negative") << -20 << 1;
}

void TestEventTimeslotWidget::cursorEnd()
{
    QFETCH(int, total);
    QFETCH(int, ticks);

    FakeSource source;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    PaintCounter paints(&widget);
    source.eventsCalls = 0;

    widget.startTimeCursor(total);
    QCOMPARE(paints.count, 1);
    QCOMPARE(source.eventsCalls, 1);
    QVERIFY(widget.timerId() != -1);
    if (total <= 0)
        QVERIFY(columnsOf(render(widget), kCursorRow, kHighlight).isEmpty());
    paints.count = 0;
    source.eventsCalls = 0;

    for (int i = 1; i < ticks; ++i) {
        tick(widget);
        QVERIFY2(widget.timerId() != -1, qPrintable(QString("stopped on tick %1").arg(i)));
    }
    tick(widget);
    QCOMPARE(widget.timerId(), -1);
    QCOMPARE(widget.totalTime(), 0);
    QCOMPARE(widget.elapsedTime(), 0);
    QVERIFY(timersOf(&widget).isEmpty());
    // One synchronous paint per tick, the last one without the cursor; each paint asks for the
    // marks once.
    QCOMPARE(paints.count, ticks);
    QCOMPARE(source.eventsCalls, ticks);
    QVERIFY(columnsOf(render(widget), kCursorRow, kHighlight).isEmpty());
}

void TestEventTimeslotWidget::cursorRunsOnItsTimer()
{
    FakeSource source;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    PaintCounter paints(&widget);

    widget.startTimeCursor(200);
    const auto timers = timersOf(&widget);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().timerId, widget.timerId());
    QCOMPARE(timers.first().interval, 33);
    QCOMPARE(timers.first().timerType, Qt::CoarseTimer);

    QTRY_COMPARE_WITH_TIMEOUT(widget.timerId(), -1, 10000);
    QCOMPARE(widget.totalTime(), 0);
    QVERIFY(timersOf(&widget).isEmpty());
    // The start and seven ticks: 231 ms of nominal time.
    QCOMPARE(paints.count, 8);
}

void TestEventTimeslotWidget::restartKeepsOneTimer()
{
    FakeSource source;
    QEventTimeslotWidget widget(nullptr);
    prepare(widget, 300);
    widget.setDatasource(&source);

    widget.startTimeCursor(1000);
    for (int i = 0; i < 10; ++i)
        tick(widget);
    widget.startTimeCursor(500);
    QCOMPARE(widget.totalTime(), 500);
    QCOMPARE(widget.elapsedTime(), 0);
    const auto timers = timersOf(&widget);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first().timerId, widget.timerId());
    QVERIFY(columnsOf(render(widget), kCursorRow, kHighlight).isEmpty());
}

void TestEventTimeslotWidget::withoutSource()
{
    QEventTimeslotWidget widget(nullptr);
    QCOMPARE(widget.height(), 44);
    QCOMPARE(widget.minimumWidth(), 300);
    prepare(widget, 300);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    PaintCounter paints(&widget);

    widget.startTimeCursor(1000);
    QCOMPARE(widget.timerId(), -1);
    QCOMPARE(widget.totalTime(), 0);
    QCOMPARE(paints.count, 0);
    QVERIFY(timersOf(&widget).isEmpty());
    // Nothing at all is drawn, not even the axis.
    const QImage image = render(widget);
    for (int y = 0; y < image.height(); ++y)
        QVERIFY(columnsOf(image, y, kBackground).size() == image.width());
}

QTEST_MAIN(TestEventTimeslotWidget)
#include "tst_eventtimeslotwidget.moc"
