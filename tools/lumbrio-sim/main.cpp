#include "ardo/promptwakeup.h"
#include "lumbrio-sim/mediumrecorder.h"
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

    const auto log = [](const QString &line) {
        toolcli::printLine(stdout, line);
    };
    lumbrio::MediumRecorder recorder(log);
    if (!options.pcapngPath.isEmpty() && !recorder.open(options.pcapngPath)) {
        toolcli::printLine(stderr, QStringLiteral("lumbrio-sim: cannot write %1: %2")
                                           .arg(options.pcapngPath, recorder.errorString()));
        return 2;
    }

    // The nodes answer at their slot's middle and the beacon is passed on as it comes, even
    // when the gateway busies the same core.
    ardo::preferPromptWakeUps();
    lumbrio::Simulator simulator(options, log);
    if (!simulator.listen(&error)) {
        toolcli::printLine(stderr, QStringLiteral("lumbrio-sim: %1").arg(error));
        return 1;
    }
    if (!options.pcapngPath.isEmpty())
        recorder.attach(&simulator.medium(),
                        QStringLiteral("lumbrio-sim medium on 127.0.0.1:%1").arg(simulator.port()));
    return app.exec();
}
