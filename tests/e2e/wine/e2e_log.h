/* Shared by the scripted controller and the key recorder: log helpers whose output the
   scenario runner parses. */
#ifndef GEARVANE_E2E_LOG_H
#define GEARVANE_E2E_LOG_H

#include <windows.h>
#include <stdio.h>

/* QueryPerformanceCounter ticks: comparable between the two processes. */
static long long Now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* Writes `text` as a C string literal, so that line feeds stay visible in the log. */
static void WriteQuoted(FILE *log, const char *text)
{
    const unsigned char *p;
    fputc('"', log);
    for (p = (const unsigned char *)text; *p; p++) {
        if (*p == '\n')
            fputs("\\n", log);
        else if (*p == '\r')
            fputs("\\r", log);
        else if (*p == '\t')
            fputs("\\t", log);
        else if (*p == '"' || *p == '\\')
            fprintf(log, "\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7f)
            fprintf(log, "\\x%02x", *p);
        else
            fputc(*p, log);
    }
    fputc('"', log);
}

#endif
