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

class Shifter final : public KeyOutput {
public:
    // Makes "gearvane virtual shifter"; its first button-down goes out a settle time after
    // `now`. Null on failure, with *error saying what failed and how to fix it.
    static std::unique_ptr<Shifter> Create(int64_t now, std::string *error);

    // Its buttons are always the same: new keys change nothing.
    void SetKeys(const ShiftKeys &, int64_t) override {}
    const ShiftKeys &Keys() const override { return ShifterButtons; }

private:
    bool Press(int32_t direction, int64_t now) override;
    bool Release(int64_t now) override;
    // The game is given time to open a new controller before its first button.
    int64_t ReadyAt() const override { return readyAt; }
    bool Write(unsigned type, unsigned code, int value);

    Uinput device;
    int down = 0;  // the code of the button that is down
    int64_t readyAt = 0;
};

#endif
