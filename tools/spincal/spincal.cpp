// spincal: how long the key hold and the pause between taps that shift.ini sets last on
// this PC, and the first line that holds a key for one frame. It reads shift.ini with
// gearvane.exe's own reader and times gearvane.exe's own spin function; no key is ever sent.
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/win32/spin.h"
#include "app/win32/timing_file.h"

typedef std::chrono::steady_clock Clock;

enum { MAX_RUNS = 11, FRAME_RUNS = 7, FRAME_ROUNDS = 6, MAX_LINE = 2147483 };
const double FrameMs = 1000.0 / 60;

struct Timing {
    double median, low, high;  // ms
};

// `runs` timings of Spin(n): their median and range.
static Timing TimeSpin(int32_t n, int runs)
{
    double ms[MAX_RUNS];
    for (int i = 0; i < runs; i++) {
        Clock::time_point start = Clock::now();
        Spin(n);
        ms[i] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    std::sort(ms, ms + runs);
    return {ms[runs / 2], ms[0], ms[runs - 1]};
}

// The shift.ini line (thousands of iterations) whose spin lasts one frame, and its timing
// at that very size. A short calibration alone swings widely between runs (the clock's
// grain, the CPU speeding up), so each guess is timed and scaled until it lands within 2 %.
static int32_t FrameLine(Timing *timing)
{
    Spin(50000000);  // lets the CPU reach its working speed first
    Timing probe = TimeSpin(1000000, FRAME_RUNS);
    double line = FrameMs * 1000 / std::max(probe.median, 1e-3);
    for (int round = 0; round < FRAME_ROUNDS; round++) {
        line = std::clamp(std::round(line), 1.0, double(MAX_LINE));  // a line that fits gearvane's int32
        *timing = TimeSpin(int32_t(line) * 1000, FRAME_RUNS);
        if (std::fabs(timing->median - FrameMs) < 0.02 * FrameMs)
            break;
        line *= FrameMs / std::max(timing->median, 1e-3);
    }
    return int32_t(line);
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
    int runs = Clock::now() - probe > std::chrono::milliseconds(100) ? 3 : MAX_RUNS;

    Timing hold = TimeSpin(wait1, runs), pause = TimeSpin(wait2, runs);
    printf("On this PC, median of %d runs:\n", runs);
    printf("  %-24s %10.3f ms\n", "key held (WAIT1)", hold.median);
    printf("  %-24s %10.3f ms\n", "pause between (WAIT2)", pause.median);
    for (int gears : {1, 3, 8}) {
        char label[32];
        snprintf(label, sizeof label, "shift of %d gear%s", gears, gears > 1 ? "s" : "");
        printf("  %-24s %10.3f ms, and the time to send %d key events\n", label,
               gears * hold.median + (gears - 1) * pause.median, 2 * gears);
    }

    Timing frame;
    int32_t line = FrameLine(&frame);
    printf("The spin runs about %.0f iterations per ms here. A key held for one frame at\n"
           "60 frames per second (16.7 ms) needs a first line of about %ld in shift.ini:\n"
           "at that size the spin took %.1f ms (median of %d runs; from %.1f to %.1f ms).\n",
           line * 1000 / frame.median, static_cast<long>(line), frame.median, FRAME_RUNS, frame.low,
           frame.high);
    return 0;
}
