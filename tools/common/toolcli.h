#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

class QCoreApplication;

// What the stand-in tools share on their command line and their output.
namespace toolcli {

enum class ParseResult { Run, Help, Error };

// Gives `parser` the tool's `options` (long options also with one dash) and parses `arguments`:
// with `version` given, prints "<program> <version>" and exits with status 0; Help when `help`
// is given; Error, with its text, for unknown options, missing values and positional arguments;
// Run otherwise. The caller then reads its own options from the parser.
ParseResult parseArguments(QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                           const QStringList &arguments, const QCommandLineOption &help,
                           const QCommandLineOption &version, QString *error);

// The option list of a help text, from the options themselves: "  -v, --verbose", the value as
// "<name>" (a value name that holds its own brackets stands as it is), then the description from
// `column` on, each of its lines indented alike. Names that reach the column get a line of their
// own.
QString optionsHelp(const QList<QCommandLineOption> &options, int column);

// A TCP port from 1 to 65535 given to `option`.
bool parsePort(const QString &option, const QString &value, quint16 *port, QString *error);

// One line, flushed at once, so whoever reads the tool's output (a test, a pipe) sees it now.
void printLine(FILE *stream, const QString &line);

// SIGINT and SIGTERM end the event loop instead of the process, so that destructors clean up.
void quitOnSignals(QCoreApplication &app);

} // namespace toolcli
