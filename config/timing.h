// The timing file, "shift.ini": two lines that set the key hold and the pause between the
// taps of one gear change, in thousands of spin iterations.
#ifndef GEARVANE_TIMING_H
#define GEARVANE_TIMING_H

#include <stddef.h>
#include <stdint.h>

enum { TIMING_LINE_SIZE = 20, TIMING_TEXT_MAX = 2 * (TIMING_LINE_SIZE - 1) };

struct TimingLines {
    char first[TIMING_LINE_SIZE];
    char second[TIMING_LINE_SIZE];
};

// The two lines as two reads of the file's text, each of at most 19 characters, stopping
// after a line feed, which stays. A read that meets the end of the text takes nothing and
// leaves the line before it in place, so a file of one line gives that line twice. Only
// the first TIMING_TEXT_MAX bytes of `text` can matter.
void SplitTimingText(const char *text, size_t length, TimingLines *lines);

// The spin count of a line: its leading decimal integer read as atoi does (white space,
// an optional sign, digits; no digits give 0), times 1000. Out-of-range numbers wrap
// modulo 2^32, in the conversion and again in the product, rather than being clamped.
int32_t SpinCountOf(const char *line);

#endif
