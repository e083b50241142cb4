// Recording fake of the platform services.
#include "fake_platform.h"

#include <stdio.h>
#include <string.h>

#include <map>

#include "core/gear.h"
#include "core/shift.h"
#include "core/state.h"
#include "resources/resource.h"

const DialogHandle FakeDialog = reinterpret_cast<DialogHandle>(0x1234);
FakeController Fake;

namespace {

std::vector<std::string> Log;
std::map<int, int> Radios;
unsigned LastLookupVk;
unsigned LastScanCode;
bool LookupFresh;
unsigned LookupCount;

void Record(const std::string &line)
{
    Log.push_back(line);
}

// A spin leaves its iteration count in SpinCounter; taking it here places the spin
// between the events it separates.
void RecordSpin()
{
    if (SpinCounter != 0)
        Record("spin " + std::to_string(SpinCounter));
    SpinCounter = 0;
}

void CheckDialog(DialogHandle dlg)
{
    if (dlg != FakeDialog)
        Record("WRONG DIALOG HANDLE");
}

}  // namespace

void SetRadio(int id, int state)
{
    Radios[id] = state;
}

void ClickRadio(int id)
{
    bool plate = id == IDC_PLATE_STANDARD || id == IDC_PLATE_NASCAR;
    for (int other : {IDC_PLATE_STANDARD, IDC_PLATE_NASCAR, IDC_MAXGEAR_4, IDC_MAXGEAR_5,
                      IDC_MAXGEAR_6, IDC_MAXGEAR_7}) {
        bool otherPlate = other == IDC_PLATE_STANDARD || other == IDC_PLATE_NASCAR;
        if (otherPlate == plate)
            Radios[other] = other == id ? 1 : 0;
    }
}

std::vector<std::string> TakeLog()
{
    RecordSpin();
    std::vector<std::string> taken;
    taken.swap(Log);
    return taken;
}

void ResetFake()
{
    Log.clear();
    Radios.clear();
    Fake = FakeController();
    ClickRadio(IDC_PLATE_STANDARD);
    ClickRadio(IDC_MAXGEAR_6);
    LookupFresh = false;
    LookupCount = 0;
    SpinCounter = 0;
    CurrentGear = 0;
    WAIT1 = 0;
    WAIT2 = 0;
    DebugText[0] = '\0';
    ControllerSilent = false;
}

bool PollController(ControllerSample *sample)
{
    if (Fake.failing) {
        sample->dwButtons = 0x20;
        sample->dwPOV = 18000;
        return false;
    }
    sample->dwButtons = Fake.buttons;
    sample->dwPOV = Fake.pov;
    return true;
}

bool IsRadioChecked(DialogHandle dlg, int id)
{
    CheckDialog(dlg);
    auto it = Radios.find(id);
    return it != Radios.end() && it->second == 1;
}

unsigned LookUpScanCode(unsigned vk)
{
    // A different code on every lookup, so that a reused one can be told apart.
    LastLookupVk = vk;
    LastScanCode = (vk == VK_SHIFT_UP ? 0x49 : 0x51) + (++LookupCount << 8);
    LookupFresh = true;
    return LastScanCode;
}

void SendKeyEvent(unsigned vk, unsigned scanCode, bool keyUp)
{
    RecordSpin();
    std::string line = vk == VK_SHIFT_UP ? "PgUp" : vk == VK_SHIFT_DOWN ? "PgDn" : "vk " + std::to_string(vk);
    line += keyUp ? " up" : " down";
    if (!LookupFresh || LastLookupVk != vk || scanCode != LastScanCode)
        line += " STALE SCAN";
    LookupFresh = false;
    Record(line);
}

void SetDebugWindowText(DialogHandle dlg, const char *text)
{
    CheckDialog(dlg);
    RecordSpin();
    Record(std::string("text '") + text + "'");
}

void ShowWarning(DialogHandle owner, const char *text)
{
    CheckDialog(owner);
    Record(std::string("warning '") + text + "'");
}

void RequestQuit(void)
{
    Record("quit");
}
