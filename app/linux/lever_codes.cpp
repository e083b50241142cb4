// Which devices can be levers, button numbering in SDL's order, sysfs bitmaps and the hat angle.
#include "lever_codes.h"

#include <stdlib.h>

bool IsLeverButton(int code)
{
    return (code >= BTN_JOYSTICK && code < BTN_DIGI) ||
           (code >= BTN_TRIGGER_HAPPY && code <= BTN_TRIGGER_HAPPY40);
}

bool CapabilityBit(const char *bitmap, int bit, int wordBits)
{
    unsigned long words[32];
    int count = 0;
    for (char *end; count < 32; bitmap = end) {
        unsigned long word = strtoul(bitmap, &end, 16);
        if (end == bitmap)
            break;
        words[count++] = word;
    }
    int word = bit / wordBits;
    return bit >= 0 && word < count && (words[count - 1 - word] >> (bit % wordBits) & 1);
}

uint32_t HatAngle(int x, int y)
{
    // Clockwise from up, by the signs of x (right +) and y (down +).
    static const uint32_t angles[3][3] = {
        // x: -1     0      +1
        {31500, 0, 4500},        // y -1: up
        {27000, 65535, 9000},    // y 0
        {22500, 18000, 13500},   // y +1: down
    };
    int col = (x > 0) - (x < 0) + 1;
    int row = (y > 0) - (y < 0) + 1;
    return angles[row][col];
}
