// Shift sequencer.
#include "shift.h"

#include "gear.h"
#include "state.h"

volatile int32_t SpinCounter;

void Spin(int32_t n)
{
    SpinCounter = 0;
    do
        SpinCounter = SpinCounter + 1;
    while (SpinCounter < n);
}

static void Tap(unsigned vk)
{
    SendKeyEvent(vk, LookUpScanCode(vk), false);
    Spin(WAIT1);
    SendKeyEvent(vk, LookUpScanCode(vk), true);
}

void TapShiftUp(void)
{
    Tap(VK_SHIFT_UP);
}

void TapShiftDown(void)
{
    Tap(VK_SHIFT_DOWN);
}

int32_t ShiftStep(DialogHandle dlg)
{
    int32_t status = 0;
    char statusLine[100] = " ";

    int32_t gear = ReadGear(dlg);
    int32_t difference = gear == GEAR_NONE ? 0 : gear - CurrentGear;
    if (difference == 0)
        return status;

    if (difference >= 1 && difference <= 8) {
        for (int32_t i = 0; i < difference; i++) {
            if (i > 0)
                Spin(WAIT2);
            TapShiftUp();
        }
    } else if (difference >= -8 && difference <= -1) {
        for (int32_t i = 0; i < -difference; i++) {
            if (i > 0)
                Spin(WAIT2);
            TapShiftDown();
        }
    }
    CurrentGear = gear;
    SetDebugWindowText(dlg, statusLine);
    return status;
}
