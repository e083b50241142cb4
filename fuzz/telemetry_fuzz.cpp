// Fuzzes what comes from the network: game telemetry packets, of any length and content.
#include <stdint.h>
#include <stdlib.h>

#include "core/telemetry.h"

static void Require(bool condition)
{
    if (!condition)
        abort();
}

// A gear is read only from a known format that has one, and only within the games' range;
// AddressSanitizer sees any read outside the packet.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TelemetryReading r = ReadTelemetry(data, size);
    Require(TelemetryFormatName(r.format) != nullptr);
    if (r.hasGear) {
        Require(r.format != TELEMETRY_UNKNOWN && r.format != TELEMETRY_FORZA_SLED);
        Require(r.gear >= -1 && r.gear <= GAME_GEAR_TOP);
    }
    return 0;
}
