#pragma once

#include "common/toolcli.h"

#include <QString>
#include <QStringList>

namespace marlo {

// What the emulator is told on its command line.
struct Options
{
    quint16 port = 8844;
    QString link;
    // Misbehaviour for tests: random bytes (never the sync byte) before each message, messages
    // written in several pieces, a share of messages with a wrong checksum.
    bool noise = false;
    // Noise that starts with the sync byte, as a reader that resynchronises must survive.
    bool noiseSync = false;
    bool split = false;
    double corruptChecksumRate = 0;
    quint32 seed = 1;
    bool verbose = false;
};

using ParseResult = toolcli::ParseResult;

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error);
QString helpText();

} // namespace marlo
