// What this machine does to any program that sleeps through a cycle, without the testbench: the
// timing figures cannot be better than these. Each cycle the program sleeps to an absolute
// deadline on the monotonic clock, then measures
// - how late it woke;
// - the longest gap in a 2 ms spin on the clock (the machine taking the core away);
// - how long a second thread, asleep on an eventfd, takes to run once woken (as a driver's
//   reader thread is woken for a beacon);
// - how long it takes to copy 264 KB, about the timeline's picture, a memory that was last
//   touched a cycle ago.
//
//   talven-floor [--interval MS] [--cycles N]      (defaults 330 and 100)

#include "measure.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

// A whole number above zero from the option, or 0 after saying what is wrong.
int positive(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (ok && value > 0)
        return value;
    fprintf(stderr, "talven-floor: --%s must be a whole number above 0, not '%s'\n",
            qPrintable(option.names().constFirst()), qPrintable(parser.value(option)));
    return 0;
}

double copyMs(std::vector<char> &to, const std::vector<char> &from)
{
    const int64_t start = monotonicNs();
    memcpy(to.data(), from.data(), from.size());
    return double(monotonicNs() - start) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
            "Measures what this machine does to a program that sleeps through cycles, with no\n"
            "testbench code: wake-up lateness, gaps in a 2 ms spin, a woken thread's start, and\n"
            "a 264 KB copy of memory last touched a cycle ago.");
    parser.addHelpOption();
    const QCommandLineOption intervalOption("interval", "Cycle length in ms (default 330).", "ms",
                                            "330");
    const QCommandLineOption cyclesOption("cycles", "Cycles (default 100).", "n", "100");
    parser.addOptions({intervalOption, cyclesOption});
    parser.process(application);
    const int interval = positive(parser, intervalOption);
    const int cycles = positive(parser, cyclesOption);
    if (interval == 0 || cycles == 0)
        return 2;

    const int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) {
        perror("talven-floor: eventfd");
        return 1;
    }
    std::atomic<int64_t> started{0};
    std::thread sleeper([&] {
        uint64_t count = 0;
        while (read(wake, &count, sizeof count) == sizeof count && count == 1)
            started = monotonicNs();
    });

    const size_t pictureBytes = 1100 * 60 * 4;
    std::vector<char> from(pictureBytes, 1);
    std::vector<char> to(pictureBytes, 2);
    std::vector<double> late, gaps, wakeUps, copies;
    int64_t deadline = monotonicNs() + int64_t(interval) * 1000000;
    for (int cycle = 0; cycle < cycles; ++cycle, deadline += int64_t(interval) * 1000000) {
        const timespec at{time_t(deadline / 1000000000), long(deadline % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const int64_t woke = monotonicNs();
        late.push_back(double(woke - deadline) / 1e6);

        copies.push_back(copyMs(to, from));

        started = 0;
        const uint64_t one = 1;
        const int64_t signalled = monotonicNs();
        if (write(wake, &one, sizeof one) != sizeof one)
            return 1;
        while (started == 0) {
        }
        wakeUps.push_back(double(started - signalled) / 1e6);

        int64_t last = monotonicNs();
        int64_t gap = 0;
        for (const int64_t end = last + 2000000; last < end;) {
            const int64_t now = monotonicNs();
            gap = std::max(gap, now - last);
            last = now;
        }
        gaps.push_back(double(gap) / 1e6);
    }
    const uint64_t stop = 2;
    if (write(wake, &stop, sizeof stop) != sizeof stop)
        return 1;
    sleeper.join();
    close(wake);

    const QList<double> ranks = {50, 99, 100};
    printf("%d cycles of %d ms; median / p99 / max (ms)\n", cycles, interval);
    printf("wake-up after the deadline              %s\n", qPrintable(figures(late, ranks)));
    printf("longest gap in a 2 ms spin              %s\n", qPrintable(figures(gaps, ranks)));
    printf("woken thread starts after               %s\n", qPrintable(figures(wakeUps, ranks)));
    printf("264 KB copy, last touched a cycle ago   %s\n", qPrintable(figures(copies, ranks)));
    copyMs(to, from);
    printf("(the same copy right after another: %.3f ms)\n", copyMs(to, from));
    return 0;
}
