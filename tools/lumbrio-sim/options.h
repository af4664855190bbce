#pragma once

#include "common/toolcli.h"
#include "lumbrio-sim/faults.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace lumbrio {

constexpr quint16 kDefaultPort = 8844;
constexpr int kMaxNodeId = 127;

// Everything the command line decides.
struct Options
{
    quint16 port = kDefaultPort;
    // Ascending, without repeats.
    QList<int> nodes;
    uint32_t seed = 1;
    bool verbose = false;
    // The probabilities of every simulated node, global values and per-node ones merged.
    QMap<int, FaultProbabilities> faults;
    // Where to record what the medium carries; empty for no recording.
    QString pcapngPath;
};

using ParseResult = toolcli::ParseResult;

// Reads the arguments (the program name first). On Error, `error` holds one line of text.
ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error);
// What --help prints.
QString helpText();

// "0-7,12" → 0 … 7, 12. False (and `error` set) for anything else than ids 0–127, ranges and
// commas.
bool parseNodeList(const QString &text, QList<int> *nodes, QString *error);

} // namespace lumbrio
