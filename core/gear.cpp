// Gear decoding for the two gate plates.
#include "gear.h"

#include "../resources/resource.h"
#include "state.h"

bool ControllerSilent = false;

namespace {

// Gate positions reported as one button held alone. The reset row is handled apart.
struct ButtonRow {
    uint32_t mask;
    int32_t standard;
    int32_t nascar;  // GEAR_NONE: the position means nothing on this plate
};

const ButtonRow ButtonRows[] = {
    {0x20, 1, GEAR_REVERSE},  // button 6
    {0x40, 2, GEAR_NONE},     // button 7
    {0x01, 3, 1},             // button 1
    {0x02, 4, 2},             // button 2
};

// Gate positions reported by the hat.
struct PovRow {
    uint32_t angle;
    int32_t standard;
    int32_t nascar;
};

const PovRow PovRows[] = {
    {POV_FORWARD, 5, 3},
    {POV_LEFT, 6, 4},
    {POV_BACKWARD, 7, 5},
    {POV_RIGHT, GEAR_REVERSE, 6},
};

const char SilentText[] = "Joystick not responding";
const char StatusText[] = " ";

}  // namespace

int32_t DecodeGate(Plate plate, const ControllerSample &sample, bool *resetSeen)
{
    int32_t gear = GEAR_NONE;
    *resetSeen = false;
    if (plate == PLATE_NONE)
        return gear;

    bool standard = plate == PLATE_STANDARD;
    if (sample.dwButtons == BUTTON_RESET)
        *resetSeen = true;
    for (const ButtonRow &row : ButtonRows)
        if (sample.dwButtons == row.mask)
            gear = standard ? row.standard : row.nascar;
    for (const PovRow &row : PovRows)
        if (sample.dwPOV == row.angle)
            gear = standard ? row.standard : row.nascar;
    return gear;
}

int32_t GetMaxGear(DialogHandle dlg)
{
    if (IsRadioChecked(dlg, IDC_MAXGEAR_4))
        return 4;
    if (IsRadioChecked(dlg, IDC_MAXGEAR_5))
        return 5;
    if (IsRadioChecked(dlg, IDC_MAXGEAR_6))
        return 6;
    if (IsRadioChecked(dlg, IDC_MAXGEAR_7))
        return 7;
    return 7;
}

int32_t ReadGear(DialogHandle dlg)
{
    ControllerSample sample = {};
    if (!PollController(&sample)) {
        if (!ControllerSilent)
            SetDebugWindowText(dlg, SilentText);
        ControllerSilent = true;
        return GEAR_NONE;
    }
    if (ControllerSilent)
        SetDebugWindowText(dlg, StatusText);
    ControllerSilent = false;

    Plate plate = PLATE_NONE;
    if (IsRadioChecked(dlg, IDC_PLATE_STANDARD))
        plate = PLATE_STANDARD;
    else if (IsRadioChecked(dlg, IDC_PLATE_NASCAR))
        plate = PLATE_NASCAR;

    bool resetSeen;
    int32_t gear = DecodeGate(plate, sample, &resetSeen);
    if (resetSeen)
        CurrentGear = GEAR_NONE;

    int32_t maxGear = GetMaxGear(dlg);
    if (gear > maxGear)
        gear = maxGear;
    return gear;
}
