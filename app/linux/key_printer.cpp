// The --simulate key output: a line on standard output for each key event.
#include "key_printer.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

// One write a line: a reader that goes away never gets half of one.
bool KeyPrinter::Print(int64_t now, const char *edge)
{
    char line[128];
    int length = snprintf(line, sizeof line, "%lld %.64s %s\n", static_cast<long long>((now - start) / 1000),
                          down.c_str(), edge);
    ssize_t n;
    while ((n = write(STDOUT_FILENO, line, length)) < 0 && errno == EINTR) {
    }
    if (n == length)
        return true;
    error = std::string("standard output: ") + (n < 0 ? strerror(errno) : "cannot take a whole line");
    return false;
}

bool KeyPrinter::Press(int32_t direction, int64_t now)
{
    if (!error.empty())
        return false;
    down = direction > 0 ? keys.upName : keys.downName;
    if (Print(now, "down"))
        return true;
    down.clear();
    return false;
}

bool KeyPrinter::Release(int64_t now)
{
    if (down.empty())
        return error.empty();
    bool ok = Print(now, "up");
    down.clear();
    return ok;
}
