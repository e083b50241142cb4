// The one spin loop. It is never inlined, so that the key hold, the pause between taps
// and spincal's measurement all run the very same machine code: an inlined copy at another
// alignment can run at a different speed.
#include "spin.h"

volatile int32_t SpinCounter;

__attribute__((noinline)) void Spin(int32_t n)
{
    SpinCounter = 0;
    do
        SpinCounter = SpinCounter + 1;
    while (SpinCounter < n);
}
