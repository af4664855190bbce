#include "lumbrio-sim/options.h"
#include "lumbrio-sim/simulator.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void printLine(FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    // Whoever reads our output (a test, a pipe) sees each line at once.
    std::fflush(stream);
}

} // namespace

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
        printLine(stderr, QStringLiteral("lumbrio-sim: %1 (see --help)").arg(error));
        return 2;
    case lumbrio::ParseResult::Run:
        break;
    }

    lumbrio::Simulator simulator(options, [](const QString &line) { printLine(stdout, line); });
    if (!simulator.listen(&error)) {
        printLine(stderr, QStringLiteral("lumbrio-sim: %1").arg(error));
        return 1;
    }
    return app.exec();
}
