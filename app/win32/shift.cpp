// The poll tick: the controller and the dialog's radios in, key taps out.
#include "shift.h"

#include <mmsystem.h>

#include "../../core/gate.h"
#include "../../resources/resource.h"
#include "spin.h"
#include "state.h"

enum { VK_SHIFT_UP = VK_PRIOR, VK_SHIFT_DOWN = VK_NEXT };

static bool ControllerSilent;  // polls are failing; the debug window says so

static bool RadioChecked(HWND dlg, int id)
{
    return IsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

static void SetDebugWindowText(HWND dlg, const char *text)
{
    SetWindowTextA(GetDlgItem(dlg, IDC_DEBUG_TEXT), text);
}

int32_t GetMaxGear(HWND dlg)
{
    if (RadioChecked(dlg, IDC_MAXGEAR_4))
        return 4;
    if (RadioChecked(dlg, IDC_MAXGEAR_5))
        return 5;
    if (RadioChecked(dlg, IDC_MAXGEAR_6))
        return 6;
    if (RadioChecked(dlg, IDC_MAXGEAR_7))
        return 7;
    return 7;
}

int32_t ReadGear(HWND dlg)
{
    // Zeroed and checked, so that nothing stale is decoded from a failed poll.
    JOYINFOEX info;
    ZeroMemory(&info, sizeof info);
    info.dwSize = sizeof info;
    info.dwFlags = JOY_RETURNBUTTONS | JOY_RETURNPOV;
    if (joyGetPosEx(JOYSTICKID1, &info) != JOYERR_NOERROR) {
        if (!ControllerSilent)
            SetDebugWindowText(dlg, "Joystick not responding");
        ControllerSilent = true;
        return GEAR_NONE;
    }
    if (ControllerSilent)
        SetDebugWindowText(dlg, " ");
    ControllerSilent = false;

    const GateMap *plate = NULL;
    if (RadioChecked(dlg, IDC_PLATE_STANDARD))
        plate = &StandardPlate;
    else if (RadioChecked(dlg, IDC_PLATE_NASCAR))
        plate = &NascarPlate;

    Decoded decoded = {GEAR_NONE, false};
    if (plate) {
        Sample sample = {};
        sample.buttons[0] = info.dwButtons;
        sample.hat = info.dwPOV;
        decoded = DecodeGate(*plate, sample);
    }
    if (decoded.reset)
        CurrentGear = GEAR_NONE;
    return CapGear(decoded.gear, GetMaxGear(dlg));
}

static void Tap(BYTE vk)
{
    keybd_event(vk, static_cast<BYTE>(MapVirtualKeyA(vk, 0)), 0, 0);
    Spin(WAIT1);
    keybd_event(vk, static_cast<BYTE>(MapVirtualKeyA(vk, 0)), KEYEVENTF_KEYUP, 0);
}

void TapShiftUp(void)
{
    Tap(VK_SHIFT_UP);
}

void TapShiftDown(void)
{
    Tap(VK_SHIFT_DOWN);
}

int32_t ShiftStep(HWND dlg)
{
    int32_t status = 0;
    char statusLine[100] = " ";

    int32_t gear = ReadGear(dlg);
    if (gear == GEAR_NONE || gear == CurrentGear)
        return status;

    int32_t taps = TapsBetween(CurrentGear, gear);
    for (int32_t i = 0; i < taps; i++) {
        if (i > 0)
            Spin(WAIT2);
        TapShiftUp();
    }
    for (int32_t i = 0; i < -taps; i++) {
        if (i > 0)
            Spin(WAIT2);
        TapShiftDown();
    }
    CurrentGear = gear;
    SetDebugWindowText(dlg, statusLine);
    return status;
}
