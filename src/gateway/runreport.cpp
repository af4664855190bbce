#include "gateway/runreport.h"

#include "ardo/version.h"

#include <QIODevice>
#include <QRegularExpression>
#include <QTextStream>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

QString outcomeText(CycleSample::Outcome outcome)
{
    switch (outcome) {
    case CycleSample::InSlot:
        return QStringLiteral("in slot");
    case CycleSample::Early:
        return QStringLiteral("early");
    case CycleSample::Late:
        return QStringLiteral("late");
    case CycleSample::Silent:
        return QStringLiteral("silent");
    }
    return QString();
}

QString faultBitsText(uint8_t faults)
{
    QStringList kinds;
    if (faults & CycleSample::InvalidSvGroup)
        kinds << QStringLiteral("invalid SV group");
    if (faults & CycleSample::InvalidEvent)
        kinds << QStringLiteral("invalid event");
    if (faults & CycleSample::FormatError)
        kinds << QStringLiteral("format error");
    return kinds.join(QLatin1Char(';'));
}

// RFC 4180: a field with a separator, a quote or a line break is quoted, its quotes doubled.
QString csvField(QString field)
{
    if (!field.contains(QRegularExpression(QStringLiteral("[,\"\r\n]"))))
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString number(double value)
{
    return QString::number(value, 'f', 2);
}

QString rangesText(const QSet<int> &numbers)
{
    QList<int> ids = numbers.values();
    std::sort(ids.begin(), ids.end());
    QStringList ranges;
    for (int i = 0; i < ids.size();) {
        int j = i;
        while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1)
            ++j;
        ranges << (i == j ? QString::number(ids[i])
                          : QStringLiteral("%1-%2").arg(ids[i]).arg(ids[j]));
        i = j + 1;
    }
    return ranges.join(QLatin1Char(','));
}

} // namespace

QString figuresText(const NodeRunStatistics &node)
{
    const DelaySummary d = node.delays();
    return QStringLiteral(
                   "cycles %1, answers %2, in slot %3, early %4, late %5, silent %6, payload "
                   "errors %7, format errors %8, outside any cycle %9\n")
                   .arg(node.cyclesExpected)
                   .arg(node.answers)
                   .arg(node.inSlot)
                   .arg(node.early)
                   .arg(node.late)
                   .arg(node.silent)
                   .arg(node.payloadErrors)
                   .arg(node.formatErrors)
                   .arg(node.outsideCycle)
           + QStringLiteral("delay ms: min %1, mean %2, sd %3, median %4, p99 %5, max %6\n")
                     .arg(number(d.min), number(d.mean), number(d.standardDeviation),
                          number(d.median), number(d.p99), number(d.max))
           + QStringLiteral("SV groups: %1\n").arg(svGroupsText(node));
}

QList<NodeResult> nodeResults(const RunStatistics &statistics, const RunSettings &settings)
{
    QList<NodeResult> results;
    QSet<int> missing = settings.expected;
    for (const NodeRunStatistics *node : statistics.nodes()) {
        NodeResult result;
        result.node = node->node;
        result.statistics = node;
        result.expected = settings.expected.isEmpty() || settings.expected.contains(node->node);
        result.passed = !result.expected || node->faults() <= settings.maxFaults;
        missing.remove(node->node);
        results.append(result);
    }
    // An expected node the engine never judged cannot have passed.
    for (int id : missing) {
        NodeResult result;
        result.node = uint8_t(id);
        result.expected = true;
        result.passed = false;
        results.append(result);
    }
    std::sort(results.begin(), results.end(),
              [](const NodeResult &a, const NodeResult &b) { return a.node < b.node; });
    return results;
}

bool runPassed(const QList<NodeResult> &results)
{
    bool judged = false;
    for (const NodeResult &result : results) {
        if (!result.passed)
            return false;
        judged = judged || result.expected;
    }
    // A run that judged nobody proved nothing.
    return judged;
}

QString clockText(uint32_t milliseconds)
{
    const QChar zero('0');
    return QStringLiteral("%1:%2:%3.%4")
            .arg(milliseconds / 3600000, 2, 10, zero)
            .arg(milliseconds / 60000 % 60, 2, 10, zero)
            .arg(milliseconds / 1000 % 60, 2, 10, zero)
            .arg(milliseconds % 1000, 3, 10, zero);
}

QString svGroupsText(const NodeRunStatistics &node)
{
    QSet<int> asked;
    QStringList delivered;
    for (int g = 0; g < NodeRunStatistics::kSvGroupCount; ++g) {
        if (node.svRequested[size_t(g)])
            asked.insert(g);
        if (node.svDelivered[size_t(g)])
            delivered << QStringLiteral("%1:%2/%3")
                                 .arg(g)
                                 .arg(node.svDelivered[size_t(g)])
                                 .arg(node.svRequested[size_t(g)]);
    }
    return QStringLiteral("asked %1; delivered %2")
            .arg(asked.isEmpty() ? QStringLiteral("none") : rangesText(asked),
                 delivered.isEmpty() ? QStringLiteral("none") : delivered.join(QLatin1Char(' ')));
}

QString faultKindsText(const NodeRunStatistics &node)
{
    const std::pair<const char *, uint64_t> kinds[] = {
            {"early", node.early},
            {"late", node.late},
            {"silent", node.silent},
            {"payload errors", node.payloadErrors},
            {"format errors", node.formatErrors},
    };
    QStringList texts;
    for (const auto &kind : kinds) {
        if (kind.second)
            texts << QStringLiteral("%1 %2").arg(QLatin1String(kind.first)).arg(kind.second);
    }
    return texts.join(QStringLiteral(", "));
}

QString summaryTable(const RunStatistics &statistics, const RunSettings &settings)
{
    QString text;
    QTextStream out(&text);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                    .arg("node", 4)
                    .arg("cycles", 7)
                    .arg("answers", 7)
                    .arg("in slot", 7)
                    .arg("early", 6)
                    .arg("late", 6)
                    .arg("silent", 6)
                    .arg("payload", 7)
                    .arg("format", 6)
        << QStringLiteral(" %1 %2 %3 %4 %5 %6  %7  %8\n")
                    .arg("min", 7)
                    .arg("mean", 7)
                    .arg("sd", 6)
                    .arg("median", 7)
                    .arg("p99", 7)
                    .arg("max", 7)
                    .arg("result", -10)
                    .arg("SV groups (delivered/asked)");
    for (const NodeResult &result : nodeResults(statistics, settings)) {
        const QString verdict = !result.expected ? QStringLiteral("unexpected")
                                : result.passed  ? QStringLiteral("pass")
                                                 : QStringLiteral("FAIL");
        if (!result.statistics) {
            out << QStringLiteral("%1  never judged  %2\n").arg(result.node, 4).arg(verdict);
            continue;
        }
        const NodeRunStatistics &node = *result.statistics;
        const DelaySummary d = node.delays();
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                        .arg(node.node, 4)
                        .arg(node.cyclesExpected, 7)
                        .arg(node.answers, 7)
                        .arg(node.inSlot, 7)
                        .arg(node.early, 6)
                        .arg(node.late, 6)
                        .arg(node.silent, 6)
                        .arg(node.payloadErrors, 7)
                        .arg(node.formatErrors, 6)
            << QStringLiteral(" %1 %2 %3 %4 %5 %6  %7  %8\n")
                        .arg(number(d.min), 7)
                        .arg(number(d.mean), 7)
                        .arg(number(d.standardDeviation), 6)
                        .arg(number(d.median), 7)
                        .arg(number(d.p99), 7)
                        .arg(number(d.max), 7)
                        .arg(verdict, -10)
                        .arg(svGroupsText(node));
    }
    out.flush();
    return text;
}

bool writeJUnit(QIODevice &out, const RunStatistics &statistics, const RunSettings &settings)
{
    const QList<NodeResult> results = nodeResults(statistics, settings);
    const int failures = int(std::count_if(results.begin(), results.end(),
                                           [](const NodeResult &r) { return !r.passed; }));

    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), settings.program);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(results.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("time"), QString::number(settings.seconds, 'f', 3));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("TALVEN nodes"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(results.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), QString::number(settings.seconds, 'f', 3));
    if (settings.started.isValid())
        xml.writeAttribute(QStringLiteral("timestamp"), settings.started.toString(Qt::ISODate));

    const std::pair<QString, QString> properties[] = {
            {"program", settings.program},
            {"version", QStringLiteral(TALVEN_VERSION)},
            {"interface", settings.interfaceName},
            {"interval_ms", QString::number(settings.cycleInterval)},
            {"slot_ms", QString::number(settings.slotDuration)},
            {"sv_groups", QStringLiteral("0x%1").arg(settings.svGroupMask, 4, 16, QChar('0'))},
            {"cycles_planned", QString::number(settings.cyclesPlanned)},
            {"cycles_completed", QString::number(statistics.cyclesClosed())},
            {"expected_nodes", settings.expected.isEmpty() ? QStringLiteral("every node seen")
                                                           : rangesText(settings.expected)},
            {"max_faults", QString::number(settings.maxFaults)},
            {"ended_early", settings.endedEarly},
    };
    xml.writeStartElement(QStringLiteral("properties"));
    for (const auto &property : properties) {
        xml.writeStartElement(QStringLiteral("property"));
        xml.writeAttribute(QStringLiteral("name"), property.first);
        xml.writeAttribute(QStringLiteral("value"), property.second);
        xml.writeEndElement();
    }
    xml.writeEndElement();

    for (const NodeResult &result : results) {
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), QStringLiteral("talven.node"));
        xml.writeAttribute(
                QStringLiteral("name"),
                QStringLiteral("node %1%2")
                        .arg(result.node)
                        .arg(result.expected ? QString() : QStringLiteral(" (not expected)")));
        xml.writeAttribute(QStringLiteral("time"), QStringLiteral("0"));
        if (!result.passed) {
            xml.writeStartElement(QStringLiteral("failure"));
            if (!result.statistics) {
                xml.writeAttribute(QStringLiteral("message"), QStringLiteral("never judged"));
                xml.writeAttribute(QStringLiteral("type"), QStringLiteral("silent"));
            } else {
                xml.writeAttribute(QStringLiteral("message"),
                                   QStringLiteral("%1 (%2 allowed)")
                                           .arg(faultKindsText(*result.statistics))
                                           .arg(settings.maxFaults));
                xml.writeAttribute(QStringLiteral("type"), QStringLiteral("faults"));
                xml.writeCharacters(result.statistics->firstFaults.join(QLatin1Char('\n')));
            }
            xml.writeEndElement();
        }
        if (result.statistics)
            xml.writeTextElement(QStringLiteral("system-out"), figuresText(*result.statistics));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

bool writeCsv(QIODevice &out, const RunStatistics &statistics)
{
    struct Row
    {
        uint32_t cycle;
        uint8_t node;
        const CycleSample *sample;
    };
    std::vector<Row> rows;
    for (const NodeRunStatistics *node : statistics.nodes()) {
        for (const CycleSample &sample : node->samples)
            rows.push_back({sample.cycle, node->node, &sample});
    }
    // Stable: a node's MPDUs within one cycle keep their arrival order.
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        return a.cycle != b.cycle ? a.cycle < b.cycle : a.node < b.node;
    });

    QTextStream text(&out);
    text << "cycle,beacon_time,node,delay_ms,verdict,faults\r\n";
    for (const Row &row : rows) {
        const CycleSample &sample = *row.sample;
        text << row.cycle << ',' << clockText(statistics.beaconTimeOf(row.cycle)) << ',' << row.node
             << ',' << (sample.isAnswer() ? QString::number(sample.delay) : QString()) << ','
             << outcomeText(sample.outcome) << ',' << csvField(faultBitsText(sample.faults))
             << "\r\n";
    }
    text.flush();
    return text.status() == QTextStream::Ok;
}
