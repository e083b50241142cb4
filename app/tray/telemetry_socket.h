// The game's telemetry on the input thread: a UDP socket whose event joins the thread's wait,
// drained at each wake-up down to the newest reading of the gear, and what came in that the
// status lines should say.
#ifndef GEARVANE_TRAY_TELEMETRY_SOCKET_H
#define GEARVANE_TRAY_TELEMETRY_SOCKET_H

#include <windows.h>

#include <stdint.h>

#include <string>

#include "../../core/telemetry.h"
#include "handles.h"

// What the packets of one wake-up came to.
struct TelemetryNews {
    bool hasGear;          // a packet reported the player's gear with the race on
    int32_t gear;          // the newest such gear
    uint32_t formats;      // a bit (1 << format) for each format heard for the first time
    uint32_t foreign;      // the first packet from another computer: its IPv4 address, host order; else 0
    TelemetryDrops drops;  // packets of no known format, to be reported now; none when count is 0
};

// Why a port at `where` ("127.0.0.1:5300") cannot be had, from Open's error, and what to do.
std::string ListenError(int error, const std::string &where);

class TelemetrySocket {
public:
    TelemetrySocket() = default;
    TelemetrySocket(const TelemetrySocket &) = delete;
    TelemetrySocket &operator=(const TelemetrySocket &) = delete;
    ~TelemetrySocket();

    // Listens on UDP `ip`:`port` (host byte order). Returns 0, or Winsock's error when the port
    // cannot be had (WSAEADDRINUSE: another program has it).
    int Open(uint32_t ip, int port);
    void Close();
    bool IsOpen() const { return socket != NO_SOCKET; }

    HANDLE Event() const { return event.h; }  // set when packets wait: call Drain
    HANDLE Timer() const { return timer.h; }  // set when drops are due in a status line: call OnTimer

    // Reads what is waiting, at most MOST_PACKETS, so that a flood cannot hold up the thread;
    // the event stays set for the rest. Packets of no known format are counted and
    // reported at once the first time, then at most once a minute. `now` in microseconds.
    void Drain(int64_t now, TelemetryNews *news);
    void OnTimer(int64_t now, TelemetryNews *news);

    // The format of the last packet that reported a gear; TELEMETRY_UNKNOWN before one.
    TelemetryFormat Format() const { return format; }

private:
    enum { MOST_PACKETS = 16, PACKET_MAX = 65536 };

    void Take(int size, uint32_t sender, TelemetryNews *news);
    void ReportDrops(int64_t now, TelemetryNews *news);

    bool started = false;  // WSAStartup
    static const UINT_PTR NO_SOCKET = ~UINT_PTR(0);  // INVALID_SOCKET, without Winsock's header here
    UINT_PTR socket = NO_SOCKET;
    Handle event, timer;
    bool timerArmed = false;
    bool loopback = true;      // bound to 127.x: only this computer's packets are read
    bool saidForeign = false;
    uint32_t saidFormats = 0;  // a bit for each format named
    TelemetryFormat format = TELEMETRY_UNKNOWN;
    TelemetryDrops drops = {};  // since the last report
    int64_t reportedAt = -1;    // of the last report of drops; -1 before one
    uint8_t buffer[PACKET_MAX];  // more than any UDP packet holds: none is ever cut
};

#endif
