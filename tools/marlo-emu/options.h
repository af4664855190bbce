#pragma once

#include "common/toolcli.h"
#include "marlo-emu/impairments.h"

#include <QString>
#include <QStringList>

namespace marlo {

// What the emulator is told on its command line.
struct Options
{
    quint16 port = 8844;
    QString link;
    Impairments impairments;
    quint32 seed = 1;
    bool verbose = false;
};

using ParseResult = toolcli::ParseResult;

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error);
QString helpText();

} // namespace marlo
