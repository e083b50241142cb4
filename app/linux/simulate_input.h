// The input of --simulate: lever positions from standard input, one a line (1..7, r, n, or
// x for the reset), or the simulated lever's buttons and hat ("press 13", "release 13",
// "hat left", "hat centre"), which the gate map in force decodes. Memory stays bounded
// whatever comes: a line too long is refused unread.
#ifndef GEARVANE_SIMULATE_INPUT_H
#define GEARVANE_SIMULATE_INPUT_H

#include <stddef.h>

#include <string_view>

#include "../../core/gate.h"

class SimulateInput {
public:
    enum { MAX_LINE = 256 };  // bytes, without the newline

    // Reads once from standard input. Call it when the input is readable and nothing is
    // Buffered, or, for one that cannot be polled (a regular file, /dev/zero), once in each
    // turn of the loop.
    void Read();
    // The next line read that moved the lever, in order. False once none is left.
    bool Next();
    // Where the lever is after the lines taken so far: the last position given, or what
    // `map` makes of the buttons and hat held when a button or hat line came last.
    Decoded Position(const GateMap &map) const { return byInput ? DecodeGate(map, held) : last; }
    // The buttons and hat held: none after a position line.
    const Sample &Held() const { return held; }

    // Whether lines read are still to be taken: Read must wait until they are.
    bool Buffered() const { return start < end; }
    bool Done() const { return ended && start == end && length == 0 && !overlong; }
    bool Failed() const { return failed; }  // standard input could not be read
    long Rejected() const { return rejected; }

private:
    bool EndLine();
    bool TakeInput(std::string_view text);
    void Reject(const char *why);

    char buffer[4096];
    size_t start = 0, end = 0;  // of what is read but not yet taken
    char line[MAX_LINE];
    size_t length = 0;
    bool overlong = false;  // the line under way was refused: the rest of it is skipped
    long number = 0;        // of the line under way, from 1
    long rejected = 0;
    bool ended = false, failed = false;
    Decoded last = {GEAR_NONE, false};
    Sample held = {{}, HAT_CENTRED};
    bool byInput = false;
};

#endif
