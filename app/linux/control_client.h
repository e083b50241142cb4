// --status and --set-gear: one request to the running gearvane through its control socket.
#ifndef GEARVANE_CONTROL_CLIENT_H
#define GEARVANE_CONTROL_CLIENT_H

#include <stdint.h>

// Prints the running gearvane's state on standard output. Returns 0, or 1 when none runs
// or it does not answer, which is said on standard error.
int PrintStatus();

// Tells the running gearvane that the game is in `gear` (-1..7). Returns 0, or 1 as
// PrintStatus does, or when the daemon refuses.
int SetGameGear(int32_t gear);

#endif
