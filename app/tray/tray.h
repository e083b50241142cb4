// gearvane-tray on the window's thread: the settings and the config file, the game controllers
// and the choice of the lever, learning, the icon, the session's ends, and what the input
// thread reports. Its state is its own; the input thread gets orders through the mailbox.
#ifndef GEARVANE_TRAY_TRAY_H
#define GEARVANE_TRAY_TRAY_H

#include <windows.h>

#include <string>
#include <vector>

#include "../../config/settings.h"
#include "settings_file.h"

enum {
    WM_APP_SHOW = WM_APP + 2,     // from a second start: come forward
    WM_APP_QUIT = WM_APP + 3,     // from gearvane-tray --quit, or an elevated start taking over
    WM_APP_REPORTS = WM_APP + 4,  // the input thread has reports
};

// The window's timers.
enum {
    ID_DEVICES = 1,    // a device came or went: list them once they settle
    ID_RETRY,          // the lever was lost or could not be opened: look again
    ID_CONFIG_QUIET,   // the config file changed: read it once it is quiet
    ID_TYPED,          // a hold or gap typed: apply it once the typing stops
    ID_ICON,           // the notification area was not there: add the icon again
    ID_GAME,           // an elevated window came forward: see whether it is a game
};

// Sets everything going once the window exists: the log, the icon, the hooks, the config
// watch, the input thread and the lever. Status lines already due come first: the config
// file's `mistakes`, when the defaults are in force this time, and its ignored lines.
// Returns 0, or an exit status with *error.
int StartTray(HINSTANCE instance, HWND window, HICON icon, const TrayOptions &options, const Settings &settings,
              const std::vector<std::string> &mistakes, const std::string &ignored, std::string *error);

// Whether the window should show at start.
bool ShowAtStart();
bool TrayIconShown();

// Lets go of any key, ends the input thread and the message loop with `code`.
void QuitTray(int code);

// Windows ends the session: lets go of any key and removes the icon; the process ends.
void EndSession();

// The handles the window's loop waits on besides its messages, and what one of them means.
int TrayHandles(HANDLE *handles, int room);
void OnTrayHandle(int index);

void OnReports();
void OnDeviceChange();
void OnTimer(UINT_PTR id);
void OnTaskbarCreated();
void OnIconMessage(LPARAM what);
void OnShown(bool shown);
void OnClose();  // the close box, Escape, Hide: to the notification area

// A stop to shifting: the session locked, the computer suspending, the session ending. Any key
// is let go and the taps waiting dropped; shifting resumes at the lever's next move once no
// stop is left.
enum { PAUSE_LOCKED = 1, PAUSE_SUSPENDED = 2, PAUSE_ENDING = 4 };
void SetPaused(int reason, bool paused);

// The window's controls, each saved to the config file and applied at once.
void ChooseMaxGear(int maxGear);
// A hold or gap box changed (EN_CHANGE) or lost the focus (EN_KILLFOCUS), or Enter was
// pressed (IDOK): typed values apply once the typing stops for a moment, or at once.
void TypedTiming(int code);
// A key box (IDC_UP_KEY, IDC_DOWN_KEY) changed (CBN_SELCHANGE), closed its list
// (CBN_CLOSEUP) or lost the focus (CBN_KILLFOCUS); `key` is the code of its item, -1 for
// "Press a key...", which waits for a key to be pressed in the window.
void ChooseKey(int box, int key, int code);
// Takes the key pressed while one is waited for, and its key-up. Returns true when `msg` was
// taken and must go no further.
bool TakeKey(const MSG &msg);
void ChooseOutput(bool vjoy);  // the vJoy shifter, or the keys
// The telemetry box lost the focus, or Enter was pressed: its port applies, and a port that
// could not be had is tried again.
void TypedTelemetry();
void ChoosePlate(int plate);  // 0 standard, 1 nascar, 2 the gate map
void ChooseStartWithWindows(bool on);
void ChooseController();  // the list's selection changed
void ClickUseLever();
void ClickLearn();
void ClickSkip();
void ClickDone();
// The menu of the game's gears, under the button; the user's choice comes to SetGameGear.
void ClickSetGear();
// The user says the game is in `gear`: it is shifted from there at the lever's next move.
void SetGameGear(int32_t gear);

#endif
