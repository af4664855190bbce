#include "gateway/cycledeadline.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace {

// How much earlier than its deadline the timer wakes the thread. The scheduler's wake-up time
// varies from one cycle to the next by a few tenths of a millisecond on a virtual machine; the
// rest of the way is counted on the clock, so that variation does not move the deadline. The
// thread is busy for this long at most, once per cycle.
constexpr int64_t kWakeEarlyNs = 500 * 1000;

} // namespace

CycleDeadline::CycleDeadline(QObject *parent)
    : QObject(parent)
{
#ifdef __linux__
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ != -1) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &CycleDeadline::expire);
    }
#endif
}

CycleDeadline::~CycleDeadline()
{
    delete notifier_;
#ifdef __linux__
    if (fd_ != -1)
        ::close(fd_);
#endif
}

int64_t CycleDeadline::now()
{
    // steady_clock is CLOCK_MONOTONIC with libstdc++, the clock the timerfd counts on.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

bool CycleDeadline::arm(int64_t deadlineNs)
{
#ifdef __linux__
    if (fd_ == -1)
        return false;
    deadline_ = deadlineNs;
    // A zero time would disarm the timer instead of firing it.
    const int64_t at = std::max<int64_t>(deadlineNs - kWakeEarlyNs, 1);
    itimerspec deadline{};
    deadline.it_value.tv_sec = at / 1000000000;
    deadline.it_value.tv_nsec = at % 1000000000;
    return timerfd_settime(fd_, TFD_TIMER_ABSTIME, &deadline, nullptr) == 0;
#else
    Q_UNUSED(deadlineNs);
    return false;
#endif
}

void CycleDeadline::disarm()
{
#ifdef __linux__
    if (fd_ == -1)
        return;
    const itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
#endif
}

void CycleDeadline::expire()
{
#ifdef __linux__
    // Re-arming clears an expiry that the loop had already seen: nothing to read then, and the
    // new deadline has not come.
    uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations)
        return;
    while (now() < deadline_) {
    }
    emit reached();
#endif
}
