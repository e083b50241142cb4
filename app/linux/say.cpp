// Writing whole lines to standard error.
#include "say.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum { LINE_MAX_BYTES = 1024 };

// Writes `line` (ending in a newline) in one write, again after a signal; a full pipe or
// socket loses it whole. A socket, as systemd gives a service, is never waited on: its
// buffer takes a line this short in one piece or not at all.
void WriteLine(const char *line, size_t length)
{
    static bool socket = true;  // until standard error turns out not to be one
    for (;;) {
        ssize_t n = socket ? send(STDERR_FILENO, line, length, MSG_DONTWAIT | MSG_NOSIGNAL)
                           : write(STDERR_FILENO, line, length);
        if (n < 0 && socket && errno == ENOTSOCK)
            socket = false;
        else if (n >= 0 || errno != EINTR)
            return;
    }
}

}  // namespace

void PrintError(const char *format, ...)
{
    char line[LINE_MAX_BYTES + 2];
    int n = snprintf(line, LINE_MAX_BYTES, "gearvane: ");
    va_list args;
    va_start(args, format);
    int more = vsnprintf(line + n, LINE_MAX_BYTES - n, format, args);
    va_end(args);
    n = more < 0 ? n : n + more < LINE_MAX_BYTES ? n + more : LINE_MAX_BYTES - 1;
    line[n++] = '\n';
    WriteLine(line, n);
}

void PrintLine(const char *text)
{
    char line[LINE_MAX_BYTES + 2];
    size_t n = strnlen(text, LINE_MAX_BYTES);
    memcpy(line, text, n);
    line[n++] = '\n';
    WriteLine(line, n);
}
