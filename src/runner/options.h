#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>

// The command line of talven-gateway, checked. Values follow the main window's rules: the cycle
// interval is rounded up to a multiple of 33 ms within 330 to 32768 ms, the slot duration is kept
// between 10 ms and a 33rd of the interval.
struct RunnerOptions
{
    static constexpr int kDefaultInterval = 2013;
    static constexpr int kDefaultSlot = 50;

    bool listInterfaces = false;
    QString interfaceName;
    QString serialPath;
    uint64_t cycles = 10;
    int requestedInterval = kDefaultInterval;
    int requestedSlot = kDefaultSlot;
    int interval = kDefaultInterval;
    int slot = kDefaultSlot;
    uint16_t svGroupMask = 0xFFFF;
    QSet<int> expected;
    uint64_t maxFaults = 0;
    QString junitPath;
    QString csvPath;
    QString pcapngPath;
};

// Parses the arguments (the program name first). Prints --help or --version and sets `exitCode`
// to 0, or prints the problem to standard error and sets it to 2; returns false in both cases.
bool parseRunnerOptions(const QStringList &arguments, RunnerOptions &options, int &exitCode);

// "0-7,12" to {0, ..., 7, 12}; false for anything that is not a list of node ids (0 to 127) and
// ascending ranges of them.
bool parseNodeList(const QString &text, QSet<int> &nodes);

// The interval and slot the main window would end up with for these entries.
void correctCycleTiming(int &interval, int &slot);
