#include "common/toolcli.h"

#include "ardo/version.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <unistd.h>

namespace toolcli {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

QString namesOf(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString text = names.join(QStringLiteral(", "));
    const QString value = option.valueName();
    if (!value.isEmpty())
        text += value.startsWith(QLatin1Char('<')) ? QLatin1Char(' ') + value
                                                   : QStringLiteral(" <%1>").arg(value);
    return text;
}

} // namespace

ParseResult parseArguments(QCommandLineParser &parser, const QList<QCommandLineOption> &options,
                           const QStringList &arguments, const QCommandLineOption &help,
                           const QCommandLineOption &version, QString *error)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options);
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
    if (parser.isSet(version)) {
        QCoreApplication::setApplicationVersion(QStringLiteral(TALVEN_VERSION));
        parser.showVersion();
    }
    return ParseResult::Run;
}

QString optionsHelp(const QList<QCommandLineOption> &options, int column)
{
    const QString indent(column, QLatin1Char(' '));
    QString text;
    for (const QCommandLineOption &option : options) {
        const QString names = QStringLiteral("  ") + namesOf(option);
        text += names.size() < column ? names.leftJustified(column) : names + '\n' + indent;
        text += option.description().split(QLatin1Char('\n')).join('\n' + indent) + '\n';
    }
    return text;
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

void quitOnSignals(QCoreApplication &app)
{
    if (::pipe(signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace toolcli
