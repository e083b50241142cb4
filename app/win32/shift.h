// Reading the lever and shifting, once per poll tick.
#ifndef GEARVANE_SHIFT_H
#define GEARVANE_SHIFT_H

#include <windows.h>

#include <stdint.h>

// The selected maximum gear, 4..7; 7 when no max-gear radio is checked.
int32_t GetMaxGear(HWND dlg);

// Polls the controller once and returns the engaged gear, -1..7, capped at the selected
// maximum. Sets CurrentGear to 0 when the reset button alone is held. A failed poll gives
// 0 and says so in the debug window, once.
int32_t ReadGear(HWND dlg);

// One tap: key down, Spin(WAIT1), key up, with a fresh scan-code lookup for each event.
void TapShiftUp(void);
void TapShiftDown(void);

// One poll tick: reads the gear and, when it differs from CurrentGear, sends the taps that
// take the game there, Spin(WAIT2) apart, stores it and blanks the debug window. Blocks
// for as long as the taps take. Returns 0.
int32_t ShiftStep(HWND dlg);

#endif
