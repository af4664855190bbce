#include "marlo-emu/board.h"
#include "marlo-emu/options.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the board cleans up its link to the terminal.
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

} // namespace

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

    quitOnSignals(app);
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
