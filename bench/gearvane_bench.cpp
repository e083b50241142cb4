// Costs of the work the program does on its 10 ms poll timer, through the recording fake.
#include <benchmark/benchmark.h>

#include "core/gear.h"
#include "core/shift.h"
#include "core/state.h"
#include "fake_platform.h"

// The tick of a lever at rest: poll, read the radios, decode, compare, nothing to send.
static void IdleTick(benchmark::State &state)
{
    ResetFake();
    Fake.buttons = 0x01;  // 3rd gear, already engaged
    ShiftStep(FakeDialog);
    TakeLog();
    for (auto _ : state)
        benchmark::DoNotOptimize(ShiftStep(FakeDialog));
    if (!TakeLog().empty() || CurrentGear != 3)
        state.SkipWithError("the idle tick did something");
}
BENCHMARK(IdleTick);

// The gate table alone, over the eight positions, neutral and a reset.
static void DecodeGateAlone(benchmark::State &state)
{
    static const ControllerSample samples[16] = {
        {0x20, POV_CENTERED}, {0x40, POV_CENTERED}, {0x01, POV_CENTERED}, {0x02, POV_CENTERED},
        {0, POV_FORWARD},     {0, POV_LEFT},        {0, POV_BACKWARD},    {0, POV_RIGHT},
        {0, POV_CENTERED},    {0x400, POV_CENTERED}, {0x21, 4500},        {0x02, POV_LEFT},
        {0x20, POV_CENTERED}, {0x01, POV_FORWARD},  {0, 27000},           {0x40, 9000},
    };
    unsigned i = 0;
    bool resetSeen;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeGate(PLATE_STANDARD, samples[i++ & 15], &resetSeen));
        benchmark::DoNotOptimize(resetSeen);
    }
}
BENCHMARK(DecodeGateAlone);

// Neutral to 3rd with zero spins: three taps, six key events, the debug window blanked.
// Includes the fake's recording of those events and taking its log.
static void ShiftOfThreeGears(benchmark::State &state)
{
    ResetFake();
    Fake.buttons = 0x01;
    for (auto _ : state) {
        CurrentGear = 0;
        ShiftStep(FakeDialog);
        benchmark::DoNotOptimize(TakeLog());
    }
    if (CurrentGear != 3)
        state.SkipWithError("the shift did not reach 3rd");
}
BENCHMARK(ShiftOfThreeGears);

BENCHMARK_MAIN();
