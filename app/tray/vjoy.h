// The vJoy shifter: buttons 1 (shift up) and 2 (shift down) of a device of vJoy, the virtual
// joystick driver that sim racers already have, pressed through vJoy's own vJoyInterface.dll.
// The DLL is loaded at run time from the folder that vJoy's installer recorded, so that
// gearvane-tray needs nothing of vJoy to start.
#ifndef GEARVANE_TRAY_VJOY_H
#define GEARVANE_TRAY_VJOY_H

#include <windows.h>

#include <memory>

#include "output.h"

enum VJoyState {
    VJOY_OFF,          // the keys were chosen
    VJOY_IN_USE,       // `device` is gearvane's
    VJOY_MISSING,      // vJoy is not installed
    VJOY_UNUSABLE,     // its vJoyInterface.dll cannot be loaded (`error`) or lacks a call
    VJOY_DISABLED,     // vJoy is installed but not enabled
    VJOY_TAKEN,        // `device` is another program's; 0: every device with two buttons is
    VJOY_NO_DEVICE,    // `device` does not exist; 0: no device has two buttons
    VJOY_FEW_BUTTONS,  // `device` has `buttons`, fewer than two
    VJOY_REFUSED,      // vJoy would not hand `device` over
    VJOY_LOST,         // `device` stopped taking its buttons while in use
};

struct VJoyNews {
    VJoyState state;
    int device;
    int buttons;
    unsigned long error;
};

class VJoyShifter final : public ShiftOutput {
public:
    // Takes vJoy device `wanted` (1..16), or with 0 the first free one with two buttons or
    // more, and resets it. Null when it cannot be had; *news says which device and why.
    static std::unique_ptr<VJoyShifter> Open(int wanted, VJoyNews *news);

    // Lets go of both buttons and relinquishes the device.
    ~VJoyShifter() override;

    // Whether a button could not be set because the device is no longer gearvane's; *news
    // then says so. The shifter is of no more use.
    bool Lost(VJoyNews *news) const;

private:
    explicit VJoyShifter(UINT id) : device(id) {}
    int Press(int32_t direction) override;
    bool Release(int key) override;
    void Failed();

    UINT device;
    bool lost = false;
};

// Lets go of both buttons and relinquishes the device, from any thread. For a crash: the
// process ends after it.
void ReleaseVJoy();

#endif
