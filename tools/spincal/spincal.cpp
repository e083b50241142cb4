// spincal: how long the key hold and the pause between taps that shift.ini sets last on
// this PC. It reads shift.ini with gearvane.exe's own reader and times gearvane.exe's own
// spin function; no key is ever sent.
#include <stdio.h>

#include <chrono>

#include "app/win32/spin.h"
#include "app/win32/timing_file.h"

typedef std::chrono::steady_clock Clock;

enum { MAX_RUNS = 11 };
const int32_t CalibrationSpin = 1000000;
static int Runs = MAX_RUNS;

static double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The median of `Runs` timings of Spin(n).
static double SpinMilliseconds(int32_t n)
{
    double ms[MAX_RUNS];
    for (int i = 0; i < Runs; i++) {
        Clock::time_point start = Clock::now();
        Spin(n);
        ms[i] = MillisecondsSince(start);
    }
    // Insertion sort: a handful of values.
    for (int i = 1; i < Runs; i++)
        for (int j = i; j > 0 && ms[j - 1] > ms[j]; j--) {
            double t = ms[j];
            ms[j] = ms[j - 1];
            ms[j - 1] = t;
        }
    return ms[Runs / 2];
}

int main()
{
    TimingLines lines;
    if (!ReadTimingFile(&lines)) {
        fprintf(stderr, "spincal: Couldn't open shift.ini\n");
        return 1;
    }
    int32_t wait1 = SpinCountOf(lines.first), wait2 = SpinCountOf(lines.second);
    printf("shift.ini: WAIT1 = %ld iterations, WAIT2 = %ld iterations\n", static_cast<long>(wait1),
           static_cast<long>(wait2));

    // Huge counts take seconds per spin: then three runs are enough.
    Clock::time_point probe = Clock::now();
    Spin(wait1);
    Spin(wait2);
    if (MillisecondsSince(probe) > 100)
        Runs = 3;

    double hold = SpinMilliseconds(wait1);
    double pause = SpinMilliseconds(wait2);
    printf("On this PC, median of %d runs:\n", Runs);
    printf("  %-24s %10.3f ms\n", "key held (WAIT1)", hold);
    printf("  %-24s %10.3f ms\n", "pause between (WAIT2)", pause);
    for (int gears : {1, 3, 8}) {
        char label[32];
        snprintf(label, sizeof label, "shift of %d gear%s", gears, gears > 1 ? "s" : "");
        printf("  %-24s %10.3f ms, and the time to send %d key events\n", label, gears * hold + (gears - 1) * pause,
               2 * gears);
    }

    Runs = MAX_RUNS;
    double perMs = CalibrationSpin / SpinMilliseconds(CalibrationSpin);
    printf("The spin runs about %.0f iterations per ms here. A key held for one frame at\n"
           "60 frames per second (16.7 ms) needs a first line of about %.0f in shift.ini.\n",
           perMs, perMs * 16.7 / 1000 + 0.5);
    return 0;
}
