// Long random lever runs: a million polls with random controller reports, radio clicks,
// resets and failed polls, each checked against a small model of the rules written apart
// from the core. A failure prints the seed, the failing poll and a shrunk reproduction.
// GEARVANE_SOAK_SEED and GEARVANE_SOAK_POLLS override the seed and the length.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "core/gear.h"
#include "core/shift.h"
#include "core/state.h"
#include "fake_platform.h"
#include "resources/resource.h"

namespace {

const uint64_t DefaultSeed = 20261206;
const long DefaultPolls = 1000000;

// One poll, and what the user did to the dialog just before it.
struct Step {
    int radio;       // control id, 0 for none
    int radioState;  // -1: clicked; otherwise the state set directly (0, 1, 2)
    bool failing;
    unsigned buttons;
    unsigned pov;
};

std::string Describe(const Step &s)
{
    char text[96];
    int n = 0;
    if (s.radio && s.radioState < 0)
        n = snprintf(text, sizeof text, "click %d; ", s.radio);
    else if (s.radio)
        n = snprintf(text, sizeof text, "radio %d := %d; ", s.radio, s.radioState);
    if (s.failing)
        snprintf(text + n, sizeof text - n, "poll fails");
    else
        snprintf(text + n, sizeof text - n, "buttons 0x%x pov %u", s.buttons, s.pov);
    return text;
}

// splitmix64: our own, so that a seed gives the same run on every platform.
struct Random {
    uint64_t state;
    uint32_t Next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

const unsigned GateButtons[] = {0x20, 0x40, 0x01, 0x02};
const unsigned GateHat[] = {0, 27000, 18000, 9000};
const int Radios[] = {IDC_PLATE_STANDARD, IDC_PLATE_NASCAR, IDC_MAXGEAR_4,
                      IDC_MAXGEAR_5,      IDC_MAXGEAR_6,    IDC_MAXGEAR_7};

// A lever that mostly stays put, sometimes moves to a gate position, sometimes reports
// nonsense, with clicks, odd radio states and failing polls sprinkled in.
struct StepSource {
    Random random;
    unsigned buttons = 0;
    unsigned pov = 65535;

    Step Next()
    {
        Step s = {0, -1, false, 0, 0};
        uint32_t roll = random.Below(1000);
        if (roll < 20) {
            s.radio = Radios[random.Below(6)];
        } else if (roll < 22) {
            s.radio = Radios[random.Below(6)];
            s.radioState = static_cast<int>(random.Below(3));
        }
        s.failing = random.Below(25) == 0;

        roll = random.Below(100);
        if (roll < 40) {
            // held where it was
        } else if (roll < 60) {
            buttons = GateButtons[random.Below(4)], pov = 65535;
        } else if (roll < 75) {
            buttons = 0, pov = GateHat[random.Below(4)];
        } else if (roll < 85) {
            buttons = 0, pov = 65535;
        } else if (roll < 89) {
            buttons = BUTTON_RESET, pov = random.Below(2) ? 65535 : GateHat[random.Below(4)];
        } else if (roll < 94) {
            buttons = random.Below(2) ? random.Next() : GateButtons[random.Below(4)] | BUTTON_RESET;
            pov = random.Below(2) ? 65535 : GateHat[random.Below(4)];
        } else {
            buttons = GateButtons[random.Below(4)];
            pov = random.Below(2) ? random.Below(36001) : GateHat[random.Below(4)];
        }
        s.buttons = buttons;
        s.pov = pov;
        return s;
    }
};

// The rules, stated the way the lever's gate is described: positions 1..8 are buttons
// 6, 7, 1, 2 alone, then the hat forward, left, backward, right; the hat wins.
int PositionOf(unsigned buttons, unsigned pov)
{
    for (int i = 0; i < 4; i++)
        if (pov == GateHat[i])
            return 5 + i;
    for (int i = 0; i < 4; i++)
        if (buttons == GateButtons[i])
            return 1 + i;
    return 0;
}

// Standard: gears 1..7 in positions 1..7, reverse in 8. Nascar type: reverse in 1,
// nothing in 2, gears 1..6 in 3..8.
int GearAt(int position, bool nascar)
{
    if (position == 0)
        return 0;
    if (!nascar)
        return position == 8 ? -1 : position;
    return position == 1 ? -1 : position == 2 ? 0 : position - 2;
}

struct Model {
    std::map<int, int> radios;
    int32_t current = 0;
    bool silent = false;
    bool ignoreCap = false;  // a planted fault, to prove the harness fails and shrinks
    long changes = 0, taps = 0, resets = 0, failed = 0, clicks = 0;

    Model()
    {
        for (int id : Radios)
            radios[id] = id == IDC_PLATE_STANDARD || id == IDC_MAXGEAR_6;
    }
    void Apply(const Step &s)
    {
        if (!s.radio)
            return;
        if (s.radioState >= 0) {
            radios[s.radio] = s.radioState;
            return;
        }
        bool plate = s.radio <= IDC_PLATE_NASCAR;
        for (int id : Radios)
            if ((id <= IDC_PLATE_NASCAR) == plate)
                radios[id] = id == s.radio;
    }
    int MaxGear()
    {
        for (int gear = 4; gear <= 7; gear++)
            if (radios[IDC_MAXGEAR_4 + gear - 4] == 1)
                return gear;
        return 7;
    }
};

struct Outcome {
    int up = 0, down = 0;
    std::vector<std::string> texts;
};

// Reads one poll's log. Returns an error, or "" when every line is a well-formed event.
std::string ReadLog(const std::vector<std::string> &log, Outcome *out)
{
    std::string held;
    for (const std::string &line : log) {
        if (line == "PgUp down" || line == "PgDn down") {
            if (!held.empty())
                return "'" + line + "' while " + held + " is still down";
            held = line.substr(0, 4);
        } else if (line == "PgUp up" || line == "PgDn up") {
            if (held != line.substr(0, 4))
                return "'" + line + "' without its own key-down";
            held.clear();
            (line[2] == 'U' ? out->up : out->down)++;
        } else if (line.compare(0, 6, "text '") == 0) {
            out->texts.push_back(line.substr(6, line.size() - 7));
        } else if (line.compare(0, 5, "spin ") != 0) {
            return "unexpected event '" + line + "'";
        }
    }
    if (!held.empty())
        return held + " still down after the poll";
    return "";
}

// Runs one poll through the core and checks it. Returns "" or what went wrong.
std::string RunStep(Model *m, const Step &s)
{
    m->Apply(s);
    if (s.radio && s.radioState < 0)
        ClickRadio(s.radio);
    else if (s.radio)
        SetRadio(s.radio, s.radioState);
    Fake.failing = s.failing;
    Fake.buttons = s.buttons;
    Fake.pov = s.pov;

    int32_t before = CurrentGear;
    if (ShiftStep(FakeDialog) != 0)
        return "ShiftStep returned non-zero";
    Outcome out;
    std::string error = ReadLog(TakeLog(), &out);
    if (!error.empty())
        return error;

    // What the model expects.
    bool standard = m->radios[IDC_PLATE_STANDARD] == 1;
    bool nascar = !standard && m->radios[IDC_PLATE_NASCAR] == 1;
    bool reset = !s.failing && (standard || nascar) && s.buttons == BUTTON_RESET;
    int gear = 0;
    if (!s.failing && (standard || nascar))
        gear = GearAt(PositionOf(s.buttons, s.pov), nascar);
    if (gear > m->MaxGear() && !m->ignoreCap)
        gear = m->MaxGear();
    int32_t from = reset ? 0 : before;
    std::vector<std::string> texts;
    if (s.failing != m->silent)
        texts.push_back(s.failing ? "Joystick not responding" : " ");
    m->silent = s.failing;
    if (gear != 0 && gear != from)
        texts.push_back(" ");
    m->current = gear != 0 ? gear : from;
    m->changes += gear != 0 && gear != from;
    m->taps += out.up + out.down;
    m->resets += reset;
    m->failed += s.failing;
    m->clicks += s.radio != 0;

    char buf[160];
    if (CurrentGear < -1 || CurrentGear > 7)
        return "CurrentGear " + std::to_string(CurrentGear) + " outside -1..7";
    if ((s.failing || gear == 0 || gear == from) && out.up + out.down != 0)
        return std::to_string(out.up + out.down) + " taps from a failed poll, neutral or the same gear";
    if (gear != 0 && CurrentGear != gear) {
        snprintf(buf, sizeof buf, "decoded gear %d but CurrentGear is %d", gear, static_cast<int>(CurrentGear));
        return buf;
    }
    if (out.up - out.down != CurrentGear - from || (out.up && out.down)) {
        snprintf(buf, sizeof buf, "%d up and %d down taps took CurrentGear from %d to %d", out.up, out.down,
                 static_cast<int>(from), static_cast<int>(CurrentGear));
        return buf;
    }
    if (CurrentGear != m->current) {
        snprintf(buf, sizeof buf, "CurrentGear is %d, the model says %d", static_cast<int>(CurrentGear),
                 static_cast<int>(m->current));
        return buf;
    }
    if (out.texts != texts) {
        std::string shown;
        for (const std::string &t : out.texts)
            shown += "'" + t + "' ";
        return "debug window set to [ " + shown + "], expected " + std::to_string(texts.size()) + " texts";
    }
    return "";
}

struct Failure {
    long index = -1;  // first failing poll, -1 when all passed
    std::string reason;
};

Failure RunSteps(const std::vector<Step> &steps, bool ignoreCap)
{
    ResetFake();
    Model model;
    model.ignoreCap = ignoreCap;
    Failure f;
    for (size_t i = 0; i < steps.size() && f.index < 0; i++) {
        f.reason = RunStep(&model, steps[i]);
        if (!f.reason.empty())
            f.index = static_cast<long>(i);
    }
    return f;
}

// The seeded run: the polls are made as they are used, so a million cost no memory.
// On failure *prefix holds the polls up to and including the failing one: every
// shorter prefix passed, so it is the shortest failing prefix of this run.
Failure RunSeed(uint64_t seed, long polls, bool ignoreCap, std::vector<Step> *prefix, Model *stats = nullptr)
{
    ResetFake();
    Model model;
    model.ignoreCap = ignoreCap;
    StepSource source = {{seed}};
    Failure f;
    for (long i = 0; i < polls; i++) {
        Step s = source.Next();
        f.reason = RunStep(&model, s);
        if (!f.reason.empty()) {
            f.index = i;
            StepSource again = {{seed}};
            for (long j = 0; j <= i; j++)
                prefix->push_back(again.Next());
            break;
        }
    }
    if (stats)
        *stats = model;
    return f;
}

// Shrinks a failing sequence: first the shortest failing tail, then drops chunks while it
// still fails, within a budget of polls. Each candidate runs from a fresh start.
std::vector<Step> Shrink(std::vector<Step> steps, bool ignoreCap)
{
    long budget = 20000000;
    for (size_t tail = 1; tail < steps.size(); tail *= 2) {
        std::vector<Step> candidate(steps.end() - tail, steps.end());
        budget -= static_cast<long>(tail);
        if (RunSteps(candidate, ignoreCap).index >= 0) {
            steps = candidate;
            break;
        }
    }
    for (size_t chunk = steps.size() / 2; chunk >= 1 && budget > 0; chunk /= 2) {
        for (size_t at = 0; at < steps.size() && steps.size() > 1 && budget > 0;) {
            std::vector<Step> candidate(steps.begin(), steps.begin() + at);
            candidate.insert(candidate.end(), steps.begin() + std::min(at + chunk, steps.size()), steps.end());
            budget -= static_cast<long>(candidate.size());
            Failure f = RunSteps(candidate, ignoreCap);
            if (f.index >= 0)
                steps.assign(candidate.begin(), candidate.begin() + f.index + 1);
            else
                at += chunk;
        }
    }
    return steps;
}

std::string Report(uint64_t seed, const Failure &f, const std::vector<Step> &shrunk, bool ignoreCap)
{
    std::string text = "seed " + std::to_string(seed) + ": poll " + std::to_string(f.index) + " failed (prefix of " +
                       std::to_string(f.index + 1) + " polls): " + f.reason + "\nshrunk to " +
                       std::to_string(shrunk.size()) + " polls from the start-up state:\n";
    for (const Step &s : shrunk)
        text += "  " + Describe(s) + "\n";
    text += "  -> " + RunSteps(shrunk, ignoreCap).reason + "\n";
    return text;
}

uint64_t FromEnvironment(const char *name, uint64_t fallback)
{
    const char *value = getenv(name);
    return value && *value ? strtoull(value, nullptr, 10) : fallback;
}

TEST(LeverSoak, AMillionRandomPollsFollowTheRules)
{
    uint64_t seed = FromEnvironment("GEARVANE_SOAK_SEED", DefaultSeed);
    long polls = static_cast<long>(FromEnvironment("GEARVANE_SOAK_POLLS", DefaultPolls));
    std::vector<Step> prefix;
    Model stats;
    Failure f = RunSeed(seed, polls, false, &prefix, &stats);
    if (f.index >= 0)
        ADD_FAILURE() << Report(seed, f, Shrink(prefix, false), false);
    else
        printf("seed %llu: %ld polls, %ld gear changes, %ld taps, %ld resets, %ld failed polls, %ld radio changes\n",
           static_cast<unsigned long long>(seed), polls, stats.changes, stats.taps, stats.resets, stats.failed,
           stats.clicks);
    ResetFake();
}

// The harness itself: a model that forgets the cap must be caught, and shrunk to the
// one poll that shows it (a lever in the 7th-gear position with maximum 6).
TEST(LeverSoak, CatchesAPlantedFaultAndShrinksIt)
{
    std::vector<Step> prefix;
    Failure f = RunSeed(DefaultSeed, 100000, true, &prefix);
    ASSERT_GE(f.index, 0);
    std::vector<Step> shrunk = Shrink(prefix, true);
    EXPECT_EQ(RunSteps(shrunk, true).index, static_cast<long>(shrunk.size()) - 1);
    EXPECT_LE(shrunk.size(), 3u) << Report(DefaultSeed, f, shrunk, true);
    ResetFake();
}

}  // namespace
