#include "widgets/qjoystickwidget.h"
#include "widgettesthelpers.h"

#include <QTest>

namespace {

// Highlighted elements (Up Right Left Down Centre; ?: neither fill) at scale one, from `origin`.
QString highlighted(const QImage &image, QPoint origin)
{
    QString elements;
    const QList<QPair<QChar, QPoint>> insides{
            {'U', {32, 8}}, {'R', {57, 32}}, {'L', {8, 32}}, {'D', {32, 57}}, {'C', {32, 32}}};
    for (const auto &inside : insides) {
        const QColor color = image.pixelColor(origin + inside.second);
        elements += color == kHighlight ? QString(inside.first) : color == kMidlight ? "" : "?";
    }
    return elements;
}

} // namespace

class TestJoystickWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useTestLook(); }

    void highlightedElements_data()
    {
        QTest::addColumn<uint>("position");
        QTest::addColumn<QString>("elements");
        QTest::newRow("neutral") << uint(Neutral) << "";
        QTest::newRow("left") << uint(Left) << "L";
        QTest::newRow("right") << uint(Right) << "R";
        QTest::newRow("up") << uint(Up) << "U";
        QTest::newRow("down") << uint(Down) << "D";
        QTest::newRow("centre") << uint(Center) << "C";
        QTest::newRow("up and centre") << uint(Up | Center) << "UC";
        QTest::newRow("bits above centre ignored") << (Neutral | 64u | 0x80000000u) << "";
    }
    void highlightedElements()
    {
        QFETCH(uint, position);
        QFETCH(QString, elements);
        QJoystickWidget widget(nullptr);
        widget.setFixedSize(88, 88);
        widget.setContentsMargins(20, 0, 0, 20);
        // The picture follows the application's palette, not the widget's own.
        QPalette own;
        own.setColor(QPalette::Highlight, Qt::red);
        widget.setPalette(own);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        PaintCounter paints(&widget);
        widget.setPosition(QJoystickWidgetPosition(position));
        widget.setPosition(QJoystickWidgetPosition(position));
        QCOMPARE(paints.count, position == Neutral ? 0 : 1);
        // Contents (20, 0, 68, 68): design units offset by (22, 2).
        QCOMPARE(highlighted(widget.grab().toImage(), {22, 2}), elements);
    }

    void tooSmallDrawsNothing()
    {
        // Narrower than the picture's margins: no mirrored picture.
        QJoystickWidget widget(nullptr);
        widget.setFixedSize(3, 60);
        widget.setPosition(Center);
        QVERIFY(isBlank(widget.grab().toImage()));
    }
};

QTEST_MAIN(TestJoystickWidget)
#include "tst_joystickwidget.moc"
