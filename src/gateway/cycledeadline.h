#pragma once

#include <QObject>

#include <cstdint>

class QSocketNotifier;

// Wakes the thread it lives on when a deadline on the monotonic clock has come, to within a few
// microseconds: it wakes a little early and counts the rest of the way on the clock. The event
// loop's own timers cannot: they wait in whole milliseconds, and the kernel lets a poll() of a
// normal task sleep 0.1% longer than asked (2 ms of a 2013 ms cycle). On Linux a timerfd, which has
// no such slack, wakes the loop; elsewhere nothing is armed and the owner's own timer decides.
// Owned by its parent; emits reached() on its own thread.
class CycleDeadline : public QObject
{
    Q_OBJECT

public:
    explicit CycleDeadline(QObject *parent = nullptr);
    ~CycleDeadline() override;

    // Nanoseconds on the monotonic clock that deadlines are given in.
    static int64_t now();

    // Replaces any armed deadline; one already past is reached at once. False when this platform
    // has no precise deadline.
    bool arm(int64_t deadlineNs);
    void disarm();

signals:
    void reached();

private:
    void expire();

    int fd_ = -1;
    int64_t deadline_ = 0;
    QSocketNotifier *notifier_ = nullptr;
};
