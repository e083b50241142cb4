/* The floor for CPU time at rest: a bare Windows message loop that waits in GetMessage. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdLine, int show)
{
    MSG msg;
    (void)prev;
    (void)cmdLine;
    (void)show;
    CreateWindowA("STATIC", "idle", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, instance, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
