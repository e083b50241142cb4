// What the window shows: each function fills some of the dialog's controls and nothing else.
#ifndef GEARVANE_TRAY_VIEW_H
#define GEARVANE_TRAY_VIEW_H

#include <windows.h>

#include <string>
#include <vector>

#include "../../config/settings.h"
#include "../../core/gate.h"
#include "../../core/learn.h"

// The menu items that say which gear the game is in: ID_MENU_GEAR + 1 + gear, reverse first.
enum { ID_MENU_GEAR = 40010, ID_MENU_GEAR_LAST = ID_MENU_GEAR + 1 + GEAR_TOP };

// Sets up the controls once the dialog exists: the fonts, the lists' items and columns.
void InitView(HWND window);

// For WM_DPICHANGED: the layout and the fonts for the monitor's new DPI.
void ScaleView(HWND window, UINT dpi, const RECT &suggested);

// The line at the top: what the user should do next.
void ShowNextStep(HWND window, const std::wstring &text);

// The Lever box: its first line, the large gear and the game's gear below it (none: empty),
// and whether the game's gear can be set.
void ShowLever(HWND window, const std::wstring &name, const std::wstring &large, const std::wstring &game,
               bool settable);

// What keeps the vJoy shifter from shifting, or the device it shifts on; empty with the keys.
void ShowOutputState(HWND window, const std::wstring &text);
void ShowTelemetryState(HWND window, const std::wstring &text);  // "waiting for packets on 5300"

// Fills the Shifting box and the plate with `settings`. Their change notices meanwhile are
// the program's own: ViewFilling() is true.
void ShowSettings(HWND window, const Settings &settings);
bool ViewFilling();

// The gates in force. A plate's rows come under a line that says it is a legacy plate, and
// whether it is only there because nothing was learned (`chosen` false).
void ShowGates(HWND window, const Settings &settings, bool chosen);

// The gates while learning: the answers so far, the gear asked for or the reset button, and
// the gears skipped.
void ShowAnswers(HWND window, const Learning &learning, bool askingReset);

// The line under the gates, and the buttons: Learn gates (Cancel while learning), Skip and
// Done, and the plate, which cannot change while learning.
void ShowLearnButtons(HWND window, const std::wstring &prompt, bool learning, bool lever);

void ShowStatus(HWND window, const std::wstring &text);
void ShowStartWithWindows(HWND window, bool on);

// The key boxes list the keys by their names on Windows, and last "Press a key...". The
// index of a list item gives its key's code (an index into KeyScans()), or -1 for "Press a
// key...".
int KeyOfItem(HWND window, int box, int item);

// One row of the game controllers' list.
struct ControllerRow {
    std::wstring name;
    std::wstring held;  // what is held now: "buttons 1, 5; hat up", "nothing"
    bool lever;         // it is the lever
};

// Shows the rows, keeping the selection where it was if the list kept its length; `note`
// goes beside the list.
void ShowControllers(HWND window, const std::vector<ControllerRow> &rows, const std::wstring &note);
// The row selected, or -1.
int SelectedController(HWND window);

// The whole number in an edit control, or -1 when it holds none.
int ShownNumber(HWND window, int id);

// Shows the window and brings it to the front.
void BringForward(HWND window);
// Hides it to the notification area, or minimises it when there is none.
void HideWindow(HWND window, bool toNotifyArea);

// The menu of the gears the game may be in, up to `maxGear`, with `game` checked. The caller
// destroys it (or a menu it is part of).
HMENU GearMenu(int maxGear, int32_t game);

// The telemetry box's text: the port, ADDRESS:PORT off 127.0.0.1, empty when off.
std::wstring TelemetryField(const Settings &settings);

// The gear as the window and the tooltip name it: "3rd gear", "reverse", "neutral".
std::wstring GearText(int32_t gear);

// What a lever holds, as the controllers' list shows it.
std::wstring HeldText(const Sample &sample, bool inputs);

#endif
