#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>

// What the stand-in tools share on their command line and their output.
namespace toolcli {

enum class ParseResult { Run, Help, Error };

// Help when `help` is given; Error, with its text, for unknown options, missing values and
// positional arguments; Run otherwise. The caller then reads its own options from the parser.
ParseResult parseArguments(QCommandLineParser &parser, const QStringList &arguments,
                           const QCommandLineOption &help, QString *error);

// A TCP port from 1 to 65535 given to `option`.
bool parsePort(const QString &option, const QString &value, quint16 *port, QString *error);

// One line, flushed at once, so whoever reads the tool's output (a test, a pipe) sees it now.
void printLine(FILE *stream, const QString &line);

} // namespace toolcli
