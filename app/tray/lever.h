// The lever through DirectInput 8: finding it among the game controllers, reading it when
// its notification event fires, and noticing that it is gone.
#ifndef GEARVANE_TRAY_LEVER_H
#define GEARVANE_TRAY_LEVER_H

#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>

#include <string>

#include "../../core/gate.h"
#include "handles.h"

struct DirectInput {
    Com<IDirectInput8W> di;
};

struct Lever {
    Com<IDirectInputDevice8W> device;
    Handle event;  // set by DirectInput when the state changes
    GUID instance = {};
    std::wstring name;  // the product name
    bool polled = false;
    bool unsignalled = false;  // DirectInput signals no event for it: it must be read on a timer
};

// Which lever to take: the one that was unplugged (by its instance or its name), else a
// device whose product or instance name holds `part` (any case), else the first device
// with buttons or a hat.
struct LeverWanted {
    bool lost = false;
    GUID instance = {};
    std::wstring name;
    std::wstring part;
};

// Returns false when DirectInput cannot be had; `*error` says why.
bool CreateDirectInput(HINSTANCE instance, DirectInput *input, std::wstring *error);

// Takes the wanted lever if it is attached: reads it in the background, without taking it
// from the game, and signals lever->event when it moves. Returns false when there is none.
bool OpenLever(const DirectInput &input, const LeverWanted &wanted, HWND window, Lever *lever);

void CloseLever(Lever *lever);

// Whether DirectInput still lists the lever among the attached devices.
bool LeverAttached(const DirectInput &input, const Lever &lever);

enum LeverRead { LEVER_READ, LEVER_UNCHANGED, LEVER_LOST };

// Reads the lever's buttons 1..128 and its first hat. LEVER_LOST when it is unplugged:
// the read failed and acquiring it again failed too.
LeverRead ReadLever(Lever *lever, Sample *sample);

#endif
