#include "gatewaytesting.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QSignalSpy>
#include <QTest>

namespace {

const QColor kGray(Qt::darkGray);
const QColor kGreen(Qt::darkGreen);
const QColor kRed(Qt::darkRed);

QStringList labels(const QList<QEventTimeslotWidgetEvent> &marks)
{
    QStringList result;
    for (const QEventTimeslotWidgetEvent &mark : marks)
        result << mark.label;
    return result;
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void emptyEngine();
    void headers_data();
    void headers();
    void nodeRow_data();
    void nodeRow();
    void everyColumnIsCentred();
    void rolesWithoutValue_data();
    void rolesWithoutValue();
    void markPositions_data();
    void markPositions();
    void marksOnlyForAnsweringNodesInIdOrder();
    void rowChangesResetTheModel_data();
    void rowChangesResetTheModel();
};

void TestModel::emptyEngine()
{
    TalvenNetwork network;
    QAbstractItemModelTester tester(&network,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(network.rowCount(), 0);
    QCOMPARE(network.columnCount(), 5);
    QCOMPARE(network.timeslotCount(), 32);
    QVERIFY(network.events().isEmpty());
}

void TestModel::headers_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    const int h = Qt::Horizontal;
    QTest::newRow("node id") << 0 << h << int(Qt::DisplayRole) << QVariant("Node ID");
    QTest::newRow("delay") << 1 << h << int(Qt::DisplayRole) << QVariant("MPDU cycle delay");
    QTest::newRow("status") << 2 << h << int(Qt::DisplayRole) << QVariant("Status");
    QTest::newRow("joystick") << 3 << h << int(Qt::DisplayRole) << QVariant("Joystick");
    QTest::newRow("accelerometer") << 4 << h << int(Qt::DisplayRole) << QVariant("Accelerometer");
    QTest::newRow("one section too far") << 5 << h << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("negative section") << -1 << h << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("vertical header has no texts")
            << 0 << int(Qt::Vertical) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("tool tip") << 0 << h << int(Qt::ToolTipRole) << QVariant();
}

void TestModel::headers()
{
    QFETCH(int, section);
    QFETCH(int, orientation);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TalvenNetwork network;
    const QVariant header = network.headerData(section, Qt::Orientation(orientation), role);
    QCOMPARE(header.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(header.userType(), int(QMetaType::QString));
        QCOMPARE(header.toString(), expected.toString());
    }
}

void TestModel::nodeRow_data()
{
    QTest::addColumn<bool>("beacon");
    QTest::addColumn<QByteArray>("answer"); // empty: the node stays silent
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<bool>("closeCycle");
    QTest::addColumn<QString>("delayText");
    QTest::addColumn<uint>("status");
    QTest::addColumn<uint>("joystick");
    QTest::addColumn<QVector3D>("accelerometer");
    QTest::addColumn<QColor>("slotColor");
    QTest::addColumn<QColor>("statusColor");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<double>("position");
    QTest::addColumn<QColor>("markColor");

    const QByteArray plain = mpdu(3, 0);
    const QVector3D still;
    QTest::newRow("first seen outside a cycle")
            << false << QByteArray() << qint64(0) << false << "-" << 0u << 1u << still << kRed
            << kGreen << false << 0.0 << QColor();
    QTest::newRow("pending right after the beacon")
            << true << QByteArray() << qint64(0) << false << "pending..." << 0u << 1u << still
            << kGray << kGray << false << 0.0 << QColor();
    QTest::newRow("answered in its slot")
            << true << plain << qint64(200) << false << "200 ms" << 0u << 1u << still << kGreen
            << kGreen << true << 0.09375 << kGreen;
    QTest::newRow("answered in its slot, cycle over")
            << true << plain << qint64(250) << true << "250 ms" << 0u << 1u << still << kGreen
            << kGreen << true << 0.125 << kGreen;
    QTest::newRow("answered late") << true << plain << qint64(300) << false << "300 ms" << 1u << 1u
                                   << still << kRed << kRed << true << 0.15625 << kRed;
    QTest::newRow("answered inside the beacon's slot")
            << true << plain << qint64(25) << false << "25 ms" << 1u << 1u << still << kRed << kRed
            << true << -0.015625 << kRed;
    QTest::newRow("silent for a whole cycle")
            << true << QByteArray() << qint64(0) << true << "-" << 1u << 1u << still << kRed << kRed
            << false << 0.0 << QColor();
    QTest::newRow("so late that the delay reads as pending")
            << true << plain << qint64(40000) << false << "pending..." << 1u << 1u << still << kGray
            << kGray << true << (-25536.0 - 50.0) / 1600.0 << kRed;
    QTest::newRow("in its slot with a bad payload")
            << true << mpdu(3, 1, "c0") << qint64(200) << false << "200 ms" << 1u << 1u << still
            << kGreen << kRed << true << 0.09375 << kGreen;
    QTest::newRow("decoded joystick and accelerometer")
            << true << mpdu(3, 2, "16 e803 18fc 0000  c1 04") << qint64(200) << false << "200 ms"
            << 0u << 4u << QVector3D(1000, -1000, 0) << kGreen << kGreen << true << 0.09375
            << kGreen;
}

void TestModel::nodeRow()
{
    QFETCH(bool, beacon);
    QFETCH(QByteArray, answer);
    QFETCH(qint64, offset);
    QFETCH(bool, closeCycle);
    QFETCH(QString, delayText);
    QFETCH(uint, status);
    QFETCH(uint, joystick);
    QFETCH(QVector3D, accelerometer);
    QFETCH(QColor, slotColor);
    QFETCH(QColor, statusColor);
    QFETCH(bool, marked);
    QFETCH(double, position);
    QFETCH(QColor, markColor);

    Bench bench;
    QAbstractItemModelTester tester(&bench.network,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&bench.network, &TalvenNetwork::cycleFinished);
    bench.network.nodeFor(3);
    if (beacon)
        bench.network.sendBeacon(closeCycle ? 60 : 60000, 50, 0xFFFF);
    if (!answer.isEmpty())
        bench.receiveAfterBeacon(offset, answer);
    if (closeCycle)
        QVERIFY(finished.wait(10000));

    QCOMPARE(bench.network.rowCount(), 1);
    const auto cell = [&](int column, int role) {
        return bench.network.data(bench.network.index(0, column), role);
    };
    QCOMPARE(cell(0, Qt::DisplayRole).userType(), int(QMetaType::Int));
    QCOMPARE(cell(0, Qt::DisplayRole).toInt(), 3);
    QCOMPARE(cell(1, Qt::DisplayRole).userType(), int(QMetaType::QString));
    QCOMPARE(cell(1, Qt::DisplayRole).toString(), delayText);
    QCOMPARE(cell(2, Qt::DisplayRole).userType(), int(QMetaType::UInt));
    QCOMPARE(cell(2, Qt::DisplayRole).toUInt(), status);
    QCOMPARE(cell(3, Qt::DisplayRole).userType(), int(QMetaType::UInt));
    QCOMPARE(cell(3, Qt::DisplayRole).toUInt(), joystick);
    QCOMPARE(cell(4, Qt::DisplayRole).userType(), int(QMetaType::QVector3D));
    QCOMPARE(cell(4, Qt::DisplayRole).value<QVector3D>(), accelerometer);
    QCOMPARE(cell(0, Qt::ForegroundRole).value<QColor>(), slotColor);
    QCOMPARE(cell(1, Qt::ForegroundRole).value<QColor>(), slotColor);
    QCOMPARE(cell(2, Qt::ForegroundRole).value<QColor>(), statusColor);

    const QList<QEventTimeslotWidgetEvent> marks = bench.network.events();
    QCOMPARE(marks.size(), marked ? 1 : 0);
    if (marked) {
        QCOMPARE(marks.first().position, position);
        QCOMPARE(marks.first().label, QStringLiteral("3"));
        QCOMPARE(marks.first().color, markColor);
    }
}

void TestModel::everyColumnIsCentred()
{
    TalvenNetwork network;
    network.nodeFor(1);
    for (int column = 0; column < 5; ++column) {
        const QVariant alignment = network.data(network.index(0, column), Qt::TextAlignmentRole);
        QCOMPARE(alignment.toInt(), 0x84);
    }
}

void TestModel::rolesWithoutValue_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");

    QTest::newRow("joystick has no colour") << 3 << int(Qt::ForegroundRole);
    QTest::newRow("accelerometer has no colour") << 4 << int(Qt::ForegroundRole);
    QTest::newRow("no edit value") << 0 << int(Qt::EditRole);
    QTest::newRow("no tool tip") << 1 << int(Qt::ToolTipRole);
    QTest::newRow("no background") << 2 << int(Qt::BackgroundRole);
    QTest::newRow("no decoration") << 4 << int(Qt::DecorationRole);
}

void TestModel::rolesWithoutValue()
{
    QFETCH(int, column);
    QFETCH(int, role);

    TalvenNetwork network;
    network.nodeFor(1);
    QVERIFY(!network.data(network.index(0, column), role).isValid());

    // An index kept from before the list was cleared points at no row any more.
    const QModelIndex kept = network.index(0, column);
    network.clearNodes();
    QVERIFY(!network.data(kept, Qt::DisplayRole).isValid());
    QVERIFY(!network.data(kept, Qt::TextAlignmentRole).isValid());
}

void TestModel::markPositions_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("node");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<double>("position");

    QTest::newRow("node 0 at its lower bound is the left end") << 50 << 0 << qint64(50) << 0.0;
    QTest::newRow("node 31 at its upper bound is the right end") << 50 << 31 << qint64(1650) << 1.0;
    QTest::newRow("node 3 inside timeline slot 3") << 50 << 3 << qint64(200) << 0.09375;
    QTest::newRow("inside the beacon's slot lies left of the axis")
            << 50 << 0 << qint64(25) << -0.015625;
    QTest::newRow("node 127 lies right of the axis") << 50 << 127 << qint64(6400) << 3.96875;
    QTest::newRow("one second slots") << 1000 << 0 << qint64(1500) << 0.015625;
}

void TestModel::markPositions()
{
    QFETCH(int, slot);
    QFETCH(int, node);
    QFETCH(qint64, offset);
    QFETCH(double, position);

    Bench bench;
    bench.network.sendBeacon(60000, slot, 0);
    bench.receiveAfterBeacon(offset, mpdu(node, 0));

    const QList<QEventTimeslotWidgetEvent> marks = bench.network.events();
    QCOMPARE(marks.size(), 1);
    QCOMPARE(marks.first().position, position);
    QCOMPARE(marks.first().label, QString::number(node));
}

void TestModel::marksOnlyForAnsweringNodesInIdOrder()
{
    Bench bench;
    for (int id : {2, 12, 1, 3})
        bench.network.nodeFor(uint8_t(id));
    bench.network.sendBeacon(60000, 10, 0);

    bench.receiveAfterBeacon(130, mpdu(12, 0));
    bench.receiveAfterBeacon(500, mpdu(3, 0));
    bench.receiveAfterBeacon(20, mpdu(1, 0));

    const QList<QEventTimeslotWidgetEvent> marks = bench.network.events();
    QCOMPARE(labels(marks), (QStringList{"1", "3", "12"}));
    QCOMPARE(marks.at(0).color, kGreen);
    QCOMPARE(marks.at(1).color, kRed);
    QCOMPARE(marks.at(2).color, kGreen);
}

void TestModel::rowChangesResetTheModel_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("resets");
    QTest::addColumn<QList<int>>("rows"); // node ids by row afterwards

    QTest::newRow("new node sorted in") << "nodeFor 5" << 1 << QList<int>{2, 5, 9};
    QTest::newRow("known node") << "nodeFor 9" << 0 << QList<int>{2, 9};
    QTest::newRow("first MPDU of a node") << "MPDU of 0" << 1 << QList<int>{0, 2, 9};
    QTest::newRow("MPDU of a known node") << "MPDU of 2" << 0 << QList<int>{2, 9};
    QTest::newRow("clearing the list") << "clear" << 1 << QList<int>();
}

void TestModel::rowChangesResetTheModel()
{
    QFETCH(QString, change);
    QFETCH(int, resets);
    QFETCH(QList<int>, rows);

    Bench bench;
    QAbstractItemModelTester tester(&bench.network,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    bench.network.nodeFor(9);
    bench.network.nodeFor(2);
    bench.network.sendBeacon(60000, 10, 0);
    QSignalSpy aboutToReset(&bench.network, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&bench.network, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&bench.network, &QAbstractItemModel::rowsInserted);

    const int id = change.section(' ', -1).toInt();
    if (change.startsWith("nodeFor"))
        bench.network.nodeFor(uint8_t(id));
    else if (change.startsWith("MPDU"))
        bench.receiveAfterBeacon((id + 1) * 10, mpdu(id, 0));
    else
        bench.network.clearNodes();

    QCOMPARE(aboutToReset.count(), resets);
    QCOMPARE(reset.count(), resets);
    QCOMPARE(inserted.count(), 0);
    QList<int> ids;
    for (int row = 0; row < bench.network.rowCount(); ++row)
        ids << bench.network.data(bench.network.index(row, 0)).toInt();
    QCOMPARE(ids, rows);
}

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
