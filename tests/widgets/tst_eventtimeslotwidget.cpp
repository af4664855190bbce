#include "widgets/qeventtimeslotwidget.h"
#include "widgets/qeventtimeslotwidgetdatasource.h"
#include "widgettesthelpers.h"

#include <QTest>
#include <QTimerEvent>

#include <limits>

namespace {

const QColor kMarkFill(200, 0, 0);

// Rows of the widget (height 44) where each element lies.
constexpr int kTickRow = 31;   // inner and end ticks, nothing else
constexpr int kCursorRow = 32; // axis line and the cursor bar over it

struct FakeSource : QEventTimeslotWidgetDatasource
{
    int timeslotCount() const override { return count; }
    QList<QEventTimeslotWidgetEvent> events() const override { return marks; }
    int count = 32;
    QList<QEventTimeslotWidgetEvent> marks;
};

bool prepare(QEventTimeslotWidget &widget, FakeSource *source, int width = 300)
{
    widget.setFixedWidth(width);
    widget.setDatasource(source);
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

// Columns of a row that show `color` exactly.
QList<int> columnsOf(const QImage &image, int y, QColor color)
{
    QList<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, y) == color)
            columns << x;
    }
    return columns;
}

} // namespace

class TestEventTimeslotWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useTestLook(); }

    void slotTicks_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QList<int>>("inner"); // relative to the axis start at x = 25
        QTest::newRow("minimum width, 32 slots")
                << 300 << 32 << QList<int>{7,   15,  23,  31,  39,  46,  54,  62,  70,  78,  85,
                                           93,  101, 109, 117, 125, 132, 140, 148, 156, 164, 171,
                                           179, 187, 195, 203, 210, 218, 226, 234, 242};
        QTest::newRow("wider, one slot has no inner tick") << 400 << 1 << QList<int>{};
        QTest::newRow("no slots") << 300 << 0 << QList<int>{};
    }
    void slotTicks()
    {
        QFETCH(int, width);
        QFETCH(int, slotCount);
        QFETCH(QList<int>, inner);
        FakeSource source;
        source.count = slotCount;
        QEventTimeslotWidget widget(nullptr);
        QVERIFY(prepare(widget, &source, width));
        const QImage image = widget.grab().toImage();
        QList<int> expected{25};
        for (int x : inner)
            expected << 25 + x;
        QCOMPARE(columnsOf(image, kTickRow, kMid), expected << width - 25);
        // End ticks from 27 to 37 and the axis between them, whatever the slot count.
        for (QPoint end : {QPoint(25, 27), QPoint(25, 37), QPoint(width - 25, 27)})
            QCOMPARE(image.pixelColor(end), kMid);
        QCOMPARE(image.pixelColor(25, 26), kBackground);
        QCOMPARE(columnsOf(image, kCursorRow, kMid).size(), width - 50 + 1);
    }

    void marks_data()
    {
        QTest::addColumn<double>("position");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("centre"); // -1: not drawn
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("exactly at the start") << 0.0 << kMarkFill << 25;
        QTest::newRow("exactly at the end") << 1.0 << kMarkFill << 275;
        QTest::newRow("inside slot 3 of 32") << 0.096 << kMarkFill << 49;
        QTest::newRow("no colour: the highlight") << 0.5 << QColor() << 150;
        QTest::newRow("just before the start") << -0.0001 << kMarkFill << -1;
        QTest::newRow("just after the end") << 1.0000001 << kMarkFill << -1;
        QTest::newRow("not a number") << nan << kMarkFill << -1;
    }
    void marks()
    {
        QFETCH(double, position);
        QFETCH(QColor, color);
        QFETCH(int, centre);
        FakeSource source;
        source.marks = {{position, "8", color}};
        QEventTimeslotWidget widget(nullptr);
        QVERIFY(prepare(widget, &source));
        const QImage image = widget.grab().toImage();
        const QColor fill = color.isValid() ? color : kHighlight;
        if (centre < 0) {
            QVERIFY(!boundsOf(image, fill).isValid());
            return;
        }
        // The box from y = 2 to 22, 20 wide and centred on the mark: its fill inside the white
        // outline, and the label inside that. The pointer narrows down to just under the axis.
        QCOMPARE(boundsOf(image, fill).intersected(QRect(0, 0, 300, 22)),
                 QRect(centre - 9, 3, 18, 19));
        QVERIFY(boundsOf(image.copy(centre - 9, 3, 18, 19), kHighlightedText, 60).width() >= 2);
        QVERIFY(colorDistance(image.pixelColor(centre - 1, 26), fill) < 40);
        QCOMPARE(image.pixelColor(centre - 4, 26), kBackground);
        QVERIFY(colorDistance(image.pixelColor(centre, 36), fill) > 100);
    }

    void cursor_data()
    {
        QTest::addColumn<int>("before"); // ticks of a 1000 ms cursor that is then restarted
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("probe");  // ticks before the cursor is measured
        QTest::addColumn<int>("length"); // of the cursor bar then
        QTest::addColumn<int>("ticks");  // until the cursor is gone
        QTest::newRow("1000 ms, last tick before the end") << 0 << 1000 << 30 << 247 << 31;
        QTest::newRow("exactly two ticks") << 0 << 66 << 1 << 125 << 2;
        QTest::newRow("one ms over two ticks") << 0 << 67 << 2 << 246 << 3;
        QTest::newRow("restart begins anew") << 10 << 200 << 0 << 0 << 7;
        QTest::newRow("zero") << 0 << 0 << 0 << 0 << 1;
        QTest::newRow("negative") << 0 << -20 << 0 << 0 << 1;
    }
    void cursor()
    {
        QFETCH(int, before);
        QFETCH(int, total);
        QFETCH(int, probe);
        QFETCH(int, length);
        QFETCH(int, ticks);
        FakeSource source;
        QEventTimeslotWidget widget(nullptr);
        QVERIFY(prepare(widget, &source));
        auto tick = [&] {
            QTimerEvent event(widget.timerId());
            QCoreApplication::sendEvent(&widget, &event);
        };
        if (before)
            widget.startTimeCursor(1000);
        for (int i = 0; i < before; ++i)
            tick();
        PaintCounter paints(&widget);
        widget.startTimeCursor(total);
        QCOMPARE(timersOf(&widget).size(), 1);
        QCOMPARE(timersOf(&widget).first().interval, 33);
        for (int i = 0; i < ticks; ++i) {
            QVERIFY2(widget.timerId() != -1, qPrintable(QString("stopped after %1 ticks").arg(i)));
            if (i == probe) {
                // A bar two pixels thick over the axis, from its left end.
                const QImage image = widget.grab().toImage();
                const QList<int> bar = columnsOf(image, kCursorRow, kHighlight);
                QCOMPARE(bar.size(), length);
                QCOMPARE(bar.value(0, 25), 25);
                QCOMPARE(columnsOf(image, kCursorRow - 1, kHighlight), bar);
            }
            tick();
        }
        QCOMPARE(widget.timerId(), -1);
        // The start, one synchronous paint per tick and the measuring grab.
        QCOMPARE(paints.count, ticks + 2);
        QCOMPARE(columnsOf(widget.grab().toImage(), kCursorRow, kHighlight), QList<int>{});
    }

    void withoutSource()
    {
        QEventTimeslotWidget widget(nullptr);
        QVERIFY(prepare(widget, nullptr));
        PaintCounter paints(&widget);
        widget.startTimeCursor(1000);
        QCOMPARE(paints.count, 0);
        QVERIFY(timersOf(&widget).isEmpty());
        QVERIFY(isBlank(widget.grab().toImage()));
    }
};

QTEST_MAIN(TestEventTimeslotWidget)
#include "tst_eventtimeslotwidget.moc"
