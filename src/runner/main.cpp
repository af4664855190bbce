#include "ardo/version.h"
#include "mdw/talven/networkinterfacedriver.h"
#include "runner/gatewayrun.h"
#include "runner/options.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the byte and ends the run.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

bool catchTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talven-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALVEN_VERSION));

    RunnerOptions options;
    int exitCode = 0;
    if (!parseRunnerOptions(QCoreApplication::arguments(), options, exitCode))
        return exitCode;

    if (options.listInterfaces) {
        for (const auto *descriptor :
             talven::NetworkInterfaceDriver::Descriptor::availableDescriptors())
            printf("%s\n", descriptor->name().c_str());
        return 0;
    }

    if (!catchTerminationSignals()) {
        perror("talven-gateway: signal handling");
        return 3;
    }

    GatewayRun run(options, stdout, isatty(STDERR_FILENO) ? stderr : nullptr);
    QObject::connect(&run, &GatewayRun::finished, &application, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &run, &GatewayRun::interrupt);

    if (!run.start(exitCode))
        return exitCode;
    return application.exec();
}
