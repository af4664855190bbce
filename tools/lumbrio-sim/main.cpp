#include "lumbrio-sim/options.h"
#include "lumbrio-sim/simulator.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    lumbrio::Options options;
    QString error;
    switch (lumbrio::parseOptions(app.arguments(), &options, &error)) {
    case lumbrio::ParseResult::Help:
        std::fputs(lumbrio::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case lumbrio::ParseResult::Error:
        toolcli::printLine(stderr, QStringLiteral("lumbrio-sim: %1 (see --help)").arg(error));
        return 2;
    case lumbrio::ParseResult::Run:
        break;
    }

    lumbrio::Simulator simulator(options,
                                 [](const QString &line) { toolcli::printLine(stdout, line); });
    if (!simulator.listen(&error)) {
        toolcli::printLine(stderr, QStringLiteral("lumbrio-sim: %1").arg(error));
        return 1;
    }
    return app.exec();
}
