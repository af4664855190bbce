#include "marlo-emu/board.h"
#include "marlo-emu/options.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    marlo::Options options;
    QString error;
    switch (marlo::parseOptions(app.arguments(), &options, &error)) {
    case marlo::ParseResult::Help:
        std::fputs(marlo::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case marlo::ParseResult::Error:
        toolcli::printLine(stderr, QStringLiteral("marlo-emu: %1 (see --help)").arg(error));
        return 2;
    case marlo::ParseResult::Run:
        break;
    }

    // The board removes its link to the terminal when the event loop ends.
    toolcli::quitOnSignals(app);
    marlo::Board board(options, [](const QString &line) { toolcli::printLine(stdout, line); });
    if (!board.open(&error)) {
        toolcli::printLine(stderr, QStringLiteral("marlo-emu: %1").arg(error));
        return 1;
    }
    QObject::connect(&board, &marlo::Board::failed, &app, [](const QString &reason) {
        toolcli::printLine(stderr, QStringLiteral("marlo-emu: %1").arg(reason));
        QCoreApplication::exit(1);
    });
    toolcli::printLine(stdout, board.terminalPath());
    return app.exec();
}
