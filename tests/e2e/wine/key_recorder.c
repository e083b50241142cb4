/* Key recorder for the end-to-end tests: a separate process that logs every key event the
 * system sees (low-level keyboard hook), reads and dismisses gearvane's message boxes, and,
 * with --target, shows a window that takes the focus and logs the key messages it gets.
 *
 * Usage: key_recorder LOG [--target]. It ends when the file "recorder.stop" appears in its
 * working folder.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "e2e_log.h"

enum { MAX_BOXES = 16, SCAN_PERIOD_MS = 20, SETTLE_MS = 300 };

static FILE *Log;
static LARGE_INTEGER Frequency;

typedef struct {
    HWND hwnd;
    long long seen;
    int done;
} Box;

static Box Boxes[MAX_BOXES];
static int BoxCount;

static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const KBDLLHOOKSTRUCT *k = (const KBDLLHOOKSTRUCT *)lParam;
        fprintf(Log, "key vk=0x%02lX scan=0x%02lX flags=0x%02lX t=%lld\n", k->vkCode, k->scanCode,
                k->flags, Now());
        fflush(Log);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

/* Which standard icon the box shows, judged from its pixels on screen: each candidate is
 * drawn on the dialog's background and the nearest one wins. */
static const char *IconShown(HWND box)
{
    static const struct {
        LPCSTR id;
        const char *name;
    } candidates[] = {
        {IDI_EXCLAMATION, "warning"},
        {IDI_HAND, "error"},
        {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"},
    };
    HWND icon = NULL, child;
    RECT r;
    HDC screen, memory;
    HBITMAP shot, drawn;
    int w, h, i, x, y;
    long long best = -1;
    const char *bestName = "none";
    for (child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32];
        GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child))
            icon = child;
    }
    if (!icon)
        return "none";
    GetWindowRect(icon, &r);
    w = r.right - r.left;
    h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 64 || h > 64)
        return "none";
    screen = GetDC(NULL);
    memory = CreateCompatibleDC(screen);
    shot = CreateCompatibleBitmap(screen, w, h);
    drawn = CreateCompatibleBitmap(screen, w, h);
    SelectObject(memory, shot);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    for (i = 0; i < 4; i++) {
        HDC canvas = CreateCompatibleDC(screen);
        RECT all = {0, 0, w, h};
        long long distance = 0;
        SelectObject(canvas, drawn);
        FillRect(canvas, &all, GetSysColorBrush(COLOR_3DFACE));
        DrawIconEx(canvas, 0, 0, LoadIconA(NULL, candidates[i].id), 0, 0, 0, NULL, DI_NORMAL);
        for (y = 0; y < h; y++)
            for (x = 0; x < w; x++) {
                COLORREF a = GetPixel(memory, x, y), b = GetPixel(canvas, x, y);
                distance += abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
                            abs(GetBValue(a) - GetBValue(b));
            }
        DeleteDC(canvas);
        fprintf(Log, "icon-distance %s %lld\n", candidates[i].name, distance);
        if (best < 0 || distance < best) {
            best = distance;
            bestName = candidates[i].name;
        }
    }
    DeleteDC(memory);
    DeleteObject(shot);
    DeleteObject(drawn);
    ReleaseDC(NULL, screen);
    return bestName;
}

static void ReadAndDismiss(HWND box)
{
    char caption[256] = "", text[1024] = "", owner[256] = "";
    HWND ownerWindow = GetWindow(box, GW_OWNER);
    const char *icon = IconShown(box);
    GetWindowTextA(box, caption, sizeof caption);
    /* The box's text is the static control with identifier 0xFFFF. */
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
    if (ownerWindow)
        GetWindowTextA(ownerWindow, owner, sizeof owner);
    fputs("box caption=", Log);
    WriteQuoted(Log, caption);
    fputs(" text=", Log);
    WriteQuoted(Log, text);
    fprintf(Log, " icon=%s owner=", icon);
    WriteQuoted(Log, ownerWindow ? owner : "(none)");
    fprintf(Log, " owner-visible=%d t=%lld\n", ownerWindow ? IsWindowVisible(ownerWindow) != 0 : 0, Now());
    fflush(Log);
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

static BOOL CALLBACK CheckWindow(HWND hwnd, LPARAM unused)
{
    char cls[32], caption[64];
    DWORD pid;
    int i;
    (void)unused;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() || !IsWindowVisible(hwnd))
        return TRUE;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (strcmp(cls, "#32770") != 0 || strcmp(caption, "Gearvane TEST") != 0)
        return TRUE;
    for (i = 0; i < BoxCount; i++)
        if (Boxes[i].hwnd == hwnd)
            break;
    if (i == BoxCount) {
        if (BoxCount == MAX_BOXES)
            return TRUE;
        Boxes[BoxCount].hwnd = hwnd;
        Boxes[BoxCount].seen = Now();
        Boxes[BoxCount].done = 0;
        BoxCount++;
    }
    /* Let it paint before its icon is read off the screen. */
    if (!Boxes[i].done && (Now() - Boxes[i].seen) * 1000 / Frequency.QuadPart >= SETTLE_MS) {
        Boxes[i].done = 1;
        ReadAndDismiss(hwnd);
    }
    return TRUE;
}

static LRESULT CALLBACK TargetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    static const char *names[] = {"WM_KEYDOWN", "WM_KEYUP", "WM_CHAR", "WM_DEADCHAR", "WM_SYSKEYDOWN",
                                  "WM_SYSKEYUP"};
    if (message >= WM_KEYDOWN && message <= WM_SYSKEYUP) {
        fprintf(Log, "msg %s vk=0x%02X lparam=0x%08lX t=%lld\n", names[message - WM_KEYDOWN], (unsigned)wParam,
                (unsigned long)lParam, Now());
        fflush(Log);
    }
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
        fprintf(Log, "target %s t=%lld\n", message == WM_SETFOCUS ? "focus" : "lost-focus", Now());
        fflush(Log);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static void CreateTarget(HINSTANCE instance)
{
    WNDCLASSA wc;
    HWND hwnd;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = TargetProc;
    wc.hInstance = instance;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = "GearvaneE2ETarget";
    RegisterClassA(&wc);
    hwnd = CreateWindowA("GearvaneE2ETarget", "Game in the same prefix", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                         300, 150, NULL, NULL, instance, NULL);
    fprintf(Log, "target created=%d\n", hwnd != NULL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdLine, int show)
{
    char path[MAX_PATH] = "";
    HHOOK hook;
    MSG msg;
    int target = strstr(cmdLine, "--target") != NULL;
    (void)prev;
    (void)show;
    sscanf(cmdLine, "%259s", path);
    Log = fopen(path, "w");
    if (!Log)
        return 2;
    QueryPerformanceFrequency(&Frequency);
    fprintf(Log, "freq %lld\n", Frequency.QuadPart);
    hook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardHook, instance, 0);
    if (target)
        CreateTarget(instance);
    SetTimer(NULL, 0, SCAN_PERIOD_MS, NULL);
    fprintf(Log, "ready hook=%d\n", hook != NULL);
    fflush(Log);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == NULL) {
            if (GetFileAttributesA("recorder.stop") != INVALID_FILE_ATTRIBUTES)
                break;
            EnumWindows(CheckWindow, 0);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnhookWindowsHookEx(hook);
    fputs("end\n", Log);
    fclose(Log);
    return 0;
}
