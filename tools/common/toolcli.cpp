#include "common/toolcli.h"

namespace toolcli {

ParseResult parseArguments(QCommandLineParser &parser, const QStringList &arguments,
                           const QCommandLineOption &help, QString *error)
{
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help))
        return ParseResult::Help;
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'")
                         .arg(parser.positionalArguments().first());
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

bool parsePort(const QString &option, const QString &value, quint16 *port, QString *error)
{
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (!ok || number == 0 || number > 65535) {
        *error = QStringLiteral("--%1: '%2' is not a port number from 1 to 65535")
                         .arg(option, value);
        return false;
    }
    *port = quint16(number);
    return true;
}

void printLine(FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace toolcli
