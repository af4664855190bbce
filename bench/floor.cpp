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

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QString figures(std::vector<double> values)
{
    if (values.empty())
        return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    const auto at = [&](double percent) {
        return values[std::min(values.size() - 1, size_t(percent / 100.0 * double(values.size())))];
    };
    return QString::asprintf("%.3f / %.3f / %.3f", at(50), at(99), values.back());
}

// The exit status when the program should stop here, or -1 to go on.
int parse(const QStringList &arguments, int *interval, int *cycles)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            printf("usage: talven-floor [--interval MS] [--cycles N]\n"
                   "Measures what this machine does to a program that sleeps through cycles of "
                   "MS milliseconds\n(default 330, 100 cycles): wake-up lateness, gaps in a 2 ms "
                   "spin, a woken thread's\nstart, and a 264 KB copy of memory last touched a "
                   "cycle ago.\n");
            return 0;
        }
        bool ok = false;
        const int value = i + 1 < arguments.size() ? arguments.at(i + 1).toInt(&ok) : 0;
        if ((name != QLatin1String("--interval") && name != QLatin1String("--cycles")) || !ok
            || value <= 0) {
            fprintf(stderr, "talven-floor: bad argument '%s' (--help)\n", qPrintable(name));
            return 2;
        }
        *(name == QLatin1String("--interval") ? interval : cycles) = value;
        ++i;
    }
    return -1;
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
    int interval = 330;
    int cycles = 100;
    const int status = parse(application.arguments(), &interval, &cycles);
    if (status >= 0)
        return status;

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

    printf("%d cycles of %d ms; median / p99 / max (ms)\n", cycles, interval);
    printf("wake-up after the deadline              %s\n", qPrintable(figures(late)));
    printf("longest gap in a 2 ms spin              %s\n", qPrintable(figures(gaps)));
    printf("woken thread starts after               %s\n", qPrintable(figures(wakeUps)));
    printf("264 KB copy, last touched a cycle ago  %s\n", qPrintable(figures(copies)));
    copyMs(to, from);
    printf("(the same copy right after another: %.3f ms)\n", copyMs(to, from));
    return 0;
}
