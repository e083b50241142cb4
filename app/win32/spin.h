// The busy wait that times the key taps of gearvane.exe.
#ifndef GEARVANE_SPIN_H
#define GEARVANE_SPIN_H

#include <stdint.h>

// The spin's counter. It lives in memory so that every iteration is really executed;
// after Spin(n) it holds the number of iterations run.
extern volatile int32_t SpinCounter;

// Busy-waits max(1, n) iterations. No clock is involved: the time depends on the CPU.
void Spin(int32_t n);

#endif
