/* A scripted game controller for gearvane.exe: a winmm.dll that plays controller reports by
 * poll number, acts on the dialog like a user at given polls, and logs every call and every
 * message box. Loaded beside gearvane.exe with WINEDLLOVERRIDES=winmm=n.
 *
 * GEARVANE_E2E_SCRIPT names the script, GEARVANE_E2E_LOG the log. Script lines:
 *   POLL state BUTTONS POV FAIL  the report from POLL on; FAIL 1 returns JOYERR_UNPLUGGED
 *                                after writing the values anyway
 *   POLL VERB [ARG]              an action inside that poll, after the report is written;
 *                                `text` logs the debug window's text
 *   0 refuse-capture
 * What a scenario checks is logged as its section writes it: winmm, dialog, files, boxes.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdlib.h>

#include "e2e.h"

#define JOYERR_PARMS 165
#define JOYERR_NOCANDO 166
#define JOYERR_UNPLUGGED 167
#define JOY_RETURNPOV 0x40
#define JOY_RETURNBUTTONS 0x80

/* mmsystem.h is left out: it declares these functions as imports. */
typedef struct {
    DWORD dwSize, dwFlags, dwXpos, dwYpos, dwZpos, dwRpos, dwUpos, dwVpos;
    DWORD dwButtons, dwButtonNumber, dwPOV, dwReserved1, dwReserved2;
} JOYINFOEX;

enum { MAX_LINES = 256, EDIT_DEBUG = 1041, BUTTON_CLOSE = 1001 };

typedef struct {
    long poll;
    char verb[16], arg[96];
    DWORD buttons, pov;
    int fail;
} Line;

static Line Script[MAX_LINES];
static int LineCount, RefuseCapture;
static long PollCount;
static HWND Dialog;

static void LoadScript(void)
{
    char path[MAX_PATH], text[256];
    FILE *f = GetEnvironmentVariableA("GEARVANE_E2E_SCRIPT", path, sizeof path) ? fopen(path, "r") : NULL;
    while (f && fgets(text, sizeof text, f) && LineCount < MAX_LINES) {
        Line *l = &Script[LineCount];
        if (sscanf(text, "%ld %15s %95[^\n]", &l->poll, l->verb, l->arg) >= 2)
            LineCount++;
        sscanf(l->arg, "%lu %lu %d", &l->buttons, &l->pov, &l->fail);
        RefuseCapture |= strcmp(l->verb, "refuse-capture") == 0;
    }
    if (f)
        fclose(f);
}

/* Each action is what a user does; input and posted messages take effect after this tick. */
static void Perform(long n, const Line *a)
{
    HWND control = GetDlgItem(Dialog, atoi(a->arg));
    char text[4096];
    if (strcmp(a->verb, "click") == 0) {
        PostMessageA(control, BM_CLICK, 0, 0);
    } else if (strcmp(a->verb, "uncheck") == 0) {
        PostMessageA(control, BM_SETCHECK, BST_UNCHECKED, 0);
    } else if (strcmp(a->verb, "close-button") == 0) {
        PostMessageA(GetDlgItem(Dialog, BUTTON_CLOSE), BM_CLICK, 0, 0);
    } else if (strcmp(a->verb, "wm-close") == 0) {
        PostMessageA(Dialog, WM_CLOSE, 0, 0);
    } else if (strcmp(a->verb, "close-box") == 0) {
        PostMessageA(Dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (strcmp(a->verb, "escape") == 0) {
        keybd_event(VK_ESCAPE, 0x01, 0, 0);
        keybd_event(VK_ESCAPE, 0x01, KEYEVENTF_KEYUP, 0);
    } else if (strcmp(a->verb, "text") == 0) {
        GetDlgItemTextA(Dialog, EDIT_DEBUG, text, sizeof text);
        LogLine("dialog %ld text %s", n, Quoted(text));
    } else if (strcmp(a->verb, "remove") == 0) {
        /* Windows refuses to delete a file that is still open: a missed fclose shows here. */
        BOOL ok = DeleteFileA(a->arg);
        if (ok)
            LogLine("files %ld remove %s -> ok", n, a->arg);
        else
            LogLine("files %ld remove %s -> error %lu", n, a->arg, GetLastError());
    } else if (strcmp(a->verb, "focus-target") == 0) {
        SetForegroundWindow(FindWindowA("GearvaneE2ETarget", NULL));
    }
}

__declspec(dllexport) UINT WINAPI joyGetPosEx(UINT id, JOYINFOEX *info)
{
    static const Line neutral = {0, "state", "", 0, 65535, 0};
    const Line *s = &neutral;
    long n = ++PollCount;
    int i;
    LogLine("poll %ld t=%lld", n, Now());
    if (id != 0 || !info || info->dwSize != sizeof *info)
        return JOYERR_PARMS;
    for (i = 0; i < LineCount; i++)
        if (Script[i].poll <= n && strcmp(Script[i].verb, "state") == 0)
            s = &Script[i];
    /* As winmm does, only what dwFlags asks for. A failed poll still leaves gate values in
       the record: trusting it would shift. */
    if (info->dwFlags & JOY_RETURNBUTTONS) {
        info->dwButtons = s->buttons;
        info->dwButtonNumber = 0;
    }
    if (info->dwFlags & JOY_RETURNPOV)
        info->dwPOV = s->pov;
    for (i = 0; i < LineCount; i++)
        if (Script[i].poll == n && strcmp(Script[i].verb, "state") != 0)
            Perform(n, &Script[i]);
    return s->fail ? JOYERR_UNPLUGGED : 0;
}

__declspec(dllexport) UINT WINAPI joySetCapture(HWND hwnd, UINT id, UINT period, BOOL changed)
{
    char title[256] = "";
    Dialog = hwnd;
    GetWindowTextA(hwnd, title, sizeof title);
    LogLine("winmm capture window %s id %u period %u changed %d -> %s", Quoted(title), id, period, changed,
            RefuseCapture ? "refused" : "ok");
    return RefuseCapture ? JOYERR_NOCANDO : 0;
}

__declspec(dllexport) UINT WINAPI joyReleaseCapture(UINT id)
{
    LogLine("winmm release id %u", id);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        OpenLog();
        LoadScript();
        CatchMessageBoxes();
    }
    return TRUE;
}
