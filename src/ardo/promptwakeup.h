#pragma once

#include <cstdint>

#ifdef __linux__
#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace ardo {

// Asks the scheduler to run the calling thread as soon as it wakes, even when the thread that woke
// it goes on working on the same core. Linux's scheduler (EEVDF, since 6.6) lets the running thread
// finish its slice first; on these two-core machines a woken reader waited up to a millisecond
// behind a painting GUI thread. A thread that sleeps most of the time and then stamps or sends a
// frame asks for the shortest slice instead, which Linux 6.12 and later honour without privileges
// (older kernels take the request and ignore it). Priority and nice value stay as they are. False
// when the request was refused or the thread is not of the normal policy.
inline bool preferPromptWakeUps()
{
#if defined(__linux__) && defined(SYS_sched_setattr)
    // The kernel's struct sched_attr, which glibc before 2.41 does not declare.
    struct Attributes
    {
        uint32_t size;
        uint32_t policy;
        uint64_t flags;
        int32_t nice;
        uint32_t priority;
        uint64_t runtime;
        uint64_t deadline;
        uint64_t period;
    };
    // The shortest slice the kernel grants.
    constexpr uint64_t kSliceNs = 100 * 1000;

    if (sched_getscheduler(0) != SCHED_OTHER)
        return false;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    if (errno != 0)
        return false;
    Attributes attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    attributes.nice = nice;
    attributes.runtime = kSliceNs;
    return syscall(SYS_sched_setattr, 0, &attributes, 0) == 0;
#else
    return false;
#endif
}

} // namespace ardo
