// Gate maps written as text, as in `--gate 1=13,2=14,R=19,reset=11`.
#ifndef GEARVANE_GATE_MAP_H
#define GEARVANE_GATE_MAP_H

#include <stddef.h>

#include "../core/gate.h"

// Parses a comma list of G=INPUT, G one of 1..7 or R, INPUT a button number or one of
// hat-up, hat-right, hat-down, hat-left, and an optional reset=BUTTON. Each gear and each
// input may be named once. On failure returns false and writes what is wrong to `error`.
bool ParseGateMap(const char *text, GateMap *map, char *error, size_t errorSize);

// The map in the form ParseGateMap reads: gears 1..7, then R, then the reset.
void FormatGateMap(const GateMap &map, char *text, size_t size);

#endif
