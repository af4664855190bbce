#include "lumbrio-sim/faults.h"
#include "lumbrio-sim/options.h"
#include "tool.h"

#include <QtTest>

#include <memory>

using lumbrio::Fault;

namespace {

using Results = QMap<QString, QString>;

// Test case name to failure message ("" for a pass) of a JUnit file.
Results readJUnit(const QString &path, QString *problem)
{
    QFile file(path);
    Results results;
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = "no report";
        return results;
    }
    QXmlStreamReader xml(&file);
    QString testCase;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testcase"))
            results[testCase = xml.attributes().value("name").toString()] = QString();
        else if (xml.name() == QLatin1String("failure"))
            results[testCase] = xml.attributes().value("message").toString();
    }
    if (xml.hasError())
        *problem = xml.errorString();
    return results;
}

// What the simulator's seeded dice make of `cycles` cycles, as the report words each node's
// failure when more than `maxFaults` faults are allowed.
Results predict(const QStringList &simulatorArguments, int cycles, int maxFaults)
{
    lumbrio::Options options;
    QString error;
    lumbrio::parseOptions(QStringList{"lumbrio-sim"} + simulatorArguments, &options, &error);
    Results results;
    for (int id : qAsConst(options.nodes)) {
        lumbrio::FaultDice dice(options.faults.value(id), options.seed, id);
        QMap<Fault, int> counts;
        for (int cycle = 0; cycle < cycles; ++cycle)
            ++counts[dice.roll()];
        const int faults = cycles - counts[Fault::None];
        QStringList kinds;
        const std::pair<const char *, int> named[]
                = {{"early", counts[Fault::Early]},
                   {"late", counts[Fault::Late]},
                   {"silent", counts[Fault::Silent]},
                   {"payload errors", counts[Fault::WrongSize] + counts[Fault::UnknownEpdu]},
                   {"format errors", counts[Fault::BrokenStructure]}};
        for (const auto &[name, count] : named) {
            if (count)
                kinds << QStringLiteral("%1 %2").arg(name).arg(count);
        }
        results[QStringLiteral("node %1").arg(id)]
                = faults > maxFaults
                          ? QStringLiteral("%1 (%2 allowed)").arg(kinds.join(", ")).arg(maxFaults)
                          : QString();
    }
    return results;
}

} // namespace

// talven-gateway as a firmware CI job runs it: against lumbrio-sim, through marlo-emu, with seeded
// faults, and with what goes wrong around it.
class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<QString>("link"); // "simulator", "serial" or "none"
        QTest::addColumn<QString>("simulator");
        QTest::addColumn<QString>("runner");
        QTest::addColumn<int>("status");
        QTest::addColumn<Results>("results"); // empty: predicted from the seeded dice
        QTest::addColumn<int>("killAfter");   // ms after which the simulator dies; 0: never

        const auto row = [](const char *name, const char *link, const char *simulator,
                            const char *runner, int status, const Results &results = {},
                            int killAfter = 0) {
            QTest::newRow(name) << link << simulator << runner << status << results << killAfter;
        };
        Results healthy;
        for (int id = 0; id < 8; ++id)
            healthy[QStringLiteral("node %1").arg(id)] = QString();

        row("healthy nodes over the simulator", "simulator", "--nodes 0-7",
            "--expect 0-7 --cycles 20 --interval 660 --slot 20", 0, healthy);
        row("healthy nodes through marlo-emu adding noise and splitting messages", "serial",
            "--nodes 0-7", "--expect 0-7 --cycles 12 --interval 990 --slot 30", 0, healthy);
        row("seeded faults, one allowed per node", "simulator",
            "--nodes 0-7 --seed 9 --silent 0.05 --late 0.05 --early 0.05 --wrong-size 0.05 "
            "--unknown-epdu 0.05 --broken-structure 0.05",
            "--expect 0-7 --cycles 12 --interval 660 --slot 20 --max-faults 1", 1);
        row("an absent node fails, an unexpected one is only reported", "simulator", "--nodes 0-3",
            "--expect 0-2,9 --cycles 3 --interval 660 --slot 20", 1,
            {{"node 0", ""},
             {"node 1", ""},
             {"node 2", ""},
             {"node 3 (not expected)", ""},
             {"node 9", "silent 3 (0 allowed)"}});
        row("simulator lost during the run: reports of the cycles before, status 3", "simulator",
            "--nodes 0-3", "--expect 0-3 --cycles 1000 --interval 660 --slot 20", 3,
            {{"node 0", ""}, {"node 1", ""}, {"node 2", ""}, {"node 3", ""}}, 2500);
        row("nothing listens on the simulator's port", "none", "", "--cycles 1", 3);
        row("serial device that is not there", "none", "", "--serial /dev/talven-no-such-tty", 3);
        row("bad command line", "none", "", "--cycles 0", 2);
        row("report that cannot be written", "none", "", "--junit /proc/talven/report.xml", 2);
    }

    void run()
    {
        QFETCH(QString, link);
        QFETCH(QString, simulator);
        QFETCH(QString, runner);
        QFETCH(int, status);
        QFETCH(Results, results);
        QFETCH(int, killAfter);

        QTemporaryDir dir;
        const QString report = dir.filePath("report.xml");
        QStringList arguments = runner.split(' ', Qt::SkipEmptyParts);
        if (!arguments.contains("--junit"))
            arguments << "--junit" << report;

        std::unique_ptr<Tool> network, board;
        if (link != "none") {
            const QString port = link == "serial" ? freePort() : "8844";
            network = std::make_unique<Tool>(LUMBRIO_SIM_PATH,
                                             QStringList{"--port", port}
                                                     + simulator.split(' ', Qt::SkipEmptyParts));
            QVERIFY2(!network->waitForLine("listening").isEmpty(),
                     network->readAllStandardError().constData());
            if (link == "serial") {
                board = std::make_unique<Tool>(
                        MARLO_EMU_PATH,
                        QStringList{"--port", port, "--noise", "--split", "--seed", "5"});
                const QString path = board->waitForLine("/dev/");
                QVERIFY2(!path.isEmpty(), board->readAllStandardError().constData());
                arguments << "--serial" << path;
            }
        }

        QProcess gateway;
        gateway.start(TALVEN_GATEWAY_PATH, arguments);
        if (killAfter) {
            QVERIFY(!gateway.waitForFinished(killAfter));
            network->kill();
        }
        QVERIFY(gateway.waitForFinished(120000));
        const QByteArray output = gateway.readAllStandardOutput() + gateway.readAllStandardError();
        QVERIFY2(gateway.exitStatus() == QProcess::NormalExit, output.constData());
        QVERIFY2(gateway.exitCode() == status, output.constData());
        if (status == 2 || (status == 3 && !killAfter))
            return;

        if (results.isEmpty()) {
            const QStringList cycles = runner.section("--cycles ", 1).split(' ');
            results = predict(simulator.split(' ', Qt::SkipEmptyParts), cycles.first().toInt(), 1);
        }
        QString problem;
        QCOMPARE(readJUnit(report, &problem), results);
        QCOMPARE(problem, QString());
    }
};

QTEST_GUILESS_MAIN(TestRunner)

#include "tst_runner.moc"
