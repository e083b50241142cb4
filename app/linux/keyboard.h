// The virtual keyboard that types the shift keys: a uinput device with those two keys only.
#ifndef GEARVANE_KEYBOARD_H
#define GEARVANE_KEYBOARD_H

#include <memory>

#include "key_output.h"
#include "uinput.h"

class Keyboard final : public UinputOutput {
public:
    // Makes "gearvane virtual keyboard" with `keys`; its first key-down goes out a settle
    // time after `now`. Null on failure, with *error saying what failed and how to fix it.
    static std::unique_ptr<Keyboard> Create(const ShiftKeys &keys, int64_t now, std::string *error);

    // With no key down, a keyboard with the new keys replaces this one at once; otherwise
    // at the key-up. If it cannot be made, the old keys stay.
    void SetKeys(const ShiftKeys &keys, int64_t now) override;
    const ShiftKeys &Keys() const override { return remake ? next : keys; }

private:
    Keyboard() : UinputOutput("the virtual keyboard") {}
    bool Press(int32_t direction, int64_t now) override { return PressCode(direction > 0 ? keys.up : keys.down, now); }
    bool Release(int64_t now) override;

    static Uinput MakeDevice(const ShiftKeys &keys, std::string *error);
    void Remake(int64_t now);

    ShiftKeys keys, next;
    bool remake = false;  // `next` waits for the key-up
};

#endif
