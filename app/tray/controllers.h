// The game controllers as the window lists them, each with a DirectInput device of the
// window's own that is read when DirectInput signals it while the window is on screen, so
// that the user sees which one moves. Listed again only when a device came or went.
#ifndef GEARVANE_TRAY_CONTROLLERS_H
#define GEARVANE_TRAY_CONTROLLERS_H

#include <windows.h>

#include <memory>
#include <vector>

#include "lever.h"
#include "view.h"

struct Preview {
    Controller info;
    Lever device;  // none when it could not be opened
    Sample sample = {};
};

struct Controllers {
    DirectInput input;
    std::vector<std::unique_ptr<Preview>> list;
    bool live = false;  // the window is on screen
};

// Lists the attached controllers afresh, each opened to be watched (`window` is the one
// DirectInput ties them to), and finds out which can be a lever.
void ListControllersAgain(Controllers *c, HWND window);

std::vector<Controller> Attached(const Controllers &c);

// The rows of the window's list; `lever` is the instance of the lever in use, or null.
std::vector<ControllerRow> ControllerRows(const Controllers &c, const InstanceId *lever);

// On screen, the controllers are read as they move; off screen, not at all. Coming on
// screen, each is read once.
void SetControllersLive(Controllers *c, bool live);

// The handles to wait on for them, and the reading of the one whose handle was signalled:
// true when what it holds changed.
int ControllerHandles(const Controllers &c, HANDLE *handles, int room);
bool ReadController(Controllers *c, int index);

#endif
