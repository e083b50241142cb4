// Game controllers through DirectInput 8: listing the attached ones, opening one by its
// instance to be read in the background, and reading its buttons and hat. Each thread that
// uses DirectInput has a DirectInput of its own.
#ifndef GEARVANE_TRAY_LEVER_H
#define GEARVANE_TRAY_LEVER_H

#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>

#include <string>
#include <vector>

#include "../../core/gate.h"
#include "handles.h"
#include "lever_choice.h"

struct DirectInput {
    Com<IDirectInput8W> di;
};

struct Lever {
    Com<IDirectInputDevice8W> device;
    Handle event;  // set by DirectInput when the state changes; none for a preview
    bool inputs = false;       // it has buttons or a hat
    bool polled = false;       // it says it must be polled
    bool unsignalled = false;  // DirectInput said it will signal no changes
};

// Returns false when DirectInput cannot be had; `*error` says why.
bool CreateDirectInput(HINSTANCE instance, DirectInput *input, std::wstring *error);

// The attached game controllers, in DirectInput's order, their `inputs` not yet known (see
// OpenLever). Slow on some systems: only when a device came or went.
std::vector<Controller> ListControllers(const DirectInput &input);

GUID ToGuid(const InstanceId &id);
InstanceId FromGuid(const GUID &guid);

// Opens a controller to be read in the background, without taking it from the game. With
// `notify`, DirectInput sets lever->event when it moves. Returns false when it cannot be
// opened (it is gone, or it is no joystick).
bool OpenLever(const DirectInput &input, const GUID &instance, HWND window, bool notify, Lever *lever);

void CloseLever(Lever *lever);

enum LeverRead { LEVER_READ, LEVER_UNCHANGED, LEVER_LOST };

// A lever with nothing held and its hat centred. (A zeroed sample has its hat forward.)
inline Sample Released()
{
    Sample sample = {};
    sample.hat = HAT_CENTRED;
    return sample;
}

// Reads the buttons 1..128 and the first hat, polling a lever that must be polled unless
// `poll` is false. LEVER_LOST when it is unplugged: the read failed and acquiring it again
// failed too.
LeverRead ReadLever(Lever *lever, Sample *sample, bool poll = true);

#endif
