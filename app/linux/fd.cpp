// Time on CLOCK_MONOTONIC, and the timerfd that wakes the loop when a tap is due.
#include "fd.h"

#include <sys/timerfd.h>
#include <time.h>

int64_t Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

bool Timer::Open()
{
    fd = Fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    return fd.Get() >= 0;
}

void Timer::ArmAt(int64_t due)
{
    itimerspec when = {};
    if (due >= 0) {
        when.it_value.tv_sec = due / 1000000;
        when.it_value.tv_nsec = due % 1000000 * 1000;
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
            when.it_value.tv_nsec = 1;  // zero would disarm it
    }
    timerfd_settime(fd.Get(), TFD_TIMER_ABSTIME, &when, nullptr);
}

void Timer::Drain()
{
    uint64_t expirations;
    while (read(fd.Get(), &expirations, sizeof expirations) > 0) {
    }
}
