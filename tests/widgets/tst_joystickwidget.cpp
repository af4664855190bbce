#include "widgets/qjoystickwidget.h"
#include "widgettesthelpers.h"

#include <QApplication>
#include <QPainter>
#include <QPolygon>
#include <QTest>

#include <climits>

namespace {

const QColor kBackground(255, 255, 255);
const QColor kHighlight(255, 0, 0);
const QColor kMidlight(0, 0, 255);
const QColor kOutline(0, 0, 0);

QPalette testPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::Highlight, kHighlight);
    palette.setColor(QPalette::Midlight, kMidlight);
    palette.setColor(QPalette::ButtonText, kOutline);
    return palette;
}

QImage drawInto(QSize imageSize, QRect rect, uint position)
{
    QImage image(imageSize, QImage::Format_ARGB32);
    image.fill(kBackground);
    QJoystickWidgetStyleOption option;
    option.rect = rect;
    option.palette = testPalette();
    option.position = position;
    QPainter painter(&image);
    QJoystickWidget::drawJoystick(&option, &painter, nullptr);
    return image;
}

QPolygon points(std::initializer_list<QPoint> list)
{
    return QPolygon(QVector<QPoint>(list));
}

// Inside each element, in pixels of a 68 x 68 picture (design units offset by 2).
const QPoint kUp(34, 10);
const QPoint kRight(59, 34);
const QPoint kLeft(10, 34);
const QPoint kDown(34, 59);
const QPoint kCentre(34, 34);

QString highlightedElements(const QImage &image)
{
    QString elements;
    const QList<QPair<QChar, QPoint>> samples{
            {'U', kUp}, {'R', kRight}, {'L', kLeft}, {'D', kDown}, {'C', kCentre}};
    for (const auto &sample : samples) {
        const QColor color = pixelAt(image, sample.second.x(), sample.second.y());
        if (color == kHighlight)
            elements += sample.first;
        else if (color != kMidlight)
            elements += '?';
    }
    return elements;
}

} // namespace

class TestJoystickWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void highlightedElements_data();
    void highlightedElements();
    void pictureGeometry_data();
    void pictureGeometry();
    void tooSmallDrawsNothing_data();
    void tooSmallDrawsNothing();
    void newWidget();
    void setPositionRepaints();
    void widgetUsesContentsAndApplicationPalette();
};

void TestJoystickWidget::initTestCase()
{
    QApplication::setPalette(testPalette());
}

void TestJoystickWidget::highlightedElements_data()
{
    QTest::addColumn<uint>("position");
    QTest::addColumn<QString>("elements");

    QTest::newRow("neutral") << uint(Neutral) << "";
    QTest::newRow("no bit at all") << 0u << "";
    QTest::newRow("left") << uint(Left) << "L";
    QTest::newRow("right") << uint(Right) << "R";
    QTest::newRow("up") << uint(Up) << "U";
    QTest::newRow("down") << uint(Down) << "D";
    QTest::newRow("centre") << uint(Center) << "C";
    QTest::newRow("up and centre") << uint(Up | Center) << "UC";
    QTest::newRow("left, right and down") << uint(Left | Right | Down) << "RLD";
    QTest::newRow("neutral with up") << uint(Neutral | Up) << "U";
    QTest::newRow("all five") << uint(Left | Right | Up | Down | Center) << "URLDC";
    QTest::newRow("bits above centre ignored") << (64u | 128u | 0x80000000u) << "";
    QTest::newRow("every bit") << UINT_MAX << "URLDC";
}

void TestJoystickWidget::highlightedElements()
{
    QFETCH(uint, position);
    QFETCH(QString, elements);

    const QImage image = drawInto(QSize(68, 68), QRect(0, 0, 68, 68), position);
    QCOMPARE(::highlightedElements(image), elements);
}

void TestJoystickWidget::pictureGeometry_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QPolygon>("highlight"); // inside the centre disc
    QTest::addColumn<QPolygon>("midlight");  // inside the left and upper arrows
    QTest::addColumn<QPolygon>("outline");
    QTest::addColumn<QPolygon>("background");

    // Design point d lands on pixel rect centre + scale * (d - 32).
    QTest::newRow("68 square at scale one")
            << QSize(68, 68) << QRect(0, 0, 68, 68) << points({{34, 34}, {22, 34}, {45, 34}})
            << points({{10, 34}, {34, 10}}) << QPolygon() << points({{18, 34}, {3, 3}});
    QTest::newRow("wide rectangle centres the picture")
            << QSize(132, 68) << QRect(0, 0, 132, 68) << points({{66, 34}, {54, 34}})
            << points({{42, 34}, {66, 10}}) << QPolygon() << points({{10, 34}, {50, 34}});
    QTest::newRow("tall rectangle centres the picture")
            << QSize(68, 132) << QRect(0, 0, 68, 132) << points({{34, 66}, {22, 66}})
            << points({{10, 66}, {34, 42}}) << QPolygon() << points({{34, 10}, {18, 66}});
    QTest::newRow("double size") << QSize(132, 132) << QRect(0, 0, 132, 132)
                                 << points({{66, 66}, {44, 66}}) << points({{18, 66}, {66, 18}})
                                 << points({{39, 66}, {40, 66}}) << points({{35, 66}, {66, 35}});
    QTest::newRow("offset rectangle")
            << QSize(100, 100) << QRect(20, 10, 68, 68) << points({{54, 44}, {42, 44}})
            << points({{30, 44}, {54, 20}}) << QPolygon() << points({{38, 44}, {10, 10}});
}

void TestJoystickWidget::pictureGeometry()
{
    QFETCH(QSize, imageSize);
    QFETCH(QRect, rect);
    QFETCH(QPolygon, highlight);
    QFETCH(QPolygon, midlight);
    QFETCH(QPolygon, outline);
    QFETCH(QPolygon, background);

    const QImage image = drawInto(imageSize, rect, Center);
    auto check = [&](const QPolygon &points, QColor expected, int tolerance) {
        for (const QPoint &point : points) {
            const QColor actual = pixelAt(image, point.x(), point.y());
            QVERIFY2(colorDistance(actual, expected) <= tolerance,
                     qPrintable(QString("(%1, %2) is %3, not %4")
                                        .arg(point.x())
                                        .arg(point.y())
                                        .arg(actual.name(), expected.name())));
        }
    };
    check(highlight, kHighlight, 0);
    check(midlight, kMidlight, 0);
    check(outline, kOutline, 40);
    check(background, kBackground, 0);
}

void TestJoystickWidget::tooSmallDrawsNothing_data()
{
    QTest::addColumn<QRect>("rect");

    QTest::newRow("four pixels square") << QRect(10, 10, 4, 4);
    QTest::newRow("three pixels wide") << QRect(10, 10, 3, 60);
    QTest::newRow("inverted rectangle") << QRect(QPoint(70, 10), QPoint(10, 70));
}

void TestJoystickWidget::tooSmallDrawsNothing()
{
    QFETCH(QRect, rect);

    const QImage image = drawInto(QSize(80, 80), rect, Up | Center);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(pixelAt(image, x, y), kBackground);
    }
}

void TestJoystickWidget::newWidget()
{
    QJoystickWidget widget(nullptr);
    QCOMPARE(widget.position(), Neutral);
    QCOMPARE(widget.minimumSize(), QSize(48, 48));
    QCOMPARE(widget.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(widget.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    widget.setFixedSize(68, 68);
    QCOMPARE(::highlightedElements(widget.grab().toImage()), QString());
}

void TestJoystickWidget::setPositionRepaints()
{
    QJoystickWidget widget(nullptr);
    widget.setFixedSize(68, 68);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    PaintCounter paints(&widget);

    widget.setPosition(Up);
    QCOMPARE(paints.count, 1);
    QCOMPARE(widget.position(), Up);
    QCOMPARE(::highlightedElements(widget.grab().toImage()), QString("U"));
    paints.count = 0;

    widget.setPosition(Up);
    QCOMPARE(paints.count, 0);

    widget.setPosition(QJoystickWidgetPosition(Up | Center));
    QCOMPARE(paints.count, 1);
    QCOMPARE(::highlightedElements(widget.grab().toImage()), QString("UC"));

    // The slot is reachable by name, as a signal-string connection would call it.
    paints.count = 0;
    QVERIFY(QMetaObject::invokeMethod(&widget, "setPosition",
                                      Q_ARG(QJoystickWidgetPosition, Left)));
    QCOMPARE(paints.count, 1);
    QCOMPARE(widget.position(), Left);
}

void TestJoystickWidget::widgetUsesContentsAndApplicationPalette()
{
    QJoystickWidget widget(nullptr);
    widget.setFixedSize(88, 88);
    widget.setContentsMargins(20, 0, 0, 20);
    // The picture follows the application's palette, not the widget's own.
    QPalette own = testPalette();
    own.setColor(QPalette::Highlight, Qt::green);
    widget.setPalette(own);
    widget.setPosition(Center);
    const QImage image = widget.grab().toImage();

    // Contents (20, 0, 68, 68): design units offset by (22, 2).
    QCOMPARE(pixelAt(image, 54, 34), kHighlight);
    QCOMPARE(pixelAt(image, 54, 10), kMidlight);
    QCOMPARE(pixelAt(image, 32, 34), kMidlight);
    QCOMPARE(pixelAt(image, 38, 34), kBackground);
}

QTEST_MAIN(TestJoystickWidget)
#include "tst_joystickwidget.moc"
