#include "gateway/runreport.h"
#include "gateway/talvennetwork.h"
#include "statsview/celldelegate.h"
#include "statsview/delaychart.h"
#include "statsview/delaychartdata.h"
#include "statsview/histogramchart.h"
#include "statsview/statisticsmodel.h"
#include "statsview/statisticswindow.h"
#include "support/recordingdriver.h"

#include <QAbstractItemModelTester>
#include <QChart>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray mpdu(int node)
{
    return QByteArray::fromHex("e2e2e2e2") + char(2) + char(0x80 | node) + char(0);
}

// Slot 50 ms: node 0 owns 50-100, node 3 200-250, node 5 300-350. Node 0 is always in its slot,
// node 3 is silent in cycle 3, node 5 is late in cycle 2 and early in cycle 3.
const int kScript[4][3] = {{60, 200, 325}, {70, 210, 375}, {80, -1, 290}, {90, 250, 330}};
const int kNodes[3] = {0, 3, 5};

void runScript(TalvenNetwork &network, RecordingDriver *driver)
{
    QSignalSpy finished(&network, &TalvenNetwork::cycleFinished);
    for (const auto &cycle : kScript) {
        network.sendBeacon(0, 50, 0x0004);
        for (int i = 0; i < 3; ++i) {
            if (cycle[i] >= 0)
                driver->deliver(uint32_t(network.beaconTime() + cycle[i]), mpdu(kNodes[i]));
        }
        QVERIFY(finished.wait());
    }
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 180 && qGreen(pixel) < 70 && qBlue(pixel) < 70;
}

bool isBlue(QRgb pixel)
{
    return qBlue(pixel) > 150 && qBlue(pixel) > qRed(pixel) + 60;
}

} // namespace

class TestStatsView : public QObject
{
    Q_OBJECT

private slots:
    void tableFigures_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<bool>("faulty");
        // cycles, answers, in slot, early, late, silent, payload, format, min, mean, sd, median,
        // p99, max
        QTest::newRow("always in its slot")
                << 0 << QStringList{"4", "4",    "4",    "0",    "0",    "0",    "0",
                                    "0", "60.0", "75.0", "11.2", "75.0", "90.0", "90.0"}
                << false;
        QTest::newRow("a silent cycle: no delay, one fault")
                << 3 << QStringList{"4", "3",     "3",     "0",    "0",     "1",     "0",
                                    "0", "200.0", "220.0", "21.6", "210.0", "250.0", "250.0"}
                << true;
        QTest::newRow("late and early count, and their delays too")
                << 5 << QStringList{"4", "4",     "2",     "1",    "1",     "0",     "0",
                                    "0", "290.0", "330.0", "30.2", "327.5", "375.0", "375.0"}
                << true;
    }

    void tableFigures()
    {
        QFETCH(int, node);
        QFETCH(QStringList, row);
        QFETCH(bool, faulty);

        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        StatisticsModel model(network.statistics());
        QAbstractItemModelTester tester(&model);
        runScript(network, driver);
        model.refresh();

        QCOMPARE(model.rowCount(), 3);
        const int r = model.rowOf(uint8_t(node));
        QStringList got;
        for (int c = StatisticsModel::Cycles; c <= StatisticsModel::DelayMax; ++c)
            got << model.index(r, c).data().toString();
        QCOMPARE(got, row);
        QCOMPARE(model.index(r, 0).data(Qt::BackgroundRole).isValid(), faulty);

        // The figures from the counts are those of the run's own summary.
        const DelaySummary mine = model.delaySummary(r);
        const DelaySummary exact = model.statisticsAt(r)->delays();
        QCOMPARE(mine.count, exact.count);
        for (auto figure :
             {&DelaySummary::min, &DelaySummary::mean, &DelaySummary::standardDeviation,
              &DelaySummary::median, &DelaySummary::p99, &DelaySummary::max})
            QVERIFY(qAbs(mine.*figure - exact.*figure) < 1e-9);

        // A second pass takes in only what is new; a cleared run empties the table.
        runScript(network, driver);
        model.refresh();
        QCOMPARE(model.index(r, StatisticsModel::Cycles).data().toString(), "8");
        network.clearNodes();
        model.refresh();
        QCOMPARE(model.rowCount(), 0);
    }

    void chartPoints()
    {
        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        runScript(network, driver);
        const RunStatistics &run = network.statistics();

        // Node 3's silent cycle 3 is a gap; node 5's late and early answers stand apart.
        const NodeDelayPoints three = delayPoints(*run.node(3), 0.5, 4.5, 800, 400, 0, 400);
        QCOMPARE(three.inSlot, (QVector<QPointF>{{1, 200}, {2, 210}, {4, 250}}));
        QVERIFY(three.outOfSlot.isEmpty());
        const NodeDelayPoints five = delayPoints(*run.node(5), 0.5, 4.5, 800, 400, 0, 400);
        QCOMPARE(five.outOfSlot, (QVector<QPointF>{{2, 375}, {3, 290}}));
        // A delay beyond the axis is drawn at its edge.
        QCOMPARE(delayPoints(*run.node(5), 0.5, 4.5, 800, 400, 0, 350).outOfSlot.first(),
                 QPointF(2, 350));

        // A slot change is a step in the band.
        QSignalSpy finished(&network, &TalvenNetwork::cycleFinished);
        network.sendBeacon(0, 20, 0x0004);
        QVERIFY(finished.wait());
        const SlotBand band = slotBand(run, 5, 0.5, 5.5);
        QCOMPARE(band.lower, (QVector<QPointF>{{0.5, 300}, {4.5, 300}, {4.5, 120}, {5.5, 120}}));
        QCOMPARE(band.upper.last(), QPointF(5.5, 140));

        // Many cycles in few pixels: one point per pixel and kind, and the outlier survives.
        NodeRunStatistics many;
        for (uint32_t cycle = 1; cycle <= 10000; ++cycle)
            many.samples.push_back({cycle, cycle == 5000 ? 900 : int32_t(100 + cycle % 7),
                                    cycle == 5000 ? CycleSample::Late : CycleSample::InSlot, 0});
        const NodeDelayPoints thinned = delayPoints(many, 0.5, 10000.5, 100, 100, 0, 1000);
        QCOMPARE(thinned.inSlot.size(), 100);
        QCOMPARE(thinned.outOfSlot, (QVector<QPointF>{{5000, 900}}));
    }

    // What a reader sees: node 5's slot as a band, its punctual answer as a dot in it, and its
    // late and early answers as red-edged squares beside it; whether the points came cycle by cycle
    // or were all drawn at once.
    void chartDrawsBandAndLatePoint_data()
    {
        QTest::addColumn<bool>("cycleByCycle");
        QTest::newRow("added as the cycles ended") << true;
        QTest::newRow("drawn anew for a new size") << false;
    }

    void chartDrawsBandAndLatePoint()
    {
        QFETCH(bool, cycleByCycle);
        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        DelayChart chart(network.statistics());
        chart.resize(900, 600);
        chart.setNodes({0, 3, 5});
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        connect(&network, &TalvenNetwork::cycleFinished, &chart, &DelayChart::refresh);
        runScript(network, driver);
        if (!cycleByCycle)
            chart.resize(880, 620);
        chart.refresh();

        const QImage image = chart.grab().toImage();
        auto pixelAt = [&](double cycle, double delay) {
            const QPointF scene = chart.chart()->mapToPosition({cycle, delay},
                                                               chart.chart()->series().constLast());
            return chart.mapFromScene(chart.chart()->mapToScene(scene));
        };

        // Inside node 5's band where no point is: tinted with its colour, which is not grey.
        const QRgb band = image.pixel(pixelAt(2.5, 340));
        QVERIFY2(qGreen(band) > qRed(band) + 15 && qGreen(band) < 250,
                 qPrintable(QColor(band).name()));
        // Above every band: plain background.
        QCOMPARE(QColor(image.pixel(pixelAt(2.5, 390))), QColor(Qt::white));

        // The late answer of cycle 2 at 375 ms and the early one of cycle 3 at 290 ms: a red edge
        // around each.
        int red = 0;
        for (const QPoint &square : {pixelAt(2, 375), pixelAt(3, 290)}) {
            red = 0;
            for (int dx = -8; dx <= 8; ++dx)
                for (int dy = -8; dy <= 8; ++dy)
                    red += isRed(image.pixel(square + QPoint(dx, dy)));
            QVERIFY2(red > 20, qPrintable(QString::number(red)));
        }
        // The pointer's tip names the answer under it.
        QCOMPARE(chart.describeAt(chart.mapToScene(pixelAt(2, 375) + QPoint(2, -1))),
                 QStringLiteral("Node 5, cycle 2: 375 ms, late (slot 300-350 ms)"));
        // Where node 5 answered in its slot: a dot of its colour, no such square.
        red = 0;
        const QPoint punctual = pixelAt(1, 325);
        const QRgb dot = image.pixel(punctual);
        QVERIFY2(qRed(dot) < 60 && qGreen(dot) > 120, qPrintable(QColor(dot).name()));
        for (int dx = -8; dx <= 8; ++dx)
            for (int dy = -8; dy <= 8; ++dy)
                red += isRed(image.pixel(punctual + QPoint(dx, dy)));
        QCOMPARE(red, 0);
    }

    // Node 5 (slot 300-350 ms) as the window shows it, not a fresh rendering, after its answers
    // came one by one: the late bar right of both dashed bounds, the early one left of them, each
    // as tall as its count.
    void histogramBarsBesideBounds()
    {
        HistogramChart histogram;
        histogram.resize(600, 400);
        histogram.setVisible(true);
        QVERIFY(QTest::qWaitForWindowExposed(&histogram));
        std::map<int32_t, uint64_t> counts{{325, 8}, {500, 1}};
        histogram.show(5, counts, 300, 350);
        for (int32_t delay : {370, 290, 370, 370}) {
            QCoreApplication::processEvents();
            ++counts[delay];
            histogram.show(5, counts, 300, 350);
        }
        QCOMPARE(histogram.chart()->title(),
                 QStringLiteral(
                         "Node 5, slot 300-350 ms (dashed); off the axis: 0 before, 1 after"));
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        const QImage image = histogram.screen()->grabWindow(histogram.winId()).toImage();
        auto pixelAt = [&](double delay, double answers) {
            QtCharts::QChart *chart = histogram.chart();
            const QPointF at = chart->mapToPosition({delay, answers}, chart->series().constLast());
            return histogram.mapFromScene(chart->mapToScene(at));
        };
        for (const auto &bar : std::vector<std::pair<double, int>>{{290, 1}, {325, 8}, {370, 3}}) {
            QVERIFY(isBlue(image.pixel(pixelAt(bar.first, bar.second - 0.5))));
            QVERIFY(!isBlue(image.pixel(pixelAt(bar.first, bar.second + 0.5))));
        }
        QRect red;
        for (int y = pixelAt(325, 8).y(); y < pixelAt(325, 0).y(); ++y)
            for (int x = 0; x < image.width(); ++x)
                red |= isRed(image.pixel(x, y)) ? QRect(x, y, 1, 1) : QRect();
        QVERIFY(red.left() > pixelAt(290.5, 0).x() && red.left() < pixelAt(300, 0).x());
        QVERIFY(red.right() > pixelAt(350, 0).x() && red.right() < pixelAt(369.5, 0).x());
    }

    // The table's kept cell pictures and grid look exactly as the plain delegate and the view's
    // own grid, for a plain, a selected and a tinted row, before and after the figures change;
    // a repaint with nothing new makes no picture.
    void tableCellsAsPaintedInPlace()
    {
        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        runScript(network, driver);
        StatisticsWindow window(network);
        window.resize(1180, 780);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTableView *table = window.table();
        auto *cells = qobject_cast<CellDelegate *>(table->itemDelegate());
        QVERIFY(cells);
        table->selectRow(1);
        for (int pass = 0; pass < 2; ++pass) {
            const QImage mine = table->viewport()->grab().toImage();
            const int made = cells->picturesMade();
            QCOMPARE(table->viewport()->grab().toImage(), mine);
            QCOMPARE(cells->picturesMade(), made);

            QStyledItemDelegate plain;
            table->setItemDelegate(&plain);
            table->setShowGrid(true);
            const QImage theirs = table->viewport()->grab().toImage();
            table->setItemDelegate(cells);
            table->setShowGrid(false);
            const QRect rows(0, 0, mine.width(), 3 * table->rowHeight(0));
            QCOMPARE(mine.copy(rows), theirs.copy(rows));

            runScript(network, driver);
            window.refresh();
        }
    }

    // The reports are those of talven-gateway, the picture is the chart; a file that cannot be
    // written is named in the error.
    void saveReport()
    {
        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        runScript(network, driver);
        StatisticsWindow window(network);
        QTemporaryDir dir;
        QString error;
        QVERIFY(window.saveReport(dir.filePath("run"), &error));

        QFile xml(dir.filePath("run.xml")), csv(dir.filePath("run.csv"));
        QVERIFY(xml.open(QIODevice::ReadOnly) && csv.open(QIODevice::ReadOnly));
        QCOMPARE(QString(xml.readAll()).count("<testcase "), 3);
        QCOMPARE(csv.readLine(), QByteArray("cycle,beacon_time,node,delay_ms,verdict,faults\r\n"));
        QVERIFY(!QImage(dir.filePath("run.png")).isNull());

        QVERIFY(!window.saveReport(dir.filePath("missing/run"), &error));
        QVERIFY2(error.contains("missing/run.xml"), qPrintable(error));
    }
};

QTEST_MAIN(TestStatsView)

#include "tst_statsview.moc"
