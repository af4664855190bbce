#include "widgets/marlonodetableview.h"
#include "widgets/qjoystickwidget.h"
#include "widgettesthelpers.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QProxyStyle>
#include <QStandardItemModel>
#include <QStyleOptionProgressBar>
#include <QTest>
#include <QVector3D>

#include <climits>
#include <limits>

namespace {

const QColor kBackground(255, 255, 255);
const QColor kHighlight(255, 0, 0);
const QColor kMidlight(0, 0, 255);
const QColor kHighlightedText(255, 255, 0);
const QColor kGreen = QColor(Qt::darkGreen);
const QColor kRed = QColor(Qt::darkRed);
const QColor kGray = QColor(Qt::darkGray);

// Passes everything to Fusion and notes every progress bar it is asked to draw.
class RecordingStyle : public QProxyStyle
{
public:
    RecordingStyle()
        : QProxyStyle(QStringLiteral("Fusion"))
    {}

    struct Bar
    {
        QRect rect;
        int progress;
        int minimum;
        int maximum;
        bool textVisible;
    };

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (element == CE_ProgressBar) {
            if (auto bar = qstyleoption_cast<const QStyleOptionProgressBar *>(option))
                bars.append(
                        {bar->rect, bar->progress, bar->minimum, bar->maximum, bar->textVisible});
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    mutable QList<Bar> bars;
};

RecordingStyle *recorder = nullptr;

QPalette testPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Base, kBackground);
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::Highlight, kHighlight);
    palette.setColor(QPalette::Midlight, kMidlight);
    palette.setColor(QPalette::HighlightedText, kHighlightedText);
    palette.setColor(QPalette::ButtonText, Qt::black);
    return palette;
}

QFont testFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    return font;
}

// One node row as the engine's model gives it.
void addNode(QStandardItemModel &model, int id, const QString &delay, uint errors, QColor slotColor,
             QColor statusColor, uint joystick, QVector3D accelerometer)
{
    QList<QStandardItem *> row;
    for (int column = 0; column < 5; ++column)
        row << new QStandardItem;
    row[0]->setData(id, Qt::DisplayRole);
    row[0]->setData(slotColor, Qt::ForegroundRole);
    row[1]->setData(delay, Qt::DisplayRole);
    row[1]->setData(slotColor, Qt::ForegroundRole);
    row[2]->setData(errors, Qt::DisplayRole);
    row[2]->setData(statusColor, Qt::ForegroundRole);
    row[3]->setData(joystick, Qt::DisplayRole);
    row[4]->setData(QVariant::fromValue(accelerometer), Qt::DisplayRole);
    model.appendRow(row);
}

// A model with a single cell holding `display` (and `foreground`, when valid).
class OneCell
{
public:
    OneCell(const QVariant &display, const QVariant &foreground = QVariant())
    {
        auto item = new QStandardItem;
        item->setData(display, Qt::DisplayRole);
        if (foreground.isValid())
            item->setData(foreground, Qt::ForegroundRole);
        model.setItem(0, 0, item);
    }

    QModelIndex index() const { return model.index(0, 0); }

private:
    QStandardItemModel model;
};

QStyleOptionViewItem cellOption(QRect rect)
{
    QStyleOptionViewItem option;
    option.rect = rect;
    option.font = testFont();
    option.palette = testPalette();
    return option;
}

QImage paintCell(const QAbstractItemDelegate &delegate, QSize imageSize,
                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    QImage image(imageSize, QImage::Format_ARGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    painter.setFont(testFont());
    delegate.paint(&painter, option, index);
    return image;
}

QImage paintCell(const QAbstractItemDelegate &delegate, QSize imageSize, QRect cell,
                 const QModelIndex &index)
{
    return paintCell(delegate, imageSize, cellOption(cell), index);
}

// Bounding box of text ink: pixels at least half covered by `ink` over white.
QRect inkBounds(const QImage &image, QColor ink)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = pixelAt(image, x, y);
            if (colorDistance(pixel, ink) < colorDistance(pixel, kBackground))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

} // namespace

class TestNodeTableView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void rowsKeepTheirHeight();
    void clickSelectsNothing();
    void viewDrawsEveryRow();
    void badgeRectangle_data();
    void badgeRectangle();
    void badgeLabel_data();
    void badgeLabel();
    void statusText_data();
    void statusText();
    void cellTexts_data();
    void cellTexts();
    void sizeHints_data();
    void sizeHints();
    void joystickCell_data();
    void joystickCell();
    void accelerometerBands_data();
    void accelerometerBands();
    void accelerometerProgress_data();
    void accelerometerProgress();
    void barsStayInTheirCell();
};

void TestNodeTableView::initTestCase()
{
    recorder = new RecordingStyle;
    QApplication::setStyle(recorder);
    QApplication::setPalette(testPalette());
}

void TestNodeTableView::init()
{
    recorder->bars.clear();
}

void TestNodeTableView::rowsKeepTheirHeight()
{
    MarloNodeTableView view(nullptr);
    QStandardItemModel model;
    for (int id = 0; id < 5; ++id)
        addNode(model, id, "pending...", 0, kGray, kGray, Neutral, QVector3D());
    view.setModel(&model);
    view.resizeColumnsToContents();
    view.setFixedSize(600, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QVERIFY(!view.verticalHeader()->isVisibleTo(&view));
    for (int column = 0; column < 5; ++column)
        QCOMPARE(view.itemDelegateForColumn(column)->parent(), &view);

    // The joystick cells would like 48 pixels; the rows stay at 28.
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(view.rowHeight(row), 28);
        QCOMPARE(view.rowViewportPosition(row), 28 * row);
    }
    model.setRowCount(3);
    view.reset();
    QCOMPARE(view.rowHeight(2), 28);

    // The columns share the whole width.
    int total = 0;
    for (int column = 0; column < 5; ++column) {
        QVERIFY(std::abs(view.columnWidth(column) - view.viewport()->width() / 5) <= 1);
        total += view.columnWidth(column);
    }
    QCOMPARE(total, view.viewport()->width());
}

void TestNodeTableView::clickSelectsNothing()
{
    MarloNodeTableView view(nullptr);
    QStandardItemModel model;
    for (int id = 0; id < 3; ++id)
        addNode(model, id, "12 ms", 0, kGreen, kGreen, Neutral, QVector3D());
    view.setModel(&model);
    view.setFixedSize(500, 200);
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));

    for (int column : {0, 2, 4}) {
        const QRect cell = view.visualRect(model.index(1, column));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    QVERIFY(view.selectionModel()->selectedIndexes().isEmpty());
    QVERIFY(!view.hasFocus());
}

void TestNodeTableView::viewDrawsEveryRow()
{
    MarloNodeTableView view(nullptr);
    view.setFont(testFont());
    QStandardItemModel model;
    addNode(model, 1, "74 ms", 0, kGreen, kGreen, Up, QVector3D(0, 0, 0));
    addNode(model, 2, "-", 3, kRed, kRed, Center, QVector3D(2048, 0, -2048));
    addNode(model, 7, "pending...", 0, kGray, kGray, Neutral, QVector3D(100, 200, 300));
    view.setModel(&model);
    view.setFixedSize(600, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage image = view.viewport()->grab().toImage();

    const QColor colors[] = {kGreen, kRed, kGray};
    for (int row = 0; row < 3; ++row) {
        const QRect cell = view.visualRect(model.index(row, 0));
        QCOMPARE(cell.height(), 28);
        // Left part of the badge, clear of the number.
        QCOMPARE(pixelAt(image, cell.center().x() - 10, cell.center().y()), colors[row]);
        QCOMPARE(pixelAt(image, cell.center().x() - 16, cell.center().y()), kBackground);
        // The coloured texts of the next two columns.
        QVERIFY(inkBounds(image.copy(view.visualRect(model.index(row, 1))), colors[row]).isValid());
        QVERIFY(inkBounds(image.copy(view.visualRect(model.index(row, 2))), colors[row]).isValid());
    }
    // The joystick column: the upper arrow of row 0 and the disc of row 1 are highlighted.
    const QPoint disc = view.visualRect(model.index(1, 3)).center();
    QCOMPARE(pixelAt(image, disc.x(), disc.y()), kHighlight);
    const QPoint neutral = view.visualRect(model.index(2, 3)).center();
    QCOMPARE(pixelAt(image, neutral.x(), neutral.y()), kMidlight);
    // Three bars per row in the last column.
    QCOMPARE(recorder->bars.size() % 3, 0);
    QVERIFY(recorder->bars.size() >= 9);

    // No grid: the last line of each row and the last column of each cell stay blank.
    for (int row = 0; row < 3; ++row) {
        const QRect statusCell = view.visualRect(model.index(row, 2));
        for (int x = statusCell.left(); x <= statusCell.right(); ++x)
            QCOMPARE(pixelAt(image, x, statusCell.bottom()), kBackground);
        for (int y = statusCell.top(); y <= statusCell.bottom(); ++y)
            QCOMPARE(pixelAt(image, statusCell.right(), y), kBackground);
    }
}

void TestNodeTableView::badgeRectangle_data()
{
    QTest::addColumn<QRect>("cell");
    QTest::addColumn<QRect>("badge");

    QTest::newRow("100 x 28 cell") << QRect(10, 20, 100, 28) << QRect(47, 21, 26, 26);
    QTest::newRow("odd width") << QRect(10, 20, 99, 28) << QRect(47, 21, 25, 26);
    QTest::newRow("odd height") << QRect(10, 20, 100, 29) << QRect(47, 22, 26, 25);
    QTest::newRow("narrower than the badge") << QRect(30, 20, 20, 28) << QRect(28, 21, 24, 26);
    QTest::newRow("narrow and odd") << QRect(30, 20, 21, 28) << QRect(28, 21, 25, 26);
    QTest::newRow("tall row") << QRect(0, 0, 50, 48) << QRect(12, 11, 26, 26);
}

void TestNodeTableView::badgeRectangle()
{
    QFETCH(QRect, cell);
    QFETCH(QRect, badge);

    NodeIdItemDelegate delegate;
    OneCell model(0, QColor(Qt::darkGreen));
    const QImage image = paintCell(delegate, QSize(140, 80), cell, model.index());
    QCOMPARE(boundsOf(image, kGreen), badge);
    // Rounded corners: the very corner pixel is not filled.
    QVERIFY(pixelAt(image, badge.left(), badge.top()) != kGreen);
}

void TestNodeTableView::badgeLabel_data()
{
    QTest::addColumn<QVariant>("id");
    QTest::addColumn<QString>("text");

    QTest::newRow("node 0") << QVariant(0) << "0";
    QTest::newRow("node 7") << QVariant(7) << "7";
    QTest::newRow("highest node id") << QVariant(127) << "127";
    QTest::newRow("wider than the badge") << QVariant(88888) << "88888";
    QTest::newRow("unsigned display value") << QVariant(42u) << "42";
}

void TestNodeTableView::badgeLabel()
{
    QFETCH(QVariant, id);
    QFETCH(QString, text);

    NodeIdItemDelegate delegate;
    OneCell model(id, QColor(Qt::darkGreen));
    const QRect cell(20, 10, 100, 28);
    const QImage image = paintCell(delegate, QSize(140, 50), cell, model.index());

    // Bold 10 points, whatever the cell's font.
    QFont bold = testFont();
    bold.setWeight(75);
    bold.setPointSize(10);
    QFont regular = bold;
    regular.setWeight(QFont::Normal);
    const QRect expected = QFontMetrics(bold).tightBoundingRect(text);
    const QRect ink = inkBounds(image, kHighlightedText);
    QVERIFY(ink.isValid());
    QVERIFY2(std::abs(ink.width() - expected.width()) <= 1,
             qPrintable(QString("ink %1 wide, text %2").arg(ink.width()).arg(expected.width())));
    QVERIFY(std::abs(ink.height() - expected.height()) <= 1);
    if (text.size() > 2)
        QVERIFY(std::abs(QFontMetrics(regular).tightBoundingRect(text).width() - expected.width())
                >= 3);
    QVERIFY(std::abs(ink.center().x() - cell.center().x()) <= 2);
    QVERIFY(std::abs(ink.center().y() - cell.center().y()) <= 2);
}

void TestNodeTableView::statusText_data()
{
    QTest::addColumn<uint>("errors");
    QTest::addColumn<QString>("text");

    QTest::newRow("no errors") << 0u << "Good";
    QTest::newRow("one error, no singular") << 1u << "1 errors";
    QTest::newRow("twelve") << 12u << "12 errors";
    QTest::newRow("largest signed count") << uint(INT_MAX) << "2147483647 errors";
    QTest::newRow("past the signed range") << uint(INT_MAX) + 1u << "2147483648 errors";
    QTest::newRow("largest count") << UINT_MAX << "4294967295 errors";
}

void TestNodeTableView::statusText()
{
    QFETCH(uint, errors);
    QFETCH(QString, text);

    QCOMPARE(StatusItemDelegate::statusText(errors), text);
}

void TestNodeTableView::cellTexts_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QString>("text");

    QTest::newRow("delay in ms") << 1 << QVariant("200 ms") << kGreen << "200 ms";
    QTest::newRow("delay pending") << 1 << QVariant("pending...") << kGray << "pending...";
    QTest::newRow("no delay") << 1 << QVariant("-") << kRed << "-";
    QTest::newRow("status good") << 2 << QVariant(0u) << kGreen << "Good";
    QTest::newRow("status one error") << 2 << QVariant(1u) << kRed << "1 errors";
    QTest::newRow("status many errors") << 2 << QVariant(345u) << kRed << "345 errors";
    QTest::newRow("status past the signed range")
            << 2 << QVariant(uint(INT_MAX) + 1u) << kRed << "2147483648 errors";
    QTest::newRow("status pending") << 2 << QVariant(0u) << kGray << "Good";
}

void TestNodeTableView::cellTexts()
{
    QFETCH(int, column);
    QFETCH(QVariant, display);
    QFETCH(QColor, color);
    QFETCH(QString, text);

    DelayItemDelegate delay;
    StatusItemDelegate status;
    const QAbstractItemDelegate &delegate
            = column == 1 ? static_cast<QAbstractItemDelegate &>(delay) : status;
    OneCell model(display, color);
    const QRect cell(10, 20, 200, 28);
    const QImage image = paintCell(delegate, QSize(220, 60), cell, model.index());

    const QRect expected = QFontMetrics(testFont()).tightBoundingRect(text);
    const QRect ink = inkBounds(image, color);
    QVERIFY(ink.isValid());
    // Hinting differs a little between the metrics and the image; a letter more or less does not.
    QVERIFY2(std::abs(ink.width() - expected.width()) <= 2 + expected.width() / 25,
             qPrintable(QString("ink %1 wide, text %2").arg(ink.width()).arg(expected.width())));
    QVERIFY(std::abs(ink.center().x() - cell.center().x()) <= 2);
    if (text != "-")
        QVERIFY(std::abs(ink.center().y() - cell.center().y()) <= 3);
    // Drawn in the foreground colour itself.
    QVERIFY(boundsOf(image, color, 24).isValid());
}

void TestNodeTableView::sizeHints_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<QSize>("size");

    const QFontMetrics metrics(testFont());
    const QSize status = metrics.size(0, "XXX errors") + QSize(4, 4);
    QTest::newRow("node id") << 0 << QVariant(5) << QSize(32, 32);
    QTest::newRow("delay in ms") << 1 << QVariant("200 ms")
                                 << metrics.size(0, "200 ms") + QSize(4, 4);
    QTest::newRow("delay pending")
            << 1 << QVariant("pending...") << metrics.size(0, "pending...") + QSize(4, 4);
    QTest::newRow("status good") << 2 << QVariant(0u) << status;
    QTest::newRow("status with a long count") << 2 << QVariant(123456u) << status;
    QTest::newRow("joystick") << 3 << QVariant(8u) << QSize(48, 48);
    QTest::newRow("accelerometer") << 4 << QVariant::fromValue(QVector3D(1, 2, 3)) << QSize(64, 20);
}

void TestNodeTableView::sizeHints()
{
    QFETCH(int, column);
    QFETCH(QVariant, display);
    QFETCH(QSize, size);

    MarloNodeTableView view(nullptr);
    OneCell model(display);
    QCOMPARE(view.itemDelegateForColumn(column)->sizeHint(cellOption(QRect()), model.index()),
             size);
}

void TestNodeTableView::joystickCell_data()
{
    QTest::addColumn<uint>("position");
    QTest::addColumn<bool>("upHighlighted");
    QTest::addColumn<bool>("centreHighlighted");

    QTest::newRow("neutral") << uint(Neutral) << false << false;
    QTest::newRow("up") << uint(Up) << true << false;
    QTest::newRow("centre") << uint(Center) << false << true;
    QTest::newRow("up and centre") << uint(Up | Center) << true << true;
    QTest::newRow("nothing") << 0u << false << false;
}

void TestNodeTableView::joystickCell()
{
    QFETCH(uint, position);
    QFETCH(bool, upHighlighted);
    QFETCH(bool, centreHighlighted);

    JoystickItemDelegate delegate;
    OneCell model(position);
    // The cell's palette, not the application's.
    const QColor cellHighlight(200, 0, 200);
    QStyleOptionViewItem option = cellOption(QRect(10, 10, 68, 68));
    option.palette.setColor(QPalette::Highlight, cellHighlight);

    // The picture fills the whole cell less the drawing's own 2 pixels: scale one in 68 x 68,
    // design units offset by (12, 12) here.
    const QImage image = paintCell(delegate, QSize(90, 90), option, model.index());
    QCOMPARE(pixelAt(image, 12 + 32, 12 + 8), upHighlighted ? cellHighlight : kMidlight);
    QCOMPARE(pixelAt(image, 12 + 32, 12 + 32), centreHighlighted ? cellHighlight : kMidlight);
    QCOMPARE(pixelAt(image, 12 + 16, 12 + 32), kBackground);

    // In a table row the picture shrinks to 24 of its 64 units around the cell's centre.
    option.rect = QRect(10, 5, 100, 28);
    const QImage row = paintCell(delegate, QSize(120, 40), option, model.index());
    QCOMPARE(pixelAt(row, 59, 18), centreHighlighted ? cellHighlight : kMidlight);
    QCOMPARE(pixelAt(row, 59, 5), kBackground);
    QCOMPARE(pixelAt(row, 59, 33), kBackground);
    QCOMPARE(pixelAt(row, 45, 18), kBackground);
}

void TestNodeTableView::accelerometerBands_data()
{
    QTest::addColumn<QRect>("cell");
    QTest::addColumn<QVector<QRect>>("bars");

    QTest::newRow("28-pixel row: bands of 6")
            << QRect(0, 0, 100, 28)
            << QVector<QRect>{QRect(QPoint(4, 4), QPoint(95, 9)),
                              QRect(QPoint(4, 10), QPoint(95, 15)),
                              QRect(QPoint(4, 16), QPoint(95, 21))};
    QTest::newRow("28-pixel row further down")
            << QRect(50, 56, 80, 28)
            << QVector<QRect>{QRect(QPoint(54, 60), QPoint(125, 65)),
                              QRect(QPoint(54, 66), QPoint(125, 71)),
                              QRect(QPoint(54, 72), QPoint(125, 77))};
    QTest::newRow("48-pixel row: 10-pixel bars centred in bands of 13")
            << QRect(0, 0, 100, 48)
            << QVector<QRect>{QRect(QPoint(4, 5), QPoint(95, 14)),
                              QRect(QPoint(4, 18), QPoint(95, 27)),
                              QRect(QPoint(4, 31), QPoint(95, 40))};
    QTest::newRow("bands of exactly 10 stay as they are")
            << QRect(0, 0, 64, 38)
            << QVector<QRect>{QRect(QPoint(4, 4), QPoint(59, 13)),
                              QRect(QPoint(4, 14), QPoint(59, 23)),
                              QRect(QPoint(4, 24), QPoint(59, 33))};
    QTest::newRow("bands of 11 are narrowed")
            << QRect(0, 0, 64, 41)
            << QVector<QRect>{QRect(QPoint(4, 4), QPoint(59, 13)),
                              QRect(QPoint(4, 15), QPoint(59, 24)),
                              QRect(QPoint(4, 26), QPoint(59, 35))};
}

void TestNodeTableView::accelerometerBands()
{
    QFETCH(QRect, cell);
    QFETCH(QVector<QRect>, bars);

    AccelerometerItemDelegate delegate;
    OneCell model(QVariant::fromValue(QVector3D(1, 2, 3)));
    paintCell(delegate, QSize(140, 100), cell, model.index());

    QCOMPARE(recorder->bars.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(recorder->bars[i].rect, bars[i]);
}

void TestNodeTableView::accelerometerProgress_data()
{
    QTest::addColumn<QVariant>("display");
    QTest::addColumn<QVector<int>>("progress");

    QTest::newRow("fractions truncated toward zero")
            << QVariant::fromValue(QVector3D(1000.9f, -0.5f, -3000.0f))
            << QVector<int>{1000, 0, -3000};
    QTest::newRow("order x, y, z")
            << QVariant::fromValue(QVector3D(1, -2, 3)) << QVector<int>{1, -2, 3};
    QTest::newRow("range ends") << QVariant::fromValue(QVector3D(2048, -2048, 2047.99f))
                                << QVector<int>{2048, -2048, 2047};
    QTest::newRow("largest raw samples")
            << QVariant::fromValue(QVector3D(32767, -32768, 0)) << QVector<int>{32767, -32768, 0};
    QTest::newRow("beyond int saturates")
            << QVariant::fromValue(QVector3D(1e20f, -1e20f, std::numeric_limits<float>::infinity()))
            << QVector<int>{INT_MAX, INT_MIN, INT_MAX};
    QTest::newRow("not a number reads as zero")
            << QVariant::fromValue(QVector3D(std::numeric_limits<float>::quiet_NaN(), 5, 6))
            << QVector<int>{0, 5, 6};
    QTest::newRow("no value: three half bars") << QVariant() << QVector<int>{0, 0, 0};
}

void TestNodeTableView::accelerometerProgress()
{
    QFETCH(QVariant, display);
    QFETCH(QVector<int>, progress);

    AccelerometerItemDelegate delegate;
    OneCell model(display);
    paintCell(delegate, QSize(120, 40), QRect(0, 0, 100, 28), model.index());

    QCOMPARE(recorder->bars.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(recorder->bars[i].progress, progress[i]);
        QCOMPARE(recorder->bars[i].minimum, -2048);
        QCOMPARE(recorder->bars[i].maximum, 2048);
        QVERIFY(!recorder->bars[i].textVisible);
    }
}

void TestNodeTableView::barsStayInTheirCell()
{
    AccelerometerItemDelegate delegate;
    OneCell model(QVariant::fromValue(QVector3D(3000, 30000, 2048)));
    const QRect cell(10, 10, 100, 28);
    const QImage image = paintCell(delegate, QSize(200, 50), cell, model.index());

    // The bars are drawn and full, but nothing reaches past their right end at x = 105.
    QVERIFY(colorDistance(pixelAt(image, 100, 16), kBackground) > 40);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 106; x < image.width(); ++x)
            QCOMPARE(pixelAt(image, x, y), kBackground);
    }
}

QTEST_MAIN(TestNodeTableView)
#include "tst_nodetableview.moc"
