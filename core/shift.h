// Shift sequencer: turns each change of the engaged gear into Page Up / Page Down taps.
#ifndef GEARVANE_SHIFT_H
#define GEARVANE_SHIFT_H

#include <stdint.h>

#include "platform.h"

enum { VK_SHIFT_UP = 0x21, VK_SHIFT_DOWN = 0x22 };  // Page Up, Page Down

// The spin's counter. It lives in memory so that every iteration is really executed;
// after Spin(n) it holds the number of iterations run.
extern volatile int32_t SpinCounter;

// Busy-waits max(1, n) iterations. No clock is involved: the time depends on the CPU.
void Spin(int32_t n);

// One tap: key down, Spin(WAIT1), key up, with a fresh scan-code lookup for each event.
void TapShiftUp(void);
void TapShiftDown(void);

// One poll tick: reads the gear and, when it differs from CurrentGear, sends the taps
// that take the game there, Spin(WAIT2) apart, stores it and blanks the debug window.
// Blocks for as long as the taps take. Returns 0.
int32_t ShiftStep(DialogHandle dlg);

#endif
