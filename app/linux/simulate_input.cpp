// Reading lever positions from standard input, a line at a time, in a bounded buffer.
#include "simulate_input.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "../../config/text.h"
#include "say.h"

void SimulateInput::Read()
{
    if (ended)
        return;
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n < 0) {
        PrintError("standard input: %s", strerror(errno));
        failed = true;
    }
    start = 0;
    end = n > 0 ? static_cast<size_t>(n) : 0;
    ended = n <= 0;
}

void SimulateInput::Reject(const char *why)
{
    rejected++;
    std::string shown;  // the line as typed, in printable ASCII: no control sequences for the terminal
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        char escaped[8];
        snprintf(escaped, sizeof escaped, c < 0x20 || c >= 0x7f ? "\\x%02x" : "%c", c);
        shown += escaped;
    }
    PrintError("line %ld: '%s' %s", number, shown.c_str(), why);
}

bool SimulateInput::Next(Decoded *position)
{
    while (start < end) {
        char c = buffer[start++];
        if (length == 0 && !overlong)
            number++;
        if (c == '\n') {
            if (EndLine(position))
                return true;
        } else if (overlong) {
        } else if (length < MAX_LINE) {
            line[length++] = c;
        } else {
            // Said at once: the line may never end, as from /dev/zero.
            overlong = true;
            rejected++;
            PrintError("line %ld: longer than %d bytes; not a lever position", number, MAX_LINE);
        }
    }
    // The last line may have no newline.
    return ended && EndLine(position);
}

// Ends the line under way: true when it was a position. A blank line is no position, and no
// mistake either.
bool SimulateInput::EndLine(Decoded *position)
{
    bool refused = overlong;
    overlong = false;
    std::string_view text = Trim({line, length}, " \t\r");
    Decoded d = {GEAR_NONE, false};
    bool ok = true;
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '7')
        d.gear = text[0] - '0';
    else if (text == "r" || text == "R")
        d.gear = GEAR_REVERSE;
    else if (text == "x" || text == "X")
        d.reset = true;
    else
        ok = text == "n" || text == "N";
    if (!ok && !text.empty() && !refused)
        Reject("is not a lever position (1..7, r, n, or x for reset)");
    length = 0;
    if (!ok || refused)
        return false;
    *position = last = d;
    return true;
}
