#pragma once

#include "gateway/runstatistics.h"

#include <QDateTime>
#include <QSet>
#include <QString>

#include <cstdint>

class QIODevice;

// What a run was asked to do, for its reports and its verdict per node.
struct RunSettings
{
    QString program = QStringLiteral("talven-testbench");
    QString interfaceName;
    uint32_t cycleInterval = 0;
    uint32_t slotDuration = 0;
    uint16_t svGroupMask = 0;
    uint64_t cyclesPlanned = 0;
    // Nodes that must answer every cycle; empty: every node seen is judged.
    QSet<int> expected;
    uint64_t maxFaults = 0;
    QDateTime started;
    double seconds = 0;
    // Why the run ended early, if it did ("interrupted", "link lost").
    QString endedEarly;
};

// A node fails when it is judged (expected, or seen while nothing is expected) and has more faults
// than allowed. An unexpected node is reported and never fails.
struct NodeResult
{
    uint8_t node = 0;
    bool expected = false;
    bool passed = true;
    const NodeRunStatistics *statistics = nullptr;
};

QList<NodeResult> nodeResults(const RunStatistics &statistics, const RunSettings &settings);
bool runPassed(const QList<NodeResult> &results);

// "hh:mm:ss.zzz" for milliseconds since local midnight.
QString clockText(uint32_t milliseconds);
// The SV groups asked for and, per group delivered, MPDUs that carried it against cycles that
// asked for it: "asked 0-15; delivered 2:998/1000".
QString svGroupsText(const NodeRunStatistics &node);
// "late 3, silent 1" for the fault kinds a node had; empty when none.
QString faultKindsText(const NodeRunStatistics &node);

// A node's counts, delay figures and SV groups in three lines of plain words.
QString figuresText(const NodeRunStatistics &node);

// A fixed-width table of every node's figures, one line per node, for a terminal.
QString summaryTable(const RunStatistics &statistics, const RunSettings &settings);
// One test suite, one test case per node, a failure per failing node; properties hold the settings.
bool writeJUnit(QIODevice &out, const RunStatistics &statistics, const RunSettings &settings);
// One row per MPDU judged in a cycle and per silent node, by cycle and node, with a header line.
bool writeCsv(QIODevice &out, const RunStatistics &statistics);
