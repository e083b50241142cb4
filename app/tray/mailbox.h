// Where the window's thread and the input thread meet: the orders the window gives (settings,
// the lever to drive, whether to drive), taken by the input thread when their event is set,
// and the input thread's reports, a ring that the window drains when a message tells it to.
// Both sides only copy under the lock: neither ever waits for the other.
#ifndef GEARVANE_TRAY_MAILBOX_H
#define GEARVANE_TRAY_MAILBOX_H

#include <windows.h>

#include "../../core/gate.h"
#include "../../core/tapper.h"
#include "handles.h"
#include "telemetry_socket.h"
#include "vjoy.h"

// What shifting needs of the settings.
struct ShiftSettings {
    GateMap map;
    int maxGear;
    TapTiming timing;      // in microseconds
    int upCode, downCode;  // indexes into KeyScans()
    bool vjoy;             // the vJoy shifter if it can be had, else the keys
    int vjoyDevice;        // 1..16, or 0: the first free one
    // The game's telemetry: UDP on telemetryIp:telemetryPort (host byte order), off when the
    // port is 0. Each new `listen` is a new try, even of the same port.
    uint32_t telemetryIp;
    int telemetryPort;
    unsigned listen;
};

struct Orders {
    ShiftSettings settings;
    unsigned settingsVersion;  // grows with each change of `settings`
    // The lever to drive, by its instance. Each new choice, even of the same lever, has a new
    // generation, and the reports about it carry that generation. Generation 0: drive none.
    GUID lever;
    unsigned generation;
    bool learning;  // the lever answers the learning's questions: no taps
    bool paused;    // the session is locked, suspended or ending: no taps
    // The user says the game is in `gameGear`: each new saying has a new `gameGearSaid`.
    int32_t gameGear;
    unsigned gameGearSaid;
};

enum ReportKind {
    REPORT_OPENED,    // the lever ordered is open (then its first sample, or none)
    REPORT_FAILED,    // it could not be opened
    REPORT_LOST,      // it was unplugged
    REPORT_POLLED,    // it signals no changes: it is read every POLL_MS
    REPORT_SAMPLE,    // the lever moved (and the news of the taps it made)
    REPORT_GEARS,     // the taps went on: the game's gear or the busyness changed, or news
    REPORT_REFUSED,   // Windows refused a key; it is tried again
    REPORT_STOPPED,   // waiting failed: the input thread ended; `error` says why
    REPORT_OUTPUT,    // the output was set up: `vjoy` says whether the vJoy shifter is in use, or why not
    REPORT_LISTENING, // telemetry is on `telemetryIp`:`telemetryPort` now, or off when the port is 0
    REPORT_DEAF,      // that port cannot be had: `error` is Winsock's
    REPORT_TELEMETRY, // `telemetry` has news for the status lines
};

struct Report {
    ReportKind kind;
    unsigned generation;  // of the lever it is about
    Sample sample;        // the lever as last read
    int32_t leverGear;    // decoded from it, before the cap; GEAR_NONE without a lever
    int32_t gameGear;     // where the game lands once the tap under way has ended
    bool reporting;       // gameGear is the game's own fresh report
    bool busy;            // a key is down or taps are to come
    TapNews news;
    int upCode, downCode;  // the keys the news went out with
    bool buttons;          // the news went out on the vJoy shifter's buttons instead
    unsigned long error;
    VJoyNews vjoy;
    TelemetryFormat format;  // of the last packet that reported the gear
    TelemetryNews telemetry;
    uint32_t telemetryIp;
    int telemetryPort;
};

enum { REPORTS = 64 };

struct Mailbox {
    CRITICAL_SECTION lock;
    Handle ordered;  // set when new orders are posted
    Orders orders;
    Report reports[REPORTS];
    int first = 0, count = 0;
    unsigned dropped = 0;  // reports that found the ring full
    bool told = false;     // the window has been sent its message and not drained yet
    HWND window = nullptr;
    UINT message = 0;      // sent to `window` when reports wait
};

// Returns false when its event cannot be made. `window` gets `message` when reports wait.
// The mailbox lasts as long as the process.
bool OpenMailbox(Mailbox *box, HWND window, UINT message, const Orders &first);

void PostOrders(Mailbox *box, const Orders &orders);
Orders TakeOrders(Mailbox *box);

// Adds a report. A full ring loses its newest report to this one: the state it carries is
// the newest, and the count of reports lost grows.
void PostReport(Mailbox *box, const Report &report);

// Takes the oldest report; false when there is none. *dropped gets the reports lost since the
// last call.
bool TakeReport(Mailbox *box, Report *report, unsigned *dropped);

#endif
