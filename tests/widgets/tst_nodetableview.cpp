#include "widgets/marlonodetableview.h"
#include "widgets/qjoystickwidget.h"
#include "widgettesthelpers.h"

#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionProgressBar>
#include <QTest>
#include <QVector3D>

#include <climits>
#include <limits>

namespace {

const QColor kGreen = QColor(Qt::darkGreen);
const QColor kRed = QColor(Qt::darkRed);

// Fusion, noting every progress bar it is asked to draw.
struct RecordingStyle : QProxyStyle
{
    using QProxyStyle::QProxyStyle;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        auto bar = qstyleoption_cast<const QStyleOptionProgressBar *>(option);
        if (element == CE_ProgressBar && bar)
            bars.append(*bar);
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable QList<QStyleOptionProgressBar> bars;
};

RecordingStyle *recorder = nullptr;

// Paints column `column` of a view's one cell whose model holds the given values.
QImage paintCell(int column, QRect cell, const QVariant &display, const QVariant &foreground = {},
                 const QPalette &palette = QPalette())
{
    MarloNodeTableView view(nullptr);
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), display);
    model.setData(model.index(0, 0), foreground, Qt::ForegroundRole);
    QStyleOptionViewItem option;
    option.rect = cell;
    option.palette = palette;
    QImage image(220, 100, QImage::Format_ARGB32);
    image.fill(kBackground);
    QPainter painter(&image);
    view.itemDelegateForColumn(column)->paint(&painter, option, model.index(0, 0));
    return image;
}

} // namespace

class TestNodeTableView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        useTestLook();
        recorder = new RecordingStyle(QStringLiteral("Fusion"));
        QApplication::setStyle(recorder);
    }

    void badge_data()
    {
        QTest::addColumn<QRect>("cell");
        QTest::addColumn<uint>("id");
        QTest::addColumn<QRect>("badge");
        QTest::newRow("100 x 28 cell") << QRect(10, 20, 100, 28) << 127u << QRect(47, 21, 26, 26);
        QTest::newRow("odd width") << QRect(10, 20, 99, 28) << 0u << QRect(47, 21, 25, 26);
        QTest::newRow("narrow cell") << QRect(30, 20, 20, 28) << 7u << QRect(28, 21, 24, 26);
        QTest::newRow("tall row") << QRect(0, 0, 50, 48) << 31u << QRect(12, 11, 26, 26);
    }
    void badge()
    {
        QFETCH(QRect, cell);
        QFETCH(uint, id);
        QFETCH(QRect, badge);
        const QImage image = paintCell(0, cell, id, kGreen);
        QCOMPARE(boundsOf(image, kGreen), badge);
        QVERIFY(image.pixelColor(badge.topLeft()) != kGreen); // rounded
        // The id centred, in highlighted-text colour.
        const QRect ink = boundsWhere(image, [](QColor c) {
            return colorDistance(c, kHighlightedText) < colorDistance(c, kBackground);
        });
        QVERIFY(ink.isValid() && (ink.center() - cell.center()).manhattanLength() <= 3);
    }

    void texts_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QVariant>("display");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("text");
        QTest::newRow("delay in ms") << 1 << QVariant("200 ms") << kGreen << "200 ms";
        QTest::newRow("status good") << 2 << QVariant(0u) << kGreen << "Good";
        QTest::newRow("one error, no singular") << 2 << QVariant(1u) << kRed << "1 errors";
        QTest::newRow("count past the signed range")
                << 2 << QVariant(uint(INT_MAX) + 1u) << kRed << "2147483648 errors";
    }
    void texts()
    {
        QFETCH(int, column);
        QFETCH(QVariant, display);
        QFETCH(QColor, color);
        QFETCH(QString, text);
        if (column == 2)
            QCOMPARE(StatusItemDelegate::statusText(display.toUInt()), text);
        const QFontMetrics metrics{QFont()};
        // Centred, in the foreground colour itself. Hinting differs a little between the metrics
        // and the image; a letter more or less does not.
        const QRect cell(10, 20, 200, 28);
        const QImage image = paintCell(column, cell, display, color);
        const QRect ink = boundsOf(image, color, colorDistance(color, kBackground) / 2);
        const int width = metrics.tightBoundingRect(text).width();
        QVERIFY(qAbs(ink.width() - width) <= 2 + width / 25);
        QVERIFY((ink.center() - cell.center()).manhattanLength() <= 4);
    }

    // The cell's palette, not the application's; in a table row the picture shrinks to 24 units
    // of 64, centred in the cell.
    void joystickCell()
    {
        QPalette palette;
        palette.setColor(QPalette::Highlight, Qt::red);
        const QImage image = paintCell(3, {10, 5, 100, 28}, Up | Center, {}, palette);
        QCOMPARE(image.pixelColor(59, 18), QColor(Qt::red));
        QCOMPARE(image.pixelColor(59, 10), QColor(Qt::red));
        QCOMPARE(image.pixelColor(50, 18), kMidlight);
        for (QPoint outside : {QPoint(59, 5), QPoint(59, 33), QPoint(45, 18), QPoint(73, 18)})
            QCOMPARE(image.pixelColor(outside), kBackground);
    }

    void accelerometer_data()
    {
        QTest::addColumn<QRect>("cell");
        QTest::addColumn<QVector3D>("sample");
        QTest::addColumn<QRect>("first"); // the x bar; y and z follow one band lower each
        QTest::addColumn<int>("band");
        QTest::addColumn<QVector<int>>("progress");
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("28-pixel row: bands of 6, fractions truncated")
                << QRect(50, 56, 80, 28) << QVector3D(1000.9f, -0.5f, -3000.0f)
                << QRect(54, 60, 72, 6) << 6 << QVector<int>{1000, 0, -3000};
        QTest::newRow("48-pixel row: 10-pixel bars centred in bands of 13")
                << QRect(0, 0, 100, 48) << QVector3D(1, -2, 3) << QRect(4, 5, 92, 10) << 13
                << QVector<int>{1, -2, 3};
        QTest::newRow("bands of 11 are narrowed, past full")
                << QRect(0, 0, 64, 41) << QVector3D(2048, 30000, -2048) << QRect(4, 4, 56, 10) << 11
                << QVector<int>{2048, 30000, -2048};
        QTest::newRow("beyond int saturates, NaN reads as zero")
                << QRect(0, 0, 100, 28) << QVector3D(1e20f, -1e20f, nan) << QRect(4, 4, 92, 6) << 6
                << QVector<int>{INT_MAX, INT_MIN, 0};
    }
    void accelerometer()
    {
        QFETCH(QRect, cell);
        QFETCH(QVector3D, sample);
        QFETCH(QRect, first);
        QFETCH(int, band);
        QFETCH(QVector<int>, progress);
        recorder->bars.clear();
        const QImage image = paintCell(4, cell, QVariant::fromValue(sample));
        QCOMPARE(recorder->bars.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QStyleOptionProgressBar &bar = recorder->bars[i];
            QCOMPARE(bar.rect, first.translated(0, i * band));
            QCOMPARE(bar.progress, progress[i]);
            QVERIFY(bar.minimum == -2048 && bar.maximum == 2048 && !bar.textVisible);
        }
        // However full, nothing reaches past the bars' right end.
        QVERIFY(!isBlank(image));
        QVERIFY(isBlank(image.copy(first.right() + 1, 0, 219 - first.right(), 100)));
    }

    // The kept pictures must give the very pixels of drawing in place, also for rows the viewport
    // cuts at its edges and for cells whose pictures were made for other rows.
    void picturesMatchDrawingInPlace()
    {
        QStandardItemModel model(40, 5);
        for (int row = 0; row < model.rowCount(); ++row) {
            const QColor colour = row % 3 ? kGreen : kRed;
            const auto set = [&](int column, const QVariant &value) {
                model.setData(model.index(row, column), value);
                model.setData(model.index(row, column), colour, Qt::ForegroundRole);
            };
            set(0, uint(row * 3));
            set(1, QString("%1 ms").arg(row % 7 * 10 + 5));
            set(2, uint(row % 4));
            set(3, uint(1u << (row % 6)));
            set(4, QVector3D(row * 97 - 2000, -row * 50, row % 3 ? 3000 : -100));
        }
        MarloNodeTableView view;
        view.setModel(&model);
        view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view.resize(700, 250);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int offset : {0, 45, 290}) {
            view.verticalScrollBar()->setValue(offset);
            const QImage kept = view.viewport()->grab().toImage();
            MarloNodeTableView::setPicturesKept(false);
            const QImage inPlace = view.viewport()->grab().toImage();
            MarloNodeTableView::setPicturesKept(true);
            QCOMPARE(kept, inPlace);
        }
    }
};

QTEST_MAIN(TestNodeTableView)
#include "tst_nodetableview.moc"
