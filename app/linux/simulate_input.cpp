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

bool SimulateInput::Next()
{
    while (start < end) {
        char c = buffer[start++];
        if (length == 0 && !overlong)
            number++;
        if (c == '\n') {
            if (EndLine())
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
    return ended && EndLine();
}

// A line that presses or lets go of a button, or moves the hat. False when it is none.
bool SimulateInput::TakeInput(std::string_view text)
{
    static const std::pair<const char *, uint32_t> Hats[] = {
        {"up", 0},          {"up-right", 4500}, {"right", 9000},       {"down-right", 13500}, {"down", 18000},
        {"down-left", 22500}, {"left", 27000},  {"up-left", 31500},    {"centre", HAT_CENTRED}, {"center", HAT_CENTRED}};
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos)
        return false;
    std::string_view verb = text.substr(0, blank), what = Trim(text.substr(blank + 1), " \t");
    if (verb == "hat") {
        for (const auto &h : Hats)
            if (what == h.first) {
                held.hat = h.second;
                return true;
            }
        return false;
    }
    if (verb != "press" && verb != "release")
        return false;
    int button = 0;
    for (char c : what) {
        if (c < '0' || c > '9' || button > MAX_BUTTONS)
            return false;
        button = button * 10 + (c - '0');
    }
    if (button < 1 || button > MAX_BUTTONS)
        return false;
    SetButton(&held, button, verb == "press");
    return true;
}

// Ends the line under way: true when it was a position. A blank line is no position, and no
// mistake either.
bool SimulateInput::EndLine()
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
    bool input = !ok && !refused && TakeInput(text);
    if (!ok && !input && !text.empty() && !refused)
        Reject("is not a lever position (1..7, r, n, or x for reset), nor press N, release N or hat DIRECTION");
    length = 0;
    if (refused || !(ok || input))
        return false;
    byInput = input;
    if (ok) {
        last = d;
        held = {{}, HAT_CENTRED};
    }
    return true;
}
