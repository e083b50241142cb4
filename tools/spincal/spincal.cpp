// spincal: how long the key hold and the pause between taps that shift.ini sets last on
// this PC. It reads shift.ini with the program's own reader and times the program's own
// spin and shift sequence; no key is ever sent.
#include <stdio.h>

#include <algorithm>
#include <chrono>

#include "config/timing_file.h"
#include "core/gear.h"
#include "core/shift.h"
#include "core/state.h"
#include "resources/resource.h"

// Platform services for a console: the lever is wherever the measurement puts it, the
// dialog has the Standard plate and maximum 7 checked, key events are only counted.
static ControllerSample Lever = {0, POV_CENTERED};
static int KeyEvents;

bool PollController(ControllerSample *sample)
{
    *sample = Lever;
    return true;
}

bool IsRadioChecked(DialogHandle, int id)
{
    return id == IDC_PLATE_STANDARD || id == IDC_MAXGEAR_7;
}

unsigned LookUpScanCode(unsigned)
{
    return 0;
}

void SendKeyEvent(unsigned, unsigned, bool)
{
    KeyEvents++;
}

void SetDebugWindowText(DialogHandle, const char *)
{
}

void ShowWarning(DialogHandle, const char *text)
{
    fprintf(stderr, "spincal: %s\n", text);
}

void RequestQuit(void)
{
}

typedef std::chrono::steady_clock Clock;

enum { MAX_RUNS = 11 };
const int32_t CalibrationSpin = 1000000;
static int Runs = MAX_RUNS;

static double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

static double Median(double *ms)
{
    std::sort(ms, ms + Runs);
    return ms[Runs / 2];
}

static double SpinMilliseconds(int32_t n)
{
    double ms[MAX_RUNS];
    for (int i = 0; i < Runs; i++) {
        Clock::time_point start = Clock::now();
        Spin(n);
        ms[i] = MillisecondsSince(start);
    }
    return Median(ms);
}

// One gear change through the program's own ShiftStep, from gear `from` to the gear
// that `to` selects. Returns a negative time if it did not send `taps` taps.
static double ShiftMilliseconds(int32_t from, ControllerSample to, int taps)
{
    double ms[MAX_RUNS];
    Lever = to;
    for (int i = 0; i < Runs; i++) {
        CurrentGear = from;
        KeyEvents = 0;
        Clock::time_point start = Clock::now();
        ShiftStep(nullptr);
        ms[i] = MillisecondsSince(start);
        if (KeyEvents != 2 * taps)
            return -1;
    }
    return Median(ms);
}

// Returns false when the shift went wrong, so that spincal can say so in its status.
static bool PrintShift(const char *what, double ms)
{
    if (ms < 0) {
        printf("  %-22s failed: the shift sent the wrong number of taps\n", what);
        return false;
    }
    printf("  %-22s %10.3f ms\n", what, ms);
    return true;
}

int main()
{
    if (!LoadTimingFile(nullptr))
        return 1;
    printf("shift.ini: WAIT1 = %ld iterations, WAIT2 = %ld iterations\n", static_cast<long>(WAIT1),
           static_cast<long>(WAIT2));

    // Huge counts take seconds per spin: then three runs are enough.
    Clock::time_point probe = Clock::now();
    Spin(WAIT1);
    Spin(WAIT2);
    if (MillisecondsSince(probe) > 100)
        Runs = 3;

    double hold = SpinMilliseconds(WAIT1);
    double pause = SpinMilliseconds(WAIT2);
    printf("On this PC, median of %d runs:\n", Runs);
    printf("  %-22s %10.3f ms\n", "key held (WAIT1)", hold);
    printf("  %-22s %10.3f ms\n", "pause between (WAIT2)", pause);
    bool ok = PrintShift("shift of 1 gear", ShiftMilliseconds(0, {0x20, POV_CENTERED}, 1));
    ok &= PrintShift("shift of 3 gears", ShiftMilliseconds(0, {0x01, POV_CENTERED}, 3));
    ok &= PrintShift("shift of 8 gears", ShiftMilliseconds(-1, {0, POV_BACKWARD}, 8));

    Runs = MAX_RUNS;
    double perMs = CalibrationSpin / SpinMilliseconds(CalibrationSpin);
    printf("The spin runs about %.0f iterations per ms here. A key held for one frame at\n"
           "60 frames per second (16.7 ms) needs a first line of about %.0f in shift.ini.\n",
           perMs, perMs * 16.7 / 1000 + 0.5);
    return ok ? 0 : 1;
}
