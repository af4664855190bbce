#include "marlo-emu/options.h"

#include "ardo/version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace marlo {

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption link(QStringLiteral("link"), QString(), QStringLiteral("path"));
    const QCommandLineOption noise(QStringLiteral("noise"), QString());
    const QCommandLineOption noiseSync(QStringLiteral("noise-sync"), QString());
    const QCommandLineOption split(QStringLiteral("split"), QString());
    const QCommandLineOption corrupt(QStringLiteral("corrupt-checksum"), QString(),
                                     QStringLiteral("rate"));
    const QCommandLineOption seed(QStringLiteral("seed"), QString(), QStringLiteral("number"));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")}, QString());
    parser.addOptions({help, port, link, noise, noiseSync, split, corrupt, seed, verbose});

    // Not addVersionOption(): its -v is taken by --verbose.
    const QCommandLineOption version(QStringLiteral("version"), QString());
    parser.addOption(version);

    const ParseResult parsed = toolcli::parseArguments(parser, arguments, help, error);
    if (parsed == ParseResult::Run && parser.isSet(version)) {
        QCoreApplication::setApplicationVersion(QStringLiteral(TALVEN_VERSION));
        parser.showVersion(); // prints "<program> <version>" and exits with status 0
    }
    if (parsed != ParseResult::Run)
        return parsed;

    Options result;
    if (parser.isSet(port)
        && !toolcli::parsePort(QStringLiteral("port"), parser.value(port), &result.port, error))
        return ParseResult::Error;
    if (parser.isSet(link)) {
        result.link = parser.value(link);
        if (result.link.isEmpty()) {
            *error = QStringLiteral("--link: the path is empty");
            return ParseResult::Error;
        }
    }
    if (parser.isSet(corrupt)) {
        bool ok = false;
        const double rate = parser.value(corrupt).toDouble(&ok);
        if (!ok || !(rate >= 0 && rate <= 1)) {
            *error = QStringLiteral("--corrupt-checksum: a rate is a number from 0 to 1, not '%1'")
                             .arg(parser.value(corrupt));
            return ParseResult::Error;
        }
        result.corruptChecksumRate = rate;
    }
    if (parser.isSet(seed)) {
        bool ok = false;
        result.seed = parser.value(seed).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("--seed: '%1' is not an unsigned number")
                             .arg(parser.value(seed));
            return ParseResult::Error;
        }
    }
    result.noiseSync = parser.isSet(noiseSync);
    result.noise = parser.isSet(noise) || result.noiseSync;
    result.split = parser.isSet(split);
    result.verbose = parser.isSet(verbose);
    *options = result;
    return ParseResult::Run;
}

QString helpText()
{
    return QStringLiteral(
            "Usage: marlo-emu [options]\n"
            "\n"
            "Plays a Marlo gateway board on a pseudo-terminal. The first line on standard output "
            "is\n"
            "the terminal's path: open it as the board's serial port. The board reads CMD and\n"
            "BEACON messages, puts every BEACON frame on the network of lumbrio-sim, and writes\n"
            "every frame it hears back as a FRAME message stamped with its clock (milliseconds\n"
            "since local midnight), plus DEBUG messages. It talks to the PC only between the link\n"
            "command that opens the link and the one that closes it.\n"
            "\n"
            "Options:\n"
            "  --port <port>              TCP port of lumbrio-sim on 127.0.0.1 (default 8844)\n"
            "  --link <path>              also make a symbolic link <path> to the terminal\n"
            "  --noise                    write 1 to 8 random bytes before every message (never\n"
            "                             the sync byte 7F, so a reader can find the next "
            "message)\n"
            "  --noise-sync               instead, before every message a false start: the sync\n"
            "                             byte 7F and 0 to 7 random bytes\n"
            "  --split                    write every message in 2 to 4 pieces, 1 ms apart\n"
            "  --corrupt-checksum <rate>  give this share (0 to 1) of messages a wrong checksum\n"
            "  --seed <number>            seed of the noise, the splits and the corruption, so a\n"
            "                             run repeats (default 1)\n"
            "  -v, --verbose              print one line per message in either direction\n"
            "  --version                  print the version\n"
            "  -h, --help                 print this text\n"
            "\n"
            "Exit status: 0 after SIGINT or SIGTERM, 1 when lumbrio-sim cannot be reached or\n"
            "goes away, 2 for a bad command line.\n");
}

} // namespace marlo
