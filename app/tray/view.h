// What the window shows: each function fills some of the dialog's controls and nothing else.
#ifndef GEARVANE_TRAY_VIEW_H
#define GEARVANE_TRAY_VIEW_H

#include <windows.h>

#include <string>
#include <vector>

#include "../../config/settings.h"
#include "../../core/gate.h"

// Sets up the controls once the dialog exists: the fonts, the lists' items and columns.
void InitView(HWND window);

void ShowLeverName(HWND window, const std::wstring &name);  // empty: none
// The game's gear is its own report, or the count's.
void ShowGears(HWND window, bool lever, int32_t leverGear, int32_t gameGear, bool reported);
// What keeps the vJoy shifter from shifting, or the device it shifts on; empty with the keys.
void ShowOutputState(HWND window, const std::wstring &text);
void ShowTelemetryState(HWND window, const std::wstring &text);  // "waiting for packets on 5300"
// Fills the controls with `settings`. Their change notices meanwhile are the program's own:
// ViewFilling() is true.
void ShowSettings(HWND window, const Settings &settings);
bool ViewFilling();
void ShowStatus(HWND window, const std::wstring &text);
// Learning: the prompt (empty: a hint), whether learning is under way, and whether a lever
// is there to learn.
void ShowLearning(HWND window, const std::wstring &prompt, bool learning, bool lever);
void ShowStartWithWindows(HWND window, bool on);

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

// The telemetry box's text: the port, ADDRESS:PORT off 127.0.0.1, empty when off.
std::wstring TelemetryField(const Settings &settings);

// The gear as the window and the tooltip name it: "3rd gear", "reverse", "neutral".
std::wstring GearText(int32_t gear);

// What a lever holds, as the controllers' list shows it.
std::wstring HeldText(const Sample &sample, bool inputs);

#endif
