#include "lumbrio-sim/options.h"

#include "ardo/version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>

namespace lumbrio {

namespace {

// Sums of probabilities read from decimal text may exceed 1 by a rounding error.
constexpr double kTolerance = 1e-9;

// A lively but mostly healthy network: every kind of fault now and then, one flaky node.
FaultProbabilities demoFaults()
{
    FaultProbabilities faults;
    faults[Fault::Silent] = 0.03;
    faults[Fault::Late] = 0.03;
    faults[Fault::Early] = 0.02;
    faults[Fault::WrongSize] = 0.02;
    faults[Fault::UnknownEpdu] = 0.02;
    faults[Fault::BrokenStructure] = 0.01;
    return faults;
}
constexpr int kDemoFlakyNode = 5;
constexpr double kDemoFlakyLate = 0.3;

bool parseProbability(const QString &option, const QString &text, double *value, QString *error)
{
    bool ok = false;
    const double p = text.toDouble(&ok);
    if (!ok || p < 0 || p > 1) {
        *error = QStringLiteral("%1: a probability is a number from 0 to 1, not '%2'")
                         .arg(option, text);
        return false;
    }
    *value = p;
    return true;
}

struct NodeFault
{
    QList<int> nodes;
    Fault fault = Fault::None;
    double probability = 0;
};

bool parseNodeFault(const QString &text, NodeFault *nodeFault, QString *error)
{
    const QString option = QStringLiteral("--node-fault");
    const int colon = text.indexOf(QLatin1Char(':'));
    const int equals = text.indexOf(QLatin1Char('='), colon + 1);
    if (colon < 0 || equals < 0) {
        *error = QStringLiteral("%1: expected <nodes>:<fault>=<probability>, not '%2'")
                         .arg(option, text);
        return false;
    }
    if (!parseNodeList(text.left(colon), &nodeFault->nodes, error)) {
        *error = option + QStringLiteral(": ") + *error;
        return false;
    }
    const QString name = text.mid(colon + 1, equals - colon - 1);
    nodeFault->fault = faultFromName(name);
    if (nodeFault->fault == Fault::None) {
        *error = QStringLiteral("%1: unknown fault '%2'").arg(option, name);
        return false;
    }
    return parseProbability(option, text.mid(equals + 1), &nodeFault->probability, error);
}

} // namespace

bool parseNodeList(const QString &text, QList<int> *nodes, QString *error)
{
    QList<int> result;
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items) {
        const QStringList bounds = item.split(QLatin1Char('-'));
        bool okFirst = false;
        bool okLast = false;
        const int first = bounds.value(0).toInt(&okFirst);
        const int last = bounds.size() == 2 ? bounds[1].toInt(&okLast) : first;
        if (bounds.size() == 2 ? !(okFirst && okLast) : !(bounds.size() == 1 && okFirst)) {
            *error = QStringLiteral("bad node list '%1' (expected ids and ranges like 0-7,12)")
                             .arg(text);
            return false;
        }
        if (first < 0 || last > kMaxNodeId || first > last) {
            *error = QStringLiteral("bad node range '%1' in '%2' (node ids are 0 to %3)")
                             .arg(item, text)
                             .arg(kMaxNodeId);
            return false;
        }
        for (int id = first; id <= last; ++id)
            result.append(id);
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    *nodes = result;
    return true;
}

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption nodes(QStringLiteral("nodes"), QString(), QStringLiteral("list"));
    const QCommandLineOption seed(QStringLiteral("seed"), QString(), QStringLiteral("number"));
    const QCommandLineOption nodeFault(QStringLiteral("node-fault"), QString(),
                                       QStringLiteral("rule"));
    const QCommandLineOption demo(QStringLiteral("demo"), QString());
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")}, QString());
    const QCommandLineOption pcapng(QStringLiteral("pcapng"), QString(), QStringLiteral("file"));
    parser.addOptions({help, port, nodes, seed, nodeFault, demo, verbose, pcapng});
    QList<QCommandLineOption> globalFaults;
    for (Fault fault : faultKinds()) {
        globalFaults.append(QCommandLineOption(faultName(fault), QString(), QStringLiteral("p")));
        parser.addOption(globalFaults.last());
    }

    // Not addVersionOption(): its -v is taken by --verbose.
    const QCommandLineOption version(QStringLiteral("version"), QString());
    parser.addOption(version);

    const ParseResult parsed = toolcli::parseArguments(parser, arguments, help, error);
    if (parsed == ParseResult::Run && parser.isSet(version)) {
        QCoreApplication::setApplicationVersion(QStringLiteral(TALVEN_VERSION));
        parser.showVersion(); // prints "<program> <version>" and exits with status 0
    }
    if (parsed != ParseResult::Run)
        return parsed;

    Options result;
    result.verbose = parser.isSet(verbose);
    result.pcapngPath = parser.value(pcapng);
    if (parser.isSet(port)
        && !toolcli::parsePort(QStringLiteral("port"), parser.value(port), &result.port, error))
        return ParseResult::Error;
    if (parser.isSet(seed)) {
        bool ok = false;
        result.seed = parser.value(seed).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--seed: '%1' is not a number from 0 to 4294967295")
                             .arg(parser.value(seed));
            return ParseResult::Error;
        }
    }
    const QString nodeText = parser.isSet(nodes) ? parser.value(nodes) : QStringLiteral("0-7");
    if (!parseNodeList(nodeText, &result.nodes, error)) {
        *error = QStringLiteral("--nodes: ") + *error;
        return ParseResult::Error;
    }

    const bool isDemo = parser.isSet(demo);
    FaultProbabilities global = isDemo ? demoFaults() : FaultProbabilities();
    for (int i = 0; i < kFaultKinds; ++i) {
        const QCommandLineOption &option = globalFaults[i];
        if (parser.isSet(option)
            && !parseProbability(QStringLiteral("--") + option.names().first(),
                                 parser.value(option), &global.values[size_t(i)], error))
            return ParseResult::Error;
    }
    for (int id : qAsConst(result.nodes))
        result.faults[id] = global;
    if (isDemo && result.faults.contains(kDemoFlakyNode))
        result.faults[kDemoFlakyNode][Fault::Late] = kDemoFlakyLate;

    for (const QString &text : parser.values(nodeFault)) {
        NodeFault entry;
        if (!parseNodeFault(text, &entry, error))
            return ParseResult::Error;
        for (int id : qAsConst(entry.nodes)) {
            if (!result.faults.contains(id)) {
                *error = QStringLiteral("--node-fault: node %1 is not simulated (see --nodes)")
                                 .arg(id);
                return ParseResult::Error;
            }
            result.faults[id][entry.fault] = entry.probability;
        }
    }

    for (auto it = result.faults.cbegin(); it != result.faults.cend(); ++it) {
        if (it.value().total() > 1 + kTolerance) {
            *error = QStringLiteral("the fault probabilities of node %1 add up to %2, more than 1")
                             .arg(it.key())
                             .arg(it.value().total());
            return ParseResult::Error;
        }
    }

    *options = result;
    return ParseResult::Run;
}

QString helpText()
{
    return QStringLiteral(
            "Usage: lumbrio-sim [options]\n"
            "\n"
            "A stand-in for the Lumbrio virtual network simulator: listens on TCP 127.0.0.1,\n"
            "carries frames between the clients that connect (such as the TALVEN testbench)\n"
            "and plays virtual sensor nodes that answer every beacon in their own time slot.\n"
            "\n"
            "Routing: a frame goes to every other client whose announced address equals its\n"
            "destination; a beacon (to c7c7c7c7) goes to every other client and to every\n"
            "virtual node. Nobody hears its own frames.\n"
            "\n"
            "Virtual nodes: node n answers each beacon once, with an MPDU to e2e2e2e2 sent in\n"
            "the middle of its slot (n + 1.5 slot durations after the beacon arrived). It\n"
            "carries SV group 2, an accelerometer sample of 6 bytes, when the beacon asks for\n"
            "group 2, and event 8, a 1-byte joystick state.\n"
            "\n"
            "Options:\n"
            "  --port <port>          TCP port to listen on (default 8844).\n"
            "  --nodes <list>         Virtual node ids 0 to 127 as ids and ranges, e.g. 0-7,12\n"
            "                         (default 0-7).\n"
            "  --seed <number>        Seed of the fault dice (default 1). The same seed and\n"
            "                         options give the same faults, node by node and cycle by\n"
            "                         cycle.\n"
            "  --silent <p>           Probability per cycle that a node does not answer.\n"
            "  --late <p>             ... that it answers half a slot (at least 5 ms) after the\n"
            "                         end of its slot.\n"
            "  --early <p>            ... that it answers half a slot (at least 5 ms) before the\n"
            "                         start of its slot (but not before the beacon).\n"
            "  --wrong-size <p>       ... that its accelerometer sample has 5 bytes instead of 6\n"
            "                         (or its joystick event 2 bytes instead of 1 when the\n"
            "                         beacon asks for no accelerometer).\n"
            "  --unknown-epdu <p>     ... that it adds event 12, which the gateway does not know.\n"
            "  --broken-structure <p> ... that its ePDU count claims one ePDU more than it sends.\n"
            "  --node-fault <nodes>:<fault>=<p>\n"
            "                         Probability of one fault for some nodes only, overriding\n"
            "                         the global value; <fault> is one of silent, late, early,\n"
            "                         wrong-size, unknown-epdu, broken-structure. Repeatable,\n"
            "                         e.g. --node-fault 3:late=1 --node-fault 0-1:silent=0.5.\n"
            "  --demo                 A lively but mostly healthy network: a few percent of\n"
            "                         every fault, and node 5 late in 30% of the cycles. Other\n"
            "                         options given with it override these values.\n"
            "  -v, --verbose          Print one line per frame besides one per connection.\n"
            "  --pcapng <file>        Record every frame the medium carries to a pcapng file\n"
            "                         (link type USER0): frames from clients inbound, answers\n"
            "                         of the virtual nodes outbound with their fault, if any.\n"
            "                         A file that cannot be written ends the program with 2.\n"
            "  --version              Show the version and exit.\n"
            "  -h, --help             Show this help and exit.\n"
            "\n"
            "A node has at most one fault per cycle; its probabilities must add up to at most 1.\n"
            "Bad options end the program with status 2, a port that cannot be opened with 1.\n");
}

} // namespace lumbrio
