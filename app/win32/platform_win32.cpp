// Platform services on Win32.
#include <windows.h>
#include <mmsystem.h>

#include "../../core/platform.h"
#include "../../resources/resource.h"

static HWND WindowOf(DialogHandle dlg)
{
    return reinterpret_cast<HWND>(dlg);
}

bool PollController(ControllerSample *sample)
{
    // Zeroed first, so that nothing stale can be decoded from a short or failed poll.
    JOYINFOEX info;
    ZeroMemory(&info, sizeof info);
    info.dwSize = sizeof info;
    info.dwFlags = JOY_RETURNBUTTONS | JOY_RETURNPOV;
    if (joyGetPosEx(JOYSTICKID1, &info) != JOYERR_NOERROR)
        return false;
    sample->dwButtons = info.dwButtons;
    sample->dwPOV = info.dwPOV;
    return true;
}

bool IsRadioChecked(DialogHandle dlg, int id)
{
    return IsDlgButtonChecked(WindowOf(dlg), id) == BST_CHECKED;
}

unsigned LookUpScanCode(unsigned vk)
{
    return MapVirtualKeyA(vk, 0);
}

void SendKeyEvent(unsigned vk, unsigned scanCode, bool keyUp)
{
    keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(scanCode), keyUp ? KEYEVENTF_KEYUP : 0, 0);
}

void SetDebugWindowText(DialogHandle dlg, const char *text)
{
    SetWindowTextA(GetDlgItem(WindowOf(dlg), IDC_DEBUG_TEXT), text);
}

void ShowWarning(DialogHandle owner, const char *text)
{
    MessageBoxA(WindowOf(owner), text, "Gearvane TEST", MB_OK | MB_ICONWARNING);
}

void RequestQuit(void)
{
    PostQuitMessage(0);
}
