#include "marlo-emu/options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace marlo {

namespace {

// Every option, described once: the parser reads them, the help lists them in this order.
struct OptionSet
{
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("TCP port of lumbrio-sim on 127.0.0.1 (default 8844)"),
                            QStringLiteral("port")};
    QCommandLineOption link{QStringLiteral("link"),
                            QStringLiteral("also make a symbolic link <path> to the terminal"),
                            QStringLiteral("path")};
    QCommandLineOption noise{QStringLiteral("noise"),
                             QStringLiteral("write 1 to 8 random bytes before every message "
                                            "(never\nthe sync byte 7F, so a reader can find the "
                                            "next message)")};
    QCommandLineOption noiseSync{QStringLiteral("noise-sync"),
                                 QStringLiteral("instead, before every message a false start: "
                                                "the sync\nbyte 7F and 0 to 7 random bytes")};
    QCommandLineOption split{QStringLiteral("split"),
                             QStringLiteral("write every message in 2 to 4 pieces, 1 ms apart")};
    QCommandLineOption corrupt{QStringLiteral("corrupt-checksum"),
                               QStringLiteral("give this share (0 to 1) of messages a wrong "
                                              "checksum"),
                               QStringLiteral("rate")};
    QCommandLineOption seed{QStringLiteral("seed"),
                            QStringLiteral("seed of the noise, the splits and the corruption, so "
                                           "a\nrun repeats (default 1)"),
                            QStringLiteral("number")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("print one line per message in either direction")};
    // Not addVersionOption(): its -v is taken by --verbose.
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("print the version")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("print this text")};

    QList<QCommandLineOption> all() const
    {
        return {port, link, noise, noiseSync, split, corrupt, seed, verbose, version, help};
    }
};

bool readLink(const QCommandLineParser &parser, const OptionSet &set, QString *link, QString *error)
{
    if (!parser.isSet(set.link))
        return true;
    *link = parser.value(set.link);
    if (link->isEmpty())
        *error = QStringLiteral("--link: the path is empty");
    return !link->isEmpty();
}

bool readRate(const QCommandLineParser &parser, const OptionSet &set, double *rate, QString *error)
{
    if (!parser.isSet(set.corrupt))
        return true;
    bool ok = false;
    const double value = parser.value(set.corrupt).toDouble(&ok);
    if (!ok || !(value >= 0 && value <= 1)) {
        *error = QStringLiteral("--corrupt-checksum: a rate is a number from 0 to 1, not '%1'")
                         .arg(parser.value(set.corrupt));
        return false;
    }
    *rate = value;
    return true;
}

bool readSeed(const QCommandLineParser &parser, const OptionSet &set, quint32 *seed, QString *error)
{
    if (!parser.isSet(set.seed))
        return true;
    bool ok = false;
    *seed = parser.value(set.seed).toUInt(&ok);
    if (!ok)
        *error = QStringLiteral("--seed: '%1' is not an unsigned number")
                         .arg(parser.value(set.seed));
    return ok;
}

} // namespace

ParseResult parseOptions(const QStringList &arguments, Options *options, QString *error)
{
    QCommandLineParser parser;
    const OptionSet set;
    const ParseResult parsed
            = toolcli::parseArguments(parser, set.all(), arguments, set.help, set.version, error);
    if (parsed != ParseResult::Run)
        return parsed;

    Options result;
    if ((parser.isSet(set.port)
         && !toolcli::parsePort(QStringLiteral("port"), parser.value(set.port), &result.port,
                                error))
        || !readLink(parser, set, &result.link, error)
        || !readRate(parser, set, &result.impairments.corruptChecksumRate, error)
        || !readSeed(parser, set, &result.seed, error))
        return ParseResult::Error;
    result.impairments.noiseSync = parser.isSet(set.noiseSync);
    result.impairments.noise = parser.isSet(set.noise) || result.impairments.noiseSync;
    result.impairments.split = parser.isSet(set.split);
    result.verbose = parser.isSet(set.verbose);
    *options = result;
    return ParseResult::Run;
}

QString helpText()
{
    return QStringLiteral(
                   "Usage: marlo-emu [options]\n"
                   "\n"
                   "Plays a Marlo gateway board on a pseudo-terminal. The first line on standard "
                   "output is\n"
                   "the terminal's path: open it as the board's serial port. The board reads CMD "
                   "and\n"
                   "BEACON messages, puts every BEACON frame on the network of lumbrio-sim, and "
                   "writes\n"
                   "every frame it hears back as a FRAME message stamped with its clock "
                   "(milliseconds\n"
                   "since local midnight), plus DEBUG messages. It talks to the PC only between "
                   "the link\n"
                   "command that opens the link and the one that closes it.\n"
                   "\n"
                   "Options:\n")
           + toolcli::optionsHelp(OptionSet().all(), 29)
           + QStringLiteral("\n"
                            "Exit status: 0 after SIGINT or SIGTERM, 1 when lumbrio-sim cannot "
                            "be reached or\n"
                            "goes away, 2 for a bad command line.\n");
}

} // namespace marlo
