// Entry point and the one dialog: start-up, the 10 ms poll timer and the ways to end.
#include <windows.h>
#include <mmsystem.h>

#include "../../resources/resource.h"
#include "shift.h"
#include "state.h"
#include "timing_file.h"

enum { ID_POLL_TIMER = 1, POLL_PERIOD_MS = 10 };

static const char Caption[] = "Gearvane TEST";

// Reads shift.ini into WAIT1 and WAIT2 and echoes its lines into DebugText. When it cannot
// be opened, warns (owned by `dlg`), asks the message loop to quit and returns false.
static bool LoadTimingFile(HWND dlg)
{
    TimingLines lines;
    if (!ReadTimingFile(&lines)) {
        MessageBoxA(dlg, "Couldn't open shift.ini", Caption, MB_OK | MB_ICONWARNING);
        PostQuitMessage(0);
        return false;
    }
    AppendDebugText("Ini file read \n");
    AppendDebugText("WAIT1= ");
    AppendDebugText(lines.first);
    WAIT1 = SpinCountOf(lines.first);
    AppendDebugText("WAIT2= ");
    AppendDebugText(lines.second);
    AppendDebugText("\n");
    WAIT2 = SpinCountOf(lines.second);
    return true;
}

static void InitDialog(HWND hwnd)
{
    CheckRadioButton(hwnd, IDC_PLATE_STANDARD, IDC_PLATE_STANDARD, IDC_PLATE_STANDARD);
    CheckRadioButton(hwnd, IDC_MAXGEAR_6, IDC_MAXGEAR_6, IDC_MAXGEAR_6);
    AppendDebugText("Dialog Interface Created \n");

    // On failure the warning has been shown and the quit request posted.
    if (!LoadTimingFile(hwnd))
        return;

    if (joySetCapture(hwnd, JOYSTICKID1, POLL_PERIOD_MS, FALSE) != JOYERR_NOERROR) {
        MessageBeep(MB_ICONWARNING);
        MessageBoxA(hwnd, "Couldn't capture the joystick.", Caption, MB_OK | MB_ICONWARNING);
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return;
    }
    AppendDebugText("Joystick OK \n");

    SetTimer(hwnd, ID_POLL_TIMER, POLL_PERIOD_MS, NULL);
    AppendDebugText("Gearvane utility ready.... \n");
    SetWindowTextA(GetDlgItem(hwnd, IDC_DEBUG_TEXT), DebugText);
}

static INT_PTR CALLBACK MainDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(hwnd);
        return 1;

    case WM_TIMER:
        if (ShiftStep(hwnd) < 0) {
            KillTimer(hwnd, ID_POLL_TIMER);
            MessageBoxA(NULL, "Error Reading Input State", Caption, MB_OK | MB_ICONERROR);
            EndDialog(hwnd, 1);
        }
        return 0;

    case WM_COMMAND:
        // The Close button ends the modal loop; every other command, Escape's among
        // them, is ignored.
        if (LOWORD(wParam) == IDC_CLOSE)
            PostQuitMessage(0);
        return 1;

    case WM_CLOSE:
        KillTimer(hwnd, ID_POLL_TIMER);
        joyReleaseCapture(JOYSTICKID1);
        EndDialog(hwnd, 1);
        return 1;
    }
    return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, MainDlgProc, 0);
    return 1;
}
