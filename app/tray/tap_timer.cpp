// The tap timer and the clock.
#include "tap_timer.h"

#include <mmsystem.h>

// mingw-w64 lacks the name.
enum { CREATE_WAITABLE_TIMER_HIGH_RESOLUTION_ = 0x2 };

bool CreateTapTimer(TapTimer *t)
{
    t->timer.Reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION_, TIMER_ALL_ACCESS));
    t->highResolution = t->timer.h != nullptr;
    if (!t->timer.h)
        t->timer.Reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    return t->timer.h != nullptr;
}

void ArmTapTimer(TapTimer *t, int64_t due, int64_t now)
{
    if (due < 0) {
        CancelWaitableTimer(t->timer.h);
        if (t->periodHeld)
            timeEndPeriod(1);
        t->periodHeld = false;
        return;
    }
    // A plain timer fires on the system tick, 15.6 ms by default: too coarse for a hold.
    if (!t->highResolution && !t->periodHeld)
        t->periodHeld = timeBeginPeriod(1) == TIMERR_NOERROR;
    LARGE_INTEGER when;
    int64_t wait = due - now;
    when.QuadPart = -(wait > 0 ? wait * 10 : 1);  // relative, in 100 ns
    SetWaitableTimer(t->timer.h, &when, 0, nullptr, nullptr, FALSE);
}

int64_t Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    int64_t f = frequency.QuadPart, c = counter.QuadPart;
    // Split, so that the product cannot overflow however long Windows has been up.
    return c / f * 1000000 + c % f * 1000000 / f;
}
