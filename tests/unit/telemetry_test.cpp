// Game telemetry packets, each built here from the published byte offsets of its format.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/telemetry.h"

namespace {

struct Packet {
    std::vector<uint8_t> bytes;
    explicit Packet(size_t size) : bytes(size, 0) {}
    Packet &U8(size_t at, uint8_t v)
    {
        bytes.at(at) = v;
        return *this;
    }
    Packet &U16(size_t at, uint16_t v) { return U8(at, v & 0xff).U8(at + 1, v >> 8); }
    Packet &U32(size_t at, uint32_t v) { return U16(at, v & 0xffff).U16(at + 2, v >> 16); }
    Packet &F32(size_t at, float v)
    {
        uint32_t bits;
        memcpy(&bits, &v, sizeof bits);
        return U32(at, bits);
    }
    Packet &Text(size_t at, const char *text) { return text[0] ? U8(at, text[0]).Text(at + 1, text + 1) : *this; }
};

// Forza Dash: IsRaceOn @0 and the gear byte.
Packet Forza(size_t size, size_t gearAt, uint32_t raceOn, uint8_t gear)
{
    return Packet(size).U32(0, raceOn).F32(8, 8000).U8(gearAt, gear);
}

// An F1 car telemetry packet with `player`'s gear and a different gear in every other car.
Packet F1(uint16_t year, uint8_t gameYear, uint8_t player, int8_t gear, int adjust = 0)
{
    bool old = year == 2022;
    size_t header = old ? 24 : 29, block = year == 2026 ? 59 : 60, cars = year == 2026 ? 24 : 22;
    Packet p(header + cars * block + 3 + adjust);
    p.U16(0, year).U8(2, old ? 1 : gameYear).U8(old ? 5 : 6, 6).U8(old ? 22 : 27, player);
    for (size_t car = 0; car < cars; car++)
        p.U8(header + car * block + 15, static_cast<uint8_t>(car == player ? gear : 5));
    return p;
}

Packet F1Other(uint16_t year, uint8_t id, size_t size)
{
    return Packet(size).U16(0, year).U8(2, static_cast<uint8_t>(year - 2000)).U8(6, id);
}

Packet Codemasters(float gear, float gears)
{
    return Packet(264).F32(0, 12.5f).F32(132, gear).F32(148, 650).F32(260, gears);
}

Packet OutGauge(size_t size, const char *car, uint8_t gear)
{
    return Packet(size).U32(0, 123456).Text(4, car).U8(10, gear).F32(16, 5000);
}

struct ReadCase {
    const char *name;
    Packet packet;
    TelemetryFormat format;
    bool hasGear;
    int32_t gear;
};

const ReadCase ReadCases[] = {
    {"ForzaMotorsport7Third", Forza(311, 307, 1, 3), TELEMETRY_FORZA_FM7, true, 3},
    {"ForzaHorizonGearAfterItsOwnBlock", Forza(324, 319, 1, 4).U8(307, 9), TELEMETRY_FORZA_HORIZON, true, 4},
    {"ForzaMotorsport2023Tenth", Forza(331, 307, 1, 10), TELEMETRY_FORZA_FM2023, true, 10},
    {"ForzaZeroIsReverse", Forza(311, 307, 1, 0), TELEMETRY_FORZA_FM7, true, -1},
    {"ForzaElevenIsNeutral", Forza(324, 319, 1, 11), TELEMETRY_FORZA_HORIZON, true, 0},
    {"ForzaRaceOffIsNoReading", Forza(311, 307, 0, 3), TELEMETRY_FORZA_FM7, false, 0},
    {"ForzaSledHasNoGear", Forza(232, 100, 1, 3), TELEMETRY_FORZA_SLED, false, 0},
    {"ForzaOddGearIsNoReading", Forza(331, 307, 1, 12), TELEMETRY_FORZA_FM2023, false, 0},
    {"ForzaLengthButNoRaceFlag", Forza(311, 307, 7, 3), TELEMETRY_UNKNOWN, false, 0},
    {"F1_22PlayerFive", F1(2022, 0, 5, 7), TELEMETRY_F1_22, true, 7},
    {"F1_23Reverse", F1(2023, 23, 0, -1), TELEMETRY_F1_23, true, -1},
    {"F1_24Neutral", F1(2024, 24, 21, 0), TELEMETRY_F1_24, true, 0},
    {"F1_25Eighth", F1(2025, 25, 3, 8), TELEMETRY_F1_25, true, 8},
    {"F1_2026LastOf24Cars", F1(2026, 25, 23, 2), TELEMETRY_F1_2026, true, 2},
    {"F1PlayerPastTheCars", F1(2025, 25, 22, 3), TELEMETRY_F1_25, false, 0},
    {"F1Spectator", F1(2024, 24, 255, 3), TELEMETRY_F1_24, false, 0},
    {"F1TelemetryOneByteShort", F1(2023, 23, 0, 3, -1), TELEMETRY_UNKNOWN, false, 0},
    {"F1_25InTheFormatOf2024", F1(2024, 25, 0, 3), TELEMETRY_F1_24, true, 3},
    {"F1_23InTheFormatOf2024", F1(2024, 23, 0, 3), TELEMETRY_UNKNOWN, false, 0},
    {"F1OtherPacket", F1Other(2025, 0, 1349), TELEMETRY_F1_25, false, 0},
    {"F1UnknownPacketId", F1Other(2025, 40, 1349), TELEMETRY_UNKNOWN, false, 0},
    {"F1HeaderCutShort", F1Other(2025, 1, 28), TELEMETRY_UNKNOWN, false, 0},
    {"CodemastersThird", Codemasters(3, 6), TELEMETRY_CODEMASTERS, true, 3},
    {"CodemastersMinusOneIsReverse", Codemasters(-1, 5), TELEMETRY_CODEMASTERS, true, -1},
    {"CodemastersTenIsReverseInASixGearCar", Codemasters(10, 6), TELEMETRY_CODEMASTERS, true, -1},
    {"CodemastersTenthInATenGearCar", Codemasters(10, 10), TELEMETRY_CODEMASTERS, true, 10},
    {"CodemastersHalfGear", Codemasters(2.5f, 6), TELEMETRY_UNKNOWN, false, 0},
    {"CodemastersNotANumber", Codemasters(NAN, 6), TELEMETRY_UNKNOWN, false, 0},
    {"OutGaugeLiveForSpeed", OutGauge(92, "XFG", 4), TELEMETRY_OUTGAUGE, true, 3},
    {"OutGaugeBeamNGWithId", OutGauge(96, "beam", 0), TELEMETRY_OUTGAUGE, true, -1},
    {"OutGaugeNeutral", OutGauge(92, "UF1", 1), TELEMETRY_OUTGAUGE, true, 0},
    {"OutGaugeNoCarName", OutGauge(92, "", 3), TELEMETRY_UNKNOWN, false, 0},
    {"OutGaugeNameAfterPadding", OutGauge(96, "X", 3).U8(6, 'G'), TELEMETRY_UNKNOWN, false, 0},
    {"Empty", Packet(0), TELEMETRY_UNKNOWN, false, 0},
    {"BetweenForzaLengths", Forza(312, 307, 1, 3), TELEMETRY_UNKNOWN, false, 0},
};

void PrintTo(const ReadCase &c, std::ostream *os)
{
    *os << c.name;
}

class Read : public testing::TestWithParam<ReadCase> {};

TEST_P(Read, FormatAndGear)
{
    const ReadCase &c = GetParam();
    // A copy of exactly the packet's size, so that AddressSanitizer sees any read past it.
    std::vector<uint8_t> exact(c.packet.bytes);
    TelemetryReading r = ReadTelemetry(exact.data(), exact.size());
    EXPECT_EQ(r.format, c.format);
    EXPECT_EQ(r.hasGear, c.hasGear);
    EXPECT_EQ(r.hasGear ? r.gear : 0, c.gear);
}

INSTANTIATE_TEST_SUITE_P(Telemetry, Read, testing::ValuesIn(ReadCases),
                         [](const testing::TestParamInfo<ReadCase> &info) { return info.param.name; });

TEST(Telemetry, DropsSayHowManyAndOfWhatLengths)
{
    TelemetryDrops drops = {};
    char text[120];
    EXPECT_EQ(FormatDrops(drops, text, sizeof text), 0u);
    CountDrop(&drops, 12);
    FormatDrops(drops, text, sizeof text);
    EXPECT_STREQ(text, "dropped 1 packet of no known format (length 12)\n");
    for (size_t length : {1500, 12, 7, 8, 9})
        CountDrop(&drops, length);
    FormatDrops(drops, text, sizeof text);
    EXPECT_STREQ(text, "dropped 6 packets of no known format (lengths 12, 1500, 7, 8, ...)\n");
    EXPECT_EQ(FormatDrops(drops, text, 20), 19u);
}

}  // namespace
