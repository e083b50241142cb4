// gearvane-tray's state and what it does when something happens: the lever moves, a tap's
// time is up, a device comes or goes, the user changes a setting in the window.
#ifndef GEARVANE_TRAY_TRAY_H
#define GEARVANE_TRAY_TRAY_H

#include <windows.h>

#include <string>

#include "../../config/scan_codes.h"
#include "../../config/settings.h"
#include "../../core/learn.h"
#include "../../core/tapper.h"
#include "lever.h"
#include "settings_file.h"
#include "status.h"
#include "tap_timer.h"

enum { ID_SEARCH_TIMER = 1, SEARCH_MS = 1000, WARNED_WINDOWS = 16 };
// A lever that DirectInput does not signal is read this often; a menu or a move of the window
// (loops of their own, which never reach the main wait) serves the lever and the taps as often.
enum { ID_POLL_TIMER = 2, POLL_MS = 10, ID_MODAL_TIMER = 3 };

// How soon a key that Windows refused is tried again, in microseconds.
enum { RETRY_US = 100000 };

struct TrayApp {
    TrayOptions options;
    Settings settings;
    std::string gateMap;  // the last gate map in force, to go back to from a plate
    HWND window = nullptr;
    HICON icon = nullptr;
    bool iconShown = false;

    DirectInput input;
    Lever lever;
    bool leverOpen = false;
    LeverWanted wanted;
    Sample sample = {};  // the lever's state as last read; StartTray makes it a released one
    int32_t leverGear = GEAR_NONE;

    Tapper tapper = {};
    const KeyScan *pressed = nullptr;     // the key that went down last: its key-up is the same key
    const KeyScan *unreleased = nullptr;  // a key whose key-up Windows refused
    bool refusing = false;                // a refusal has been reported and not yet got over
    TapTimer timer;

    FolderWatch configWatch;  // the config file's folder, for edits made outside the window
    StatusLog log;
    bool learning = false;
    bool learnNote = false;  // the outcome of learning is shown until the lever moves
    Learning learn = {};
    HWINEVENTHOOK foregroundHook = nullptr;
    HWND warned[WARNED_WINDOWS] = {};
    int warnedNext = 0;
};

extern TrayApp App;

// Sets everything going once the window exists: the icon, the hooks, the lever or the wait
// for it. Status lines already due (ignored config lines) come first.
void StartTray(const std::string &ignored);

// Lets go of any key and ends the message loop with `code`.
void QuitTray(int code);

// Logging off: lets go of any key and removes the icon; Windows ends the process.
void EndSession();

void OnLeverEvent();
void OnTapTimer();
// Serves the lever and the tap timer from inside a menu or a move of the window.
void ServeInModalLoop();
void OnDeviceChange();  // WM_DEVICECHANGE, and the search timer while waiting
void OnConfigChanged();
void OnForeground(HWND window);

// The window's controls, each saved to the config file and applied at once.
void ChooseMaxGear(int maxGear);
void ChooseHold(int ms);
void ChooseGap(int ms);
void ChooseKey(bool up, const KeyScan *key);
void ChoosePlate(int plate);  // 0 standard, 1 nascar, 2 the gate map
void ChooseStartWithWindows(bool on);
void ClickLearn();
void ClickSkip();

#endif
