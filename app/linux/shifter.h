// The virtual sequential shifter: a game controller of gearvane's own, whose buttons 1 and 2
// shift up and down, for games that read shifts only from controllers, or that stop the
// wheel's force feedback when a key is pressed.
#ifndef GEARVANE_SHIFTER_H
#define GEARVANE_SHIFTER_H

#include <memory>

#include "key_output.h"
#include "uinput.h"

// The shifter's buttons as the key outputs name them: BTN_TRIGGER shifts up and BTN_THUMB
// down, which SDL, Wine, Proton and games number 1 and 2.
extern const ShiftKeys ShifterButtons;

class Shifter final : public UinputOutput {
public:
    // Makes "gearvane virtual shifter"; its first button-down goes out a settle time after
    // `now`. Null on failure, with *error saying what failed and how to fix it.
    static std::unique_ptr<Shifter> Create(int64_t now, std::string *error);

    // Its buttons are always the same: new keys change nothing.
    void SetKeys(const ShiftKeys &, int64_t) override {}
    const ShiftKeys &Keys() const override { return ShifterButtons; }

private:
    Shifter() : UinputOutput("the virtual shifter") {}
    bool Press(int32_t direction, int64_t now) override
    {
        return PressCode(direction > 0 ? ShifterButtons.up : ShifterButtons.down, now);
    }
};

#endif
