#include "runner/options.h"

#include "ardo/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kIntervalStep = 33;
constexpr int kMinInterval = 330;
constexpr int kMaxInterval = 32768;
constexpr int kMinSlot = 10;
constexpr int kMaxNodeId = 127;

const char *const kDescription
        = R"(Plays the gateway of a TALVEN network without a window, for firmware CI.

Sends one beacon per cycle, cycles back to back, judges every MPDU against
its node's slot, decodes its payload and counts every fault per node. Prints
every engine line in the window's log format, then a per-node summary.

Exit status: 0 every expected node passed; 1 a node failed (or no node was
judged); 2 bad command line or a report file that cannot be written; 3 the
interface could not be opened or was lost during the run; 130 interrupted
(SIGINT/SIGTERM) after writing the reports of the cycles completed.)";

bool toNumber(const QString &text, uint64_t &value, uint64_t max)
{
    bool ok = false;
    value = text.toULongLong(&ok, 0);
    return ok && value <= max;
}

} // namespace

bool parseNodeList(const QString &text, QSet<int> &nodes)
{
    nodes.clear();
    for (const QString &item : text.split(QLatin1Char(','))) {
        const QStringList bounds = item.trimmed().split(QLatin1Char('-'));
        uint64_t first = 0;
        uint64_t last = 0;
        if (bounds.size() > 2 || !toNumber(bounds.first(), first, kMaxNodeId)
            || !toNumber(bounds.last(), last, kMaxNodeId) || first > last)
            return false;
        for (uint64_t id = first; id <= last; ++id)
            nodes.insert(int(id));
    }
    return !nodes.isEmpty();
}

void correctCycleTiming(int &interval, int &slot)
{
    interval = std::clamp(interval, kMinInterval, kMaxInterval);
    if (interval % kIntervalStep != 0)
        interval = std::min(interval - interval % kIntervalStep + kIntervalStep, kMaxInterval);
    slot = std::clamp(slot, kMinSlot, interval / kIntervalStep);
}

bool parseRunnerOptions(const QStringList &arguments, RunnerOptions &options, int &exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption interface(
            "interface",
            "Use the interface of this name, as the start-up dialog shows it "
            "(default: the simulator's).",
            "name");
    const QCommandLineOption serial(
            "serial", "Use a Marlo gateway board on this serial device (any path, ptys too).",
            "path");
    const QCommandLineOption list("list-interfaces", "Print the interfaces found and exit.");
    const QCommandLineOption cycles("cycles", "Run this many cycles (default 10).", "n", "10");
    const QCommandLineOption interval(
            "interval", "Cycle interval in ms (default 2013; rounded up to a multiple of 33).",
            "ms", QString::number(RunnerOptions::kDefaultInterval));
    const QCommandLineOption slot("slot",
                                  "Slot duration in ms (default 50; 10 to a 33rd of the interval).",
                                  "ms", QString::number(RunnerOptions::kDefaultSlot));
    const QCommandLineOption svGroups(
            "sv-groups", "SV groups the beacon asks for, bit n for group n (default 0xffff).",
            "mask", "0xffff");
    const QCommandLineOption expect(
            "expect",
            "Nodes that must answer every cycle, ids and ranges (e.g. 0-7,12). "
            "Without it every node seen is judged.",
            "nodes");
    const QCommandLineOption maxFaults(
            "max-faults", "Faults a node may have and still pass (default 0).", "n", "0");
    const QCommandLineOption junit("junit", "Write a JUnit XML report to this file.", "file");
    const QCommandLineOption csv("csv", "Write one CSV row per MPDU and silent node.", "file");
    const QCommandLineOption pcapng("pcapng", "Record every frame to this pcapng file.", "file");
    parser.addOptions({interface, serial, list, cycles, interval, slot, svGroups, expect, maxFaults,
                       junit, csv, pcapng});

    auto refuse = [&](const QString &problem) {
        QTextStream(stderr) << QCoreApplication::applicationName() << ": " << problem << '\n'
                            << "Try '" << QCoreApplication::applicationName()
                            << " --help' for more information.\n";
        exitCode = 2;
        return false;
    };

    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        exitCode = 0;
        return false;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' ' << TALVEN_VERSION << '\n';
        exitCode = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse("unexpected argument " + parser.positionalArguments().first());
    if (parser.isSet(interface) && parser.isSet(serial))
        return refuse("--interface and --serial exclude each other");

    options.listInterfaces = parser.isSet(list);
    options.interfaceName = parser.value(interface);
    options.serialPath = parser.value(serial);

    uint64_t value = 0;
    if (!toNumber(parser.value(cycles), value, UINT32_MAX) || value == 0)
        return refuse("--cycles needs a whole number from 1 to 4294967295");
    options.cycles = value;
    if (!toNumber(parser.value(interval), value, INT32_MAX))
        return refuse("--interval needs a number of milliseconds");
    options.requestedInterval = int(value);
    if (!toNumber(parser.value(slot), value, INT32_MAX))
        return refuse("--slot needs a number of milliseconds");
    options.requestedSlot = int(value);
    options.interval = options.requestedInterval;
    options.slot = options.requestedSlot;
    correctCycleTiming(options.interval, options.slot);
    if (!toNumber(parser.value(svGroups), value, 0xFFFF))
        return refuse("--sv-groups needs a mask from 0 to 0xffff");
    options.svGroupMask = uint16_t(value);
    if (parser.isSet(expect) && !parseNodeList(parser.value(expect), options.expected))
        return refuse("--expect needs node ids from 0 to 127 and ranges, e.g. 0-7,12");
    if (!toNumber(parser.value(maxFaults), value, UINT64_MAX))
        return refuse("--max-faults needs a whole number");
    options.maxFaults = value;
    options.junitPath = parser.value(junit);
    options.csvPath = parser.value(csv);
    options.pcapngPath = parser.value(pcapng);
    return true;
}
