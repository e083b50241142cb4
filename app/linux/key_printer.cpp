// The --simulate key output: a line on standard output for each key event.
#include "key_printer.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

bool KeyPrinter::Print(int64_t now, const char *edge)
{
    if (printf("%lld %s %s\n", static_cast<long long>((now - start) / 1000), down.c_str(), edge) < 0 ||
        fflush(stdout) != 0) {
        error = std::string("standard output: ") + strerror(errno);
        return false;
    }
    return true;
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
