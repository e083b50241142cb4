// The window thread's state, and the helpers that more than one of its pieces calls.
#ifndef GEARVANE_TRAY_TRAY_STATE_H
#define GEARVANE_TRAY_TRAY_STATE_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "config_watch.h"
#include "controllers.h"
#include "gate_learning.h"
#include "mailbox.h"
#include "shifter.h"
#include "status.h"
#include "tray.h"

// How long the window's timers wait, and how often they try.
enum {
    DEVICES_SETTLE_MS = 100,
    RETRY_MS = 1000,
    TYPED_MS = 500,
    ICON_RETRY_MS = 2000,
    ICON_TRIES = 60,  // two minutes: Explorer may come late at log-on
    GAME_CHECK_MS = 2000,
    GAME_CHECKS = 5,  // a game may go full screen a while after it comes forward
    QUIET_LOOKS = 50,  // ten seconds of a file held open before it is given up
};

enum LeverState { LEVER_NONE, LEVER_OPENING, LEVER_OPEN };

// All the window thread's state: the input thread gets its part through the mailbox.
struct Tray {
    HWND window = nullptr;
    HICON icon = nullptr;
    bool iconShown = false;
    int iconTries = 0;
    std::wstring tipShown;

    TrayOptions options;
    Settings settings;
    bool defaults = false;  // the config file has mistakes: the defaults are in force this time
    bool plateChosen = false;  // the plate in force was chosen, not left there as nothing was learned
    std::string gateMap;  // the last gate map in force, to go back to from a plate
    StatusLog log;
    ConfigWatch watch;
    int quietLooks = 0;

    Mailbox box;
    ShifterThread shifter;
    Orders orders = {};
    unsigned generations = 0;
    int pausedBy = 0;

    Controllers controllers;
    LeverWanted wanted;
    bool asked = false;  // several controllers and none chosen: the user was asked

    // The lever, as ordered and as the input thread reports it.
    LeverState lever = LEVER_NONE;
    InstanceId leverInstance = {};
    std::wstring leverName;
    Sample sample = {};
    int32_t leverGear = GEAR_NONE, gameGear = GEAR_NONE;
    bool busy = false;
    bool reporting = false;  // gameGear is the game's own report

    // The output and the telemetry, as the input thread reports them.
    VJoyNews vjoy = {};
    bool listening = false;  // on listenAt
    std::string listenAt;    // "127.0.0.1:5300"
    unsigned long deaf = 0;  // the error of the port that could not be had
    TelemetryFormat format = TELEMETRY_UNKNOWN;

    GateLearning learning;
    std::wstring learnNote;  // the outcome of learning, shown until the lever moves

    int keyWanted = 0;   // the key box whose key is asked for ("Press a key..."), or 0
    UINT keyTaken = 0;   // the scan code of the key taken: its key-up is not the window's
    HWINEVENTHOOK foregroundHook = nullptr;
    HDEVNOTIFY deviceNotes = nullptr;
    bool sessionNotes = false;
    std::vector<std::wstring> warned;  // the elevated games warned of
    HWND gameToCheck = nullptr;
    int gameChecks = 0;
};

extern Tray T;

// tray_state.cpp

// A line (printf's format) in the window's status pane and the log; a failure's reaches the
// log also when it is quiet.
void Status(const char *format, ...);
void Failure(const char *format, ...);
// A status line for each line of `lines` that ends in '\n'.
void StatusLines(const std::string &lines);
// T.orders to the input thread as they stand.
void Order();
// What the input thread needs of `s`; `listen` counts its orders to listen for telemetry again.
ShiftSettings Shift(const Settings &s, unsigned listen);
// The settings to the input thread. Telemetry is listened for again where it moved, or with
// `listenAgain` where it is.
void OrderSettings(bool listenAgain = false);
// Whether the gates in force are a plate (standard or nascar) rather than a gate map.
bool Plate();
// The lever, the gears, the next step, the telemetry and the icon's tooltip, as they stand.
void UpdateGears();
// The Gates box: what is learned so far while learning, else the gates in force and the
// hint, or the outcome of the last learning. Called whenever the settings change.
void ShowGateBox();
// Drops `key` from the command line's settings: a window edit wins over it from now on, also
// when the file is read again and at the next start with Windows.
void Forget(const char *key);
// Writes `set` to the config file; a failure is a status line, the settings in force stay.
void Save(const std::vector<std::pair<std::string, std::string>> &set);

// tray_settings.cpp

// The config file's mistakes, each on a line of its own, under `what`.
void Mistakes(const char *what, const std::vector<std::string> &mistakes);
// The config file's quiet time is up: it is read again, or looked at again later while
// another program holds it open.
void OnConfigQuiet();

// tray_lever.cpp

// The game controllers' list in the window, with the lever marked.
void ShowList();
// The lever is gone: learning stops, and the lever is waited for.
void LeverGone();
// Lists the game controllers afresh and, with no lever open, takes the one wanted, or asks.
void Rescan();
// After an answer, a Skip or a Done: the next question, or the end.
void Learned(bool ended);

#endif
