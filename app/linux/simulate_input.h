// The input of --simulate: lever positions from standard input, one a line (1..7, r, n, or
// x for the reset). Memory stays bounded whatever comes: a line too long is refused unread.
#ifndef GEARVANE_SIMULATE_INPUT_H
#define GEARVANE_SIMULATE_INPUT_H

#include <stddef.h>

#include "../../core/gate.h"

class SimulateInput {
public:
    enum { MAX_LINE = 256 };  // bytes, without the newline

    // Reads once from standard input. Call it when the input is readable, or, for one that
    // cannot be polled (a regular file, /dev/zero), once in each turn of the loop.
    void Read();
    // The next position of the lines read, in order. False once none is left.
    bool Next(Decoded *position);

    bool Done() const { return ended && start == end && length == 0 && !overlong; }
    bool Failed() const { return failed; }  // standard input could not be read
    long Rejected() const { return rejected; }
    const Decoded &Last() const { return last; }  // the last position, neutral at first

private:
    bool EndLine(Decoded *position);
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
};

#endif
