// Reading the timing file's text.
#include "timing.h"

#include <string.h>

// One read into `line`; returns where the next one starts.
static size_t ReadLine(const char *text, size_t length, size_t at, char *line)
{
    if (at >= length)
        return at;
    size_t n = 0;
    while (n < TIMING_LINE_SIZE - 1 && at < length) {
        char c = text[at++];
        line[n++] = c;
        if (c == '\n')
            break;
    }
    line[n] = '\0';
    return at;
}

void SplitTimingText(const char *text, size_t length, TimingLines *lines)
{
    char line[TIMING_LINE_SIZE] = "";
    size_t at = ReadLine(text, length, 0, line);
    memcpy(lines->first, line, sizeof line);
    ReadLine(text, length, at, line);
    memcpy(lines->second, line, sizeof line);
}

int32_t SpinCountOf(const char *line)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(line);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    // Unsigned, so that out-of-range numbers wrap instead of overflowing.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9')
        value = value * 10u + (*p++ - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value * 1000u);
}
