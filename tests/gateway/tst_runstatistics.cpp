#include "gateway/runreport.h"
#include "gateway/talvennetwork.h"
#include "support/frames.h"
#include "support/recordingdriver.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

#include <numeric>

class TestRunStatistics : public QObject
{
    Q_OBJECT

private slots:
    void summary_data()
    {
        QTest::addColumn<std::vector<double>>("values");
        // min, mean, standard deviation, median, p99, max
        QTest::addColumn<std::vector<double>>("figures");

        std::vector<double> hundred(100);
        std::iota(hundred.begin(), hundred.end(), 1);
        std::vector<double> twoHundred(200);
        std::iota(twoHundred.rbegin(), twoHundred.rend(), 1);

        QTest::newRow("nothing judged")
                << std::vector<double>{} << std::vector<double>{0, 0, 0, 0, 0, 0};
        QTest::newRow("one value, no jitter")
                << std::vector<double>{7} << std::vector<double>{7, 7, 0, 7, 7, 7};
        QTest::newRow("even count: median between the middle two")
                << std::vector<double>{4, 1, 3, 2}
                << std::vector<double>{1, 2.5, 1.118034, 2.5, 4, 4};
        QTest::newRow("one outlier moves the jitter, not the median")
                << std::vector<double>{10, 10, 12, 10}
                << std::vector<double>{10, 10.5, 0.866025, 10, 12, 12};
        QTest::newRow("p99 of 1 to 100 is the 99th value")
                << hundred << std::vector<double>{1, 50.5, 28.866070, 50.5, 99, 100};
        QTest::newRow("p99 of 200 values in any order")
                << twoHundred << std::vector<double>{1, 100.5, 57.734305, 100.5, 198, 200};
        QTest::newRow("an MPDU stamped before its beacon counts below zero")
                << std::vector<double>{-5, 5} << std::vector<double>{-5, 0, 5, 0, 5, 5};
    }

    void summary()
    {
        QFETCH(std::vector<double>, values);
        QFETCH(std::vector<double>, figures);

        const DelaySummary s = summarize(values);
        const std::vector<double> got{s.min, s.mean, s.standardDeviation, s.median, s.p99, s.max};
        QCOMPARE(s.count, values.size());
        for (size_t i = 0; i < got.size(); ++i)
            QVERIFY2(qAbs(got[i] - figures[i]) < 1e-5,
                     qPrintable(QStringLiteral("figure %1: %2").arg(i).arg(got[i])));
    }

    // Two cycles through the engine: what the statistics count, what the CSV says, and that
    // clearing the nodes clears the run.
    void scriptedRun()
    {
        auto *driver = new RecordingDriver;
        TalvenNetwork network;
        network.setNetworkInterfaceDriver(driver);
        QSignalSpy finished(&network, &TalvenNetwork::cycleFinished);
        auto at = [&](int offset, const QByteArray &frame) {
            driver->deliver(uint32_t(network.beaconTime() + offset), frame);
        };

        // Cycle 1 asks for group 2: node 3 delivers it in its slot, node 5 late with a bad group 3.
        network.sendBeacon(0, 50, 0x0004);
        at(200, mpdu(3, 1, "16 e803 18fc 0000"));
        at(400, mpdu(5, 1, "19 07"));
        QVERIFY(finished.wait());
        // Cycle 2: node 3 is silent, node 5 early with a structure that does not add up, twice.
        network.sendBeacon(0, 50, 0x0004);
        at(10, mpdu(5, 2, "c1 04"));
        at(20, mpdu(5, 0));
        QVERIFY(finished.wait());

        const RunStatistics &run = network.statistics();
        QCOMPARE(run.cyclesClosed(), 2u);
        const NodeRunStatistics *node3 = run.node(3);
        const NodeRunStatistics *node5 = run.node(5);
        QVERIFY(node3 && node5);
        QCOMPARE(faultKindsText(*node3), "silent 1");
        QCOMPARE(node3->cyclesExpected, 2u);
        QCOMPARE(svGroupsText(*node3), "asked 2; delivered 2:1/2");
        QCOMPARE(faultKindsText(*node5), "early 2, late 1, payload errors 1, format errors 1");
        QCOMPARE(node5->cyclesExpected, 2u);
        QCOMPARE(node5->answers, 3u);
        QCOMPARE(node5->delays().median, 20.0);
        QCOMPARE(node5->firstFaults.first(), "cycle 1: 400 ms, late (slot 300-350 ms); invalid SV "
                                             "group 3 [07]");

        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QVERIFY(writeCsv(csv, run));
        const QString first = clockText(run.beaconTimeOf(1)),
                      second = clockText(run.beaconTimeOf(2));
        QCOMPARE(QString::fromLatin1(csv.data()).split("\r\n"),
                 (QStringList{"cycle,beacon_time,node,delay_ms,verdict,faults",
                              "1," + first + ",3,200,in slot,",
                              "1," + first + ",5,400,late,invalid SV group",
                              "2," + second + ",3,,silent,",
                              "2," + second + ",5,10,early,format error",
                              "2," + second + ",5,20,early,", ""}));

        network.clearNodes();
        QVERIFY(network.statistics().nodes().isEmpty());
        QCOMPARE(network.statistics().cyclesClosed(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestRunStatistics)

#include "tst_runstatistics.moc"
