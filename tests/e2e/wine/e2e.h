/* Shared by the scripted controllers and the key recorder: the log that the runner reads,
   and the program's message boxes, caught and logged instead of shown. */
#ifndef GEARVANE_E2E_H
#define GEARVANE_E2E_H

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static FILE *Log;

/* QueryPerformanceCounter ticks: comparable between the Wine processes of one prefix. */
static inline long long Now(void)
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* Writes one log line in one piece, as threads share the log, and flushes it: the runner
   follows the log while the program runs. Nothing is written without a log. */
static inline void LogLine(const char *format, ...)
{
    char line[8192];
    va_list args;
    if (!Log)
        return;
    va_start(args, format);
    vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    strcat(line, "\n");
    fputs(line, Log);
    fflush(Log);
}

/* `text` as a quoted string, written as the scenario files write one, in one of four
   rotating buffers. */
static inline const char *Quoted(const char *text)
{
    static const char special[] = "\n\r\t\"\\", names[] = "nrt\"\\";
    static char buffers[4][4100];
    static int turn;
    char *out = buffers[turn = (turn + 1) % 4], *p = out, *end = out + sizeof buffers[0] - 4;
    *p++ = '"';
    for (; *text && p < end; text++) {
        const char *s = strchr(special, *text);
        if (s)
            *p++ = '\\';
        *p++ = s ? names[s - special] : *text;
    }
    strcpy(p, "\"");
    return out;
}

static inline void OpenLog(void)
{
    char path[MAX_PATH];
    LARGE_INTEGER freq;
    if (GetEnvironmentVariableA("GEARVANE_E2E_LOG", path, sizeof path))
        Log = fopen(path, "w");
    QueryPerformanceFrequency(&freq);
    LogLine("freq %lld", freq.QuadPart);
}

/* Logged as a scenario's `boxes` section writes a box. */
static inline void LogBox(HWND owner, const char *text, const char *caption, UINT type)
{
    static const char *icons[] = {"none", "error", "question", "warning", "information"};
    char title[256] = "(none)";
    UINT icon = (type & MB_ICONMASK) >> 4;
    if (owner)
        GetWindowTextA(owner, title, sizeof title);
    LogLine("boxes %s %s %s owner %s%s", Quoted(caption), icons[icon > 4 ? 0 : icon], Quoted(text), Quoted(title),
            owner && IsWindowVisible(owner) ? " (owner visible)" : "");
}

static inline int WINAPI CaughtBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    LogBox(owner, text, caption, type);
    return IDOK;
}

static inline int WINAPI CaughtBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    char t[4096], c[256];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, t, sizeof t, NULL, NULL);
    WideCharToMultiByte(CP_UTF8, 0, caption, -1, c, sizeof c, NULL, NULL);
    LogBox(owner, t, c, type);
    return IDOK;
}

/* Points the program's imports of MessageBoxA and MessageBoxW at the catchers above, as if
   the user read each box and clicked OK at once. */
static inline void CatchMessageBoxes(void)
{
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_IMPORT_DESCRIPTOR *d =
        (IMAGE_IMPORT_DESCRIPTOR *)(base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (; d->Name; d++) {
        IMAGE_THUNK_DATA *name = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        DWORD *slot = (DWORD *)(base + d->FirstThunk), old, catcher;
        if (lstrcmpiA((const char *)base + d->Name, "user32.dll") != 0)
            continue;
        for (; name->u1.AddressOfData; name++, slot++) {
            const char *fn = IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)
                                 ? "" : (const char *)((IMAGE_IMPORT_BY_NAME *)(base + name->u1.AddressOfData))->Name;
            catcher = strcmp(fn, "MessageBoxA") == 0 ? (DWORD)CaughtBoxA
                      : strcmp(fn, "MessageBoxW") == 0 ? (DWORD)CaughtBoxW : 0;
            if (catcher && VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
                *slot = catcher;
                VirtualProtect(slot, sizeof *slot, old, &old);
            }
        }
    }
}

#endif
