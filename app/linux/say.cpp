// Messages.
#include "say.h"

#include <stdarg.h>
#include <stdio.h>

void Fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("gearvane: ", stderr);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}
