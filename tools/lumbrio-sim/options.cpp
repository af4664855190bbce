#include "lumbrio-sim/options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

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

namespace {

// The help's description of each fault's option, in the order of faultKinds().
QString faultDescription(Fault fault)
{
    switch (fault) {
    case Fault::Silent:
        return QStringLiteral("Probability per cycle that a node does not answer.");
    case Fault::Late:
        return QStringLiteral("... that it answers half a slot (at least 5 ms) after the\n"
                              "end of its slot.");
    case Fault::Early:
        return QStringLiteral("... that it answers half a slot (at least 5 ms) before the\n"
                              "start of its slot (but not before the beacon).");
    case Fault::WrongSize:
        return QStringLiteral("... that its accelerometer sample has 5 bytes instead of 6\n"
                              "(or its joystick event 2 bytes instead of 1 when the\n"
                              "beacon asks for no accelerometer).");
    case Fault::UnknownEpdu:
        return QStringLiteral("... that it adds event 12, which the gateway does not know.");
    case Fault::BrokenStructure:
        return QStringLiteral("... that its ePDU count claims one ePDU more than it sends.");
    case Fault::None:
        break;
    }
    return QString();
}

// Every option, described once: the parser reads them, the help lists them in this order.
struct OptionSet
{
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("TCP port to listen on (default 8844)."),
                            QStringLiteral("port")};
    QCommandLineOption nodes{QStringLiteral("nodes"),
                             QStringLiteral("Virtual node ids 0 to 127 as ids and ranges, e.g. "
                                            "0-7,12\n(default 0-7)."),
                             QStringLiteral("list")};
    QCommandLineOption seed{QStringLiteral("seed"),
                            QStringLiteral("Seed of the fault dice (default 1). The same seed and\n"
                                           "options give the same faults, node by node and cycle "
                                           "by\ncycle."),
                            QStringLiteral("number")};
    QList<QCommandLineOption> faults;
    QCommandLineOption nodeFault{
            QStringLiteral("node-fault"),
            QStringLiteral("Probability of one fault for some nodes only, overriding\n"
                           "the global value; <fault> is one of silent, late, early,\n"
                           "wrong-size, unknown-epdu, broken-structure. Repeatable,\n"
                           "e.g. --node-fault 3:late=1 --node-fault 0-1:silent=0.5."),
            QStringLiteral("<nodes>:<fault>=<p>")};
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("A lively but mostly healthy network: a few percent of\n"
                                           "every fault, and node 5 late in 30% of the cycles. "
                                           "Other\noptions given with it override these values.")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("Print one line per frame besides one per "
                                              "connection.")};
    QCommandLineOption pcapng{
            QStringLiteral("pcapng"),
            QStringLiteral("Record every frame the medium carries to a pcapng file\n"
                           "(link type USER0): frames from clients inbound, answers\n"
                           "of the virtual nodes outbound with their fault, if any.\n"
                           "A file that cannot be written ends the program with 2."),
            QStringLiteral("file")};
    // Not addVersionOption(): its -v is taken by --verbose.
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};

    OptionSet()
    {
        for (Fault fault : faultKinds())
            faults.append(QCommandLineOption(faultName(fault), faultDescription(fault),
                                             QStringLiteral("p")));
    }

    QList<QCommandLineOption> all() const
    {
        return QList<QCommandLineOption>{port, nodes, seed} + faults
               + QList<QCommandLineOption>{nodeFault, demo, verbose, pcapng, version, help};
    }
};

bool readSeed(const QCommandLineParser &parser, const OptionSet &set, uint32_t *seed,
              QString *error)
{
    if (!parser.isSet(set.seed))
        return true;
    bool ok = false;
    *seed = parser.value(set.seed).toUInt(&ok);
    if (!ok)
        *error = QStringLiteral("--seed: '%1' is not a number from 0 to 4294967295")
                         .arg(parser.value(set.seed));
    return ok;
}

// Port, seed, nodes and the plain switches.
bool readNetwork(const QCommandLineParser &parser, const OptionSet &set, Options *options,
                 QString *error)
{
    options->verbose = parser.isSet(set.verbose);
    options->pcapngPath = parser.value(set.pcapng);
    if (parser.isSet(set.port)
        && !toolcli::parsePort(QStringLiteral("port"), parser.value(set.port), &options->port,
                               error))
        return false;
    if (!readSeed(parser, set, &options->seed, error))
        return false;
    const QString nodeText
            = parser.isSet(set.nodes) ? parser.value(set.nodes) : QStringLiteral("0-7");
    if (!parseNodeList(nodeText, &options->nodes, error)) {
        *error = QStringLiteral("--nodes: ") + *error;
        return false;
    }
    return true;
}

// The preset and the global fault options, the same for every simulated node.
bool readGlobalFaults(const QCommandLineParser &parser, const OptionSet &set, Options *options,
                      QString *error)
{
    const bool isDemo = parser.isSet(set.demo);
    FaultProbabilities global = isDemo ? demoFaults() : FaultProbabilities();
    for (int i = 0; i < kFaultKinds; ++i) {
        const QCommandLineOption &option = set.faults[i];
        if (parser.isSet(option)
            && !parseProbability(QStringLiteral("--") + option.names().first(),
                                 parser.value(option), &global.values[size_t(i)], error))
            return false;
    }
    for (int id : qAsConst(options->nodes))
        options->faults[id] = global;
    if (isDemo && options->faults.contains(kDemoFlakyNode))
        options->faults[kDemoFlakyNode][Fault::Late] = kDemoFlakyLate;
    return true;
}

bool readNodeFaults(const QCommandLineParser &parser, const OptionSet &set, Options *options,
                    QString *error)
{
    for (const QString &text : parser.values(set.nodeFault)) {
        NodeFault entry;
        if (!parseNodeFault(text, &entry, error))
            return false;
        for (int id : qAsConst(entry.nodes)) {
            if (!options->faults.contains(id)) {
                *error = QStringLiteral("--node-fault: node %1 is not simulated (see --nodes)")
                                 .arg(id);
                return false;
            }
            options->faults[id][entry.fault] = entry.probability;
        }
    }
    return true;
}

bool checkTotals(const Options &options, QString *error)
{
    for (auto it = options.faults.cbegin(); it != options.faults.cend(); ++it) {
        if (it.value().total() > 1 + kTolerance) {
            *error = QStringLiteral("the fault probabilities of node %1 add up to %2, more than 1")
                             .arg(it.key())
                             .arg(it.value().total());
            return false;
        }
    }
    return true;
}

} // namespace

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error)
{
    QCommandLineParser parser;
    const OptionSet set;
    const ParseResult parsed
            = toolcli::parseArguments(parser, set.all(), arguments, set.help, set.version, error);
    if (parsed != ParseResult::Run)
        return parsed;

    Options result;
    if (!readNetwork(parser, set, &result, error) || !readGlobalFaults(parser, set, &result, error)
        || !readNodeFaults(parser, set, &result, error) || !checkTotals(result, error))
        return ParseResult::Error;
    *options = result;
    return ParseResult::Run;
}

QString helpText()
{
    return QStringLiteral(
                   "Usage: lumbrio-sim [options]\n"
                   "\n"
                   "A stand-in for the Lumbrio virtual network simulator: listens on TCP "
                   "127.0.0.1,\n"
                   "carries frames between the clients that connect (such as the TALVEN "
                   "testbench)\n"
                   "and plays virtual sensor nodes that answer every beacon in their own time "
                   "slot.\n"
                   "\n"
                   "Routing: a frame goes to every other client whose announced address equals "
                   "its\n"
                   "destination; a beacon (to c7c7c7c7) goes to every other client and to every\n"
                   "virtual node. Nobody hears its own frames.\n"
                   "\n"
                   "Virtual nodes: node n answers each beacon once, with an MPDU to e2e2e2e2 sent "
                   "in\n"
                   "the middle of its slot (n + 1.5 slot durations after the beacon arrived). It\n"
                   "carries SV group 2, an accelerometer sample of 6 bytes, when the beacon asks "
                   "for\n"
                   "group 2, and event 8, a 1-byte joystick state.\n"
                   "\n"
                   "Options:\n")
           + toolcli::optionsHelp(OptionSet().all(), 25)
           + QStringLiteral("\n"
                            "A node has at most one fault per cycle; its probabilities must add "
                            "up to at most 1.\n"
                            "Bad options end the program with status 2, a port that cannot be "
                            "opened with 1.\n");
}

} // namespace lumbrio
