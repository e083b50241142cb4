// The game's telemetry on Linux: a UDP socket in the loop, drained at each wake-up down to
// the newest reading of the gear, and the status lines of what came in; listened for where
// the settings say, and moved when they change.
#ifndef GEARVANE_TELEMETRY_SOCKET_H
#define GEARVANE_TELEMETRY_SOCKET_H

#include <netinet/in.h>
#include <stdint.h>

#include <optional>
#include <string>

#include "../../core/telemetry.h"
#include "fd.h"
#include "poller.h"

// What the packets of one wake-up came to.
struct TelemetryNews {
    bool hasGear;     // a packet reported the player's gear with the race on
    int32_t gear;     // the newest such gear
    char lines[640];  // status lines, each ending in a newline; empty when nothing is news
};

class TelemetrySocket {
public:
    // Listens on UDP `ip`:`port` (host byte order). False, with what went wrong and what to
    // do in *error, when the port cannot be had: taken by another program above all.
    bool Open(uint32_t ip, int port, std::string *error);
    int Socket() const { return socket.Get(); }  // readable: call Drain
    int TimerFd() const { return timer.Get(); }  // readable: call OnTimer

    // Reads what is waiting, at most a few hundred packets, so that a flood cannot hold up
    // the loop; the rest is read at the next wake-up. Packets of no known format are counted
    // and reported at once the first time, then at most once a minute. Each format is named
    // the first time it comes. `now` in µs.
    void Drain(int64_t now, TelemetryNews *news);
    // The drops that came since the last report, once a minute has passed since it.
    void OnTimer(int64_t now, TelemetryNews *news);
    // The drops not reported yet, for the last line before the program ends.
    void Flush(int64_t now, TelemetryNews *news);

    // The format of the last packet that reported a gear; TELEMETRY_UNKNOWN before one.
    TelemetryFormat Format() const { return format; }
    // "127.0.0.1:5300"
    const std::string &Where() const { return where; }

private:
    enum { BATCH = 16, MOST_BATCHES = 16, PACKET_MAX = 2048 };

    void Take(const uint8_t *data, size_t size, const sockaddr_in &from, TelemetryNews *news);
    void ReportDrops(int64_t now, TelemetryNews *news);

    Fd socket;
    Timer timer;  // one shot: the report of drops that came within a minute of the last one
    bool timerArmed = false;
    std::string where;
    bool loopback = true;       // bound to 127.x: only this host's packets are read
    bool saidForeign = false;   // the first packet of another host was reported
    uint32_t saidFormats = 0;   // a bit for each format named
    TelemetryFormat format = TELEMETRY_UNKNOWN;
    TelemetryDrops drops = {};  // since the last report
    int64_t reportedAt = -1;    // of the last report of drops; -1 before one
    uint8_t buffers[BATCH][PACKET_MAX];
};

// The telemetry the daemon listens for where its settings say, with the socket and its timer
// in the loop's poller (SRC_TELEMETRY: 0 the socket, 1 the timer). Each call clears *news and
// fills it in; the loop hands the gear to the tap scheduler and says the lines.
class TelemetryListener {
public:
    explicit TelemetryListener(Poller *poller) : poller(poller) {}
    TelemetryListener(const TelemetryListener &) = delete;
    TelemetryListener &operator=(const TelemetryListener &) = delete;

    // Listens on UDP `ip`:`port` (port 0: nowhere), unless it listens there already: the
    // drops of the old port not yet reported, then where it waits now, are news. False, with
    // *error, when the new port cannot be had; it is then off.
    bool ListenAt(uint32_t ip, int port, int64_t now, TelemetryNews *news, std::string *error);
    // Its descriptor `index` is ready: the packets that came, or the report of drops.
    void OnReady(uint32_t index, int64_t now, TelemetryNews *news);
    // Stops listening; the drops not yet reported are news.
    void Stop(int64_t now, TelemetryNews *news);

private:
    void Close(int64_t now, TelemetryNews *news);

    Poller *poller;
    std::optional<TelemetrySocket> socket;
    uint32_t ip = 0;
    int port = 0;
};

#endif
