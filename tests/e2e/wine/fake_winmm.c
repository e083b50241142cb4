/* A scripted game controller for the end-to-end tests: a winmm.dll that plays controller
 * reports by poll number, acts on the dialog like a user at given polls, and logs every
 * call the program makes. Loaded beside gearvane.exe with WINEDLLOVERRIDES=winmm=n.
 *
 * GEARVANE_E2E_SCRIPT names the script, GEARVANE_E2E_LOG the log. Script lines:
 *   refuse-capture
 *   state POLL BUTTONS POV FAIL   reports from POLL on; FAIL 1 returns JOYERR_UNPLUGGED
 *                                 after writing the values anyway
 *   act POLL VERB [ARG]           done inside that poll, after the report is written
 * Every poll is logged with its QPC time.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "e2e_log.h"

#define JOYERR_NOERROR 0
#define JOYERR_PARMS 165
#define JOYERR_NOCANDO 166
#define JOYERR_UNPLUGGED 167

/* mmsystem.h is left out: it declares these functions as imports. */
typedef struct {
    DWORD dwSize, dwFlags, dwXpos, dwYpos, dwZpos, dwRpos, dwUpos, dwVpos;
    DWORD dwButtons, dwButtonNumber, dwPOV, dwReserved1, dwReserved2;
} JOYINFOEX;

typedef UINT MMRESULT;

enum { MAX_STATES = 512, MAX_ACTS = 512 };

typedef struct {
    long poll;
    DWORD buttons, pov;
    int fail;
} State;

typedef struct {
    long poll;
    char verb[32];
    char arg[96];
} Act;

static State States[MAX_STATES];
static int StateCount;
static Act Acts[MAX_ACTS];
static int ActCount;
static int RefuseCapture;
static long PollCount;
static HWND Dialog;
static FILE *Log;

static void LogLine(const char *fmt, ...)
{
    va_list args;
    if (!Log)
        return;
    va_start(args, fmt);
    vfprintf(Log, fmt, args);
    va_end(args);
    fputc('\n', Log);
    fflush(Log);
}

static void LoadScript(void)
{
    char path[MAX_PATH], line[256];
    FILE *f;
    if (!GetEnvironmentVariableA("GEARVANE_E2E_SCRIPT", path, sizeof path))
        return;
    f = fopen(path, "r");
    if (!f) {
        LogLine("error cannot open script %s", path);
        return;
    }
    while (fgets(line, sizeof line, f)) {
        State s;
        Act a;
        if (strncmp(line, "refuse-capture", 14) == 0) {
            RefuseCapture = 1;
        } else if (sscanf(line, "state %ld %lu %lu %d", &s.poll, &s.buttons, &s.pov, &s.fail) == 4) {
            if (StateCount < MAX_STATES)
                States[StateCount++] = s;
        } else {
            a.arg[0] = '\0';
            if (sscanf(line, "act %ld %31s %95s", &a.poll, a.verb, a.arg) >= 2 && ActCount < MAX_ACTS)
                Acts[ActCount++] = a;
        }
    }
    fclose(f);
}

/* The report for poll n: the last state line at or before n; neutral before the first. */
static const State *StateAt(long n)
{
    static const State neutral = {0, 0, 65535, 0};
    const State *found = &neutral;
    int i;
    for (i = 0; i < StateCount; i++)
        if (States[i].poll <= n)
            found = &States[i];
    return found;
}

static void LogSnapshot(long n)
{
    static const int radios[] = {1025, 1026, 1031, 1032, 1033, 1034};
    char text[10000], title[256] = "";
    HWND fg = GetForegroundWindow();
    int i;
    GetDlgItemTextA(Dialog, 1041, text, sizeof text);
    if (fg)
        GetWindowTextA(fg, title, sizeof title);
    fprintf(Log, "snap %ld text=", n);
    WriteQuoted(Log, text);
    fputs(" radios=", Log);
    for (i = 0; i < 6; i++)
        fprintf(Log, "%s%d:%u", i ? "," : "", radios[i], IsDlgButtonChecked(Dialog, radios[i]));
    fputs(" foreground=", Log);
    WriteQuoted(Log, title);
    fprintf(Log, " focus=%d\n", GetFocus() ? GetDlgCtrlID(GetFocus()) : 0);
    fflush(Log);
}

static int VirtualKeyOf(const char *name)
{
    if (strcmp(name, "Escape") == 0)
        return VK_ESCAPE;
    return 0;
}

static void PressKey(int vk)
{
    BYTE scan = (BYTE)MapVirtualKeyA(vk, 0);
    keybd_event((BYTE)vk, scan, 0, 0);
    keybd_event((BYTE)vk, scan, KEYEVENTF_KEYUP, 0);
}

/* Asks the test runner for a screenshot of the dialog and waits until it is taken. */
static void Screenshot(const char *name)
{
    char path[MAX_PATH];
    RECT r;
    FILE *f;
    int i;
    GetWindowRect(Dialog, &r);
    snprintf(path, sizeof path, "screenshot-%s.request", name);
    f = fopen(path, "w");
    if (!f)
        return;
    fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    fclose(f);
    for (i = 0; i < 200 && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
}

/* Each action is what a user does; input and posted messages take effect after this tick. */
static void Perform(long n, const Act *a)
{
    HWND control = GetDlgItem(Dialog, atoi(a->arg));
    LogLine("act %ld %s %s t=%lld", n, a->verb, a->arg, Now());
    if (strcmp(a->verb, "click") == 0) {
        PostMessageA(control, BM_CLICK, 0, 0);
    } else if (strcmp(a->verb, "uncheck") == 0) {
        PostMessageA(control, BM_SETCHECK, BST_UNCHECKED, 0);
    } else if (strcmp(a->verb, "close-button") == 0) {
        PostMessageA(GetDlgItem(Dialog, 1001), BM_CLICK, 0, 0);
    } else if (strcmp(a->verb, "wm-close") == 0) {
        PostMessageA(Dialog, WM_CLOSE, 0, 0);
    } else if (strcmp(a->verb, "close-box") == 0) {
        PostMessageA(Dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (strcmp(a->verb, "key") == 0) {
        PressKey(VirtualKeyOf(a->arg));
    } else if (strcmp(a->verb, "snapshot") == 0) {
        LogSnapshot(n);
    } else if (strcmp(a->verb, "remove") == 0) {
        /* Windows refuses to delete a file that is still open: a missed fclose shows here. */
        if (DeleteFileA(a->arg))
            LogLine("file %ld remove %s -> ok", n, a->arg);
        else
            LogLine("file %ld remove %s -> error %lu", n, a->arg, GetLastError());
    } else if (strcmp(a->verb, "focus-target") == 0) {
        HWND target = FindWindowA("GearvaneE2ETarget", NULL);
        LogLine("focus-target found=%d ok=%d", target != NULL, target && SetForegroundWindow(target));
    } else if (strcmp(a->verb, "screenshot") == 0) {
        Screenshot(a->arg);
    } else {
        LogLine("error unknown action %s", a->verb);
    }
}

MMRESULT WINAPI joyGetPosEx(UINT id, JOYINFOEX *info)
{
    long n = ++PollCount;
    const State *s = StateAt(n);
    MMRESULT result = s->fail ? JOYERR_UNPLUGGED : JOYERR_NOERROR;
    int i;
    LogLine("poll %ld id=%u size=%lu flags=0x%lX t=%lld", n, id, info ? info->dwSize : 0,
            info ? info->dwFlags : 0, Now());
    if (!info || info->dwSize != sizeof *info)
        return JOYERR_PARMS;
    /* A failed poll still leaves gate values in the record: trusting it would shift. */
    info->dwButtons = s->buttons;
    info->dwPOV = s->pov;
    info->dwButtonNumber = 0;
    for (i = 0; i < ActCount; i++)
        if (Acts[i].poll == n)
            Perform(n, &Acts[i]);
    return result;
}

MMRESULT WINAPI joySetCapture(HWND hwnd, UINT id, UINT period, BOOL changed)
{
    char title[256] = "";
    Dialog = hwnd;
    GetWindowTextA(hwnd, title, sizeof title);
    fprintf(Log, "capture window=");
    WriteQuoted(Log, title);
    fprintf(Log, " id=%u period=%u changed=%d t=%lld -> %s\n", id, period, changed, Now(),
            RefuseCapture ? "refused" : "ok");
    fflush(Log);
    return RefuseCapture ? JOYERR_NOCANDO : JOYERR_NOERROR;
}

MMRESULT WINAPI joyReleaseCapture(UINT id)
{
    LogLine("release id=%u t=%lld", id, Now());
    return JOYERR_NOERROR;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH];
    LARGE_INTEGER freq;
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        if (GetEnvironmentVariableA("GEARVANE_E2E_LOG", path, sizeof path))
            Log = fopen(path, "w");
        if (!Log)
            Log = fopen("nul", "w");
        QueryPerformanceFrequency(&freq);
        LogLine("freq %lld", freq.QuadPart);
        LoadScript();
    } else if (reason == DLL_PROCESS_DETACH && Log) {
        LogLine("detach polls=%ld", PollCount);
        fclose(Log);
        Log = NULL;
    }
    return TRUE;
}
