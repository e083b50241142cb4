/* Key recorder for the end-to-end tests: a process of its own that logs every key event the
 * system sees (low-level keyboard hook) with its QPC time, and with --target shows a window,
 * standing for a game in the same prefix, that logs the key messages it gets once focused.
 *
 * Usage: key_recorder [--target], the log named by GEARVANE_E2E_LOG. It runs until killed.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "e2e.h"

static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    const KBDLLHOOKSTRUCT *k = (const KBDLLHOOKSTRUCT *)lParam;
    if (code == HC_ACTION)
        LogLine("key vk=0x%02lX scan=0x%02lX flags=0x%02lX t=%lld", k->vkCode, k->scanCode, k->flags, Now());
    return CallNextHookEx(NULL, code, wParam, lParam);
}

static LRESULT CALLBACK TargetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYDOWN || message == WM_KEYUP)
        LogLine("msg %s vk=0x%02X lparam=0x%08lX", message == WM_KEYDOWN ? "WM_KEYDOWN" : "WM_KEYUP",
                (unsigned)wParam, (unsigned long)lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdLine, int show)
{
    WNDCLASSA wc = {0};
    HHOOK hook;
    MSG msg;
    (void)prev;
    (void)show;
    OpenLog();
    hook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardHook, instance, 0);
    if (strstr(cmdLine, "--target")) {
        wc.lpfnWndProc = TargetProc;
        wc.hInstance = instance;
        wc.lpszClassName = "GearvaneE2ETarget";
        RegisterClassA(&wc);
        CreateWindowA(wc.lpszClassName, "Game in the same prefix", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300,
                      150, NULL, NULL, instance, NULL);
    }
    LogLine("ready hook=%d", hook != NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
