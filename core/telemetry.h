// Game telemetry packets: which game sent one, and the gear it reports. One port serves
// every game, so the format is told from each packet's length and header alone.
#ifndef GEARVANE_TELEMETRY_H
#define GEARVANE_TELEMETRY_H

#include <stddef.h>
#include <stdint.h>

enum TelemetryFormat {
    TELEMETRY_UNKNOWN,        // no known format, or a broken packet of one: drop it and count it
    TELEMETRY_FORZA_SLED,     // Forza's Sled format, which has no gear: the user should pick Dash
    TELEMETRY_FORZA_FM7,      // Forza Motorsport 7, Dash
    TELEMETRY_FORZA_HORIZON,  // Forza Horizon 4 and 5, Dash
    TELEMETRY_FORZA_FM2023,   // Forza Motorsport (2023), Dash
    TELEMETRY_F1_22,
    TELEMETRY_F1_23,
    TELEMETRY_F1_24,
    TELEMETRY_F1_25,
    TELEMETRY_F1_2026,        // F1 25's 2026 season: 24 cars
    TELEMETRY_CODEMASTERS,    // DiRT Rally 1 and 2, DiRT 4, GRID and others with extradata=3
    TELEMETRY_OUTGAUGE,       // Live for Speed, BeamNG.drive
};

// The highest forward gear a game may report (Forza counts to 10).
enum { GAME_GEAR_TOP = 10 };

struct TelemetryReading {
    TelemetryFormat format;
    bool hasGear;  // the packet reports the player's gear with the race on
    int32_t gear;  // when hasGear: -1 reverse, 0 neutral, 1..GAME_GEAR_TOP forward
};

// Reads one UDP packet of `size` bytes. Every field is read within `size`; nothing in the
// packet is trusted, its lengths and indexes included. A packet of a known game that says
// nothing of the gear (another F1 packet, a race that is not on, Forza's Sled format, a
// spectator's F1 packet) has its format and no gear; a packet of no known format, or one
// that breaks its format, is TELEMETRY_UNKNOWN.
TelemetryReading ReadTelemetry(const uint8_t *data, size_t size);

// The format's name for status lines: "Forza Horizon 4/5", "F1 24", "OutGauge".
const char *TelemetryFormatName(TelemetryFormat format);

// Packets dropped as TELEMETRY_UNKNOWN, for one status line now and then.
struct TelemetryDrops {
    uint64_t count;
    uint32_t lengths[4];  // the first distinct lengths seen
    int distinct;
    bool more;            // other lengths were seen too
};

void CountDrop(TelemetryDrops *drops, size_t length);

// "dropped 3 packets of no known format (lengths 12, 1500)", newline-terminated, into `text`
// (`size` bytes, always terminated); "..." ends the list when more lengths were seen than it
// holds. Returns the length written, 0 when nothing was dropped.
size_t FormatDrops(const TelemetryDrops &drops, char *text, size_t size);

#endif
