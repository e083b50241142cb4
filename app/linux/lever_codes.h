// What a lever's evdev codes mean to gearvane: which devices are levers, how their buttons
// are numbered, and the hat as an angle. No I/O: the callers read the device.
#ifndef GEARVANE_LEVER_CODES_H
#define GEARVANE_LEVER_CODES_H

#include <linux/input-event-codes.h>
#include <stdint.h>

// Button numbers by key code, 0 for a code the device lacks, numbered as SDL (and so Wine
// and Proton) numbers them: first the codes from BTN_JOYSTICK up, then the ones below it.
// So "button 6" is the same physical button here as for gearvane.exe under Wine.
struct ButtonNumbers {
    uint16_t of[KEY_CNT];
    int count;
};

// `has(code)` tells whether the device reports key `code`.
template <typename Has> void NumberButtons(Has has, ButtonNumbers *numbers)
{
    numbers->count = 0;
    for (int code = 0; code < KEY_CNT; code++)
        numbers->of[code] = 0;
    for (int code = BTN_JOYSTICK; code <= KEY_MAX; code++)
        if (has(code))
            numbers->of[code] = static_cast<uint16_t>(++numbers->count);
    for (int code = 0; code < BTN_JOYSTICK; code++)
        if (has(code))
            numbers->of[code] = static_cast<uint16_t>(++numbers->count);
}

// Joystick and gamepad buttons, and the extra "trigger happy" ones: a device with any of
// these, or with a hat, can be a lever. Keyboards and mice have none.
bool IsLeverButton(int code);

// Whether bit `bit` is set in a capability bitmap as sysfs shows it
// (/sys/class/input/eventN/device/capabilities/key): words of `wordBits` bits in hex, the
// most significant first, separated by blanks.
bool CapabilityBit(const char *bitmap, int bit, int wordBits);

// The hat's angle in hundredths of a degree from the signs of ABS_HAT0X and ABS_HAT0Y
// (-1 is up and left, as the kernel and SDL have it); 65535 when centred.
uint32_t HatAngle(int x, int y);

#endif
