// The readable names of the keys a shift can be bound to. The codes are those of
// linux/input-event-codes.h, which is a stable interface.
#include "key_names.h"

#include <string.h>

namespace {

const KeyName Keys[] = {
    {"KEY_PAGEUP", 104, "Page Up"},
    {"KEY_PAGEDOWN", 109, "Page Down"},
    {"KEY_UP", 103, "Up Arrow"},
    {"KEY_DOWN", 108, "Down Arrow"},
    {"KEY_LEFT", 105, "Left Arrow"},
    {"KEY_RIGHT", 106, "Right Arrow"},
    {"KEY_HOME", 102, "Home"},
    {"KEY_END", 107, "End"},
    {"KEY_INSERT", 110, "Insert"},
    {"KEY_DELETE", 111, "Delete"},
    {"KEY_A", 30, "A"},
    {"KEY_B", 48, "B"},
    {"KEY_C", 46, "C"},
    {"KEY_D", 32, "D"},
    {"KEY_E", 18, "E"},
    {"KEY_F", 33, "F"},
    {"KEY_G", 34, "G"},
    {"KEY_H", 35, "H"},
    {"KEY_I", 23, "I"},
    {"KEY_J", 36, "J"},
    {"KEY_K", 37, "K"},
    {"KEY_L", 38, "L"},
    {"KEY_M", 50, "M"},
    {"KEY_N", 49, "N"},
    {"KEY_O", 24, "O"},
    {"KEY_P", 25, "P"},
    {"KEY_Q", 16, "Q"},
    {"KEY_R", 19, "R"},
    {"KEY_S", 31, "S"},
    {"KEY_T", 20, "T"},
    {"KEY_U", 22, "U"},
    {"KEY_V", 47, "V"},
    {"KEY_W", 17, "W"},
    {"KEY_X", 45, "X"},
    {"KEY_Y", 21, "Y"},
    {"KEY_Z", 44, "Z"},
    {"KEY_1", 2, "1"},
    {"KEY_2", 3, "2"},
    {"KEY_3", 4, "3"},
    {"KEY_4", 5, "4"},
    {"KEY_5", 6, "5"},
    {"KEY_6", 7, "6"},
    {"KEY_7", 8, "7"},
    {"KEY_8", 9, "8"},
    {"KEY_9", 10, "9"},
    {"KEY_0", 11, "0"},
    {"KEY_F1", 59, "F1"},
    {"KEY_F2", 60, "F2"},
    {"KEY_F3", 61, "F3"},
    {"KEY_F4", 62, "F4"},
    {"KEY_F5", 63, "F5"},
    {"KEY_F6", 64, "F6"},
    {"KEY_F7", 65, "F7"},
    {"KEY_F8", 66, "F8"},
    {"KEY_F9", 67, "F9"},
    {"KEY_F10", 68, "F10"},
    {"KEY_F11", 87, "F11"},
    {"KEY_F12", 88, "F12"},
    {"KEY_F13", 183, "F13"},
    {"KEY_F14", 184, "F14"},
    {"KEY_F15", 185, "F15"},
    {"KEY_F16", 186, "F16"},
    {"KEY_F17", 187, "F17"},
    {"KEY_F18", 188, "F18"},
    {"KEY_F19", 189, "F19"},
    {"KEY_F20", 190, "F20"},
    {"KEY_F21", 191, "F21"},
    {"KEY_F22", 192, "F22"},
    {"KEY_F23", 193, "F23"},
    {"KEY_F24", 194, "F24"},
    {"KEY_KP0", 82, "Num 0"},
    {"KEY_KP1", 79, "Num 1"},
    {"KEY_KP2", 80, "Num 2"},
    {"KEY_KP3", 81, "Num 3"},
    {"KEY_KP4", 75, "Num 4"},
    {"KEY_KP5", 76, "Num 5"},
    {"KEY_KP6", 77, "Num 6"},
    {"KEY_KP7", 71, "Num 7"},
    {"KEY_KP8", 72, "Num 8"},
    {"KEY_KP9", 73, "Num 9"},
    {"KEY_KPSLASH", 98, "Num /"},
    {"KEY_KPASTERISK", 55, "Num *"},
    {"KEY_KPMINUS", 74, "Num -"},
    {"KEY_KPPLUS", 78, "Num +"},
    {"KEY_KPDOT", 83, "Num ."},
    {"KEY_KPENTER", 96, "Num Enter"},
    {"KEY_MINUS", 12, "Minus"},
    {"KEY_EQUAL", 13, "Equals"},
    {"KEY_LEFTBRACE", 26, "Left Bracket"},
    {"KEY_RIGHTBRACE", 27, "Right Bracket"},
    {"KEY_SEMICOLON", 39, "Semicolon"},
    {"KEY_APOSTROPHE", 40, "Apostrophe"},
    {"KEY_GRAVE", 41, "Grave Accent"},
    {"KEY_BACKSLASH", 43, "Backslash"},
    {"KEY_COMMA", 51, "Comma"},
    {"KEY_DOT", 52, "Period"},
    {"KEY_SLASH", 53, "Slash"},
    {"KEY_102ND", 86, "102nd Key (< >)"},
    {"KEY_SPACE", 57, "Space"},
    {"KEY_ENTER", 28, "Enter"},
    {"KEY_TAB", 15, "Tab"},
    {"KEY_BACKSPACE", 14, "Backspace"},
    {"KEY_ESC", 1, "Esc"},
    {"KEY_LEFTSHIFT", 42, "Left Shift"},
    {"KEY_RIGHTSHIFT", 54, "Right Shift"},
    {"KEY_LEFTCTRL", 29, "Left Ctrl"},
    {"KEY_RIGHTCTRL", 97, "Right Ctrl"},
    {"KEY_LEFTALT", 56, "Left Alt"},
    {"KEY_RIGHTALT", 100, "Right Alt (AltGr)"},
    {"KEY_CAPSLOCK", 58, "Caps Lock"},
    {"KEY_NUMLOCK", 69, "Num Lock"},
    {"KEY_SCROLLLOCK", 70, "Scroll Lock"},
};

}  // namespace

const KeyName *KeyNames(int *count)
{
    *count = static_cast<int>(sizeof Keys / sizeof Keys[0]);
    return Keys;
}

const KeyName *FindKeyName(const char *name)
{
    for (const KeyName &key : Keys)
        if (strcmp(key.name, name) == 0)
            return &key;
    return nullptr;
}

const KeyName *FindKeyCode(int code)
{
    for (const KeyName &key : Keys)
        if (key.code == code)
            return &key;
    return nullptr;
}

const char *ReadableKey(const char *name)
{
    const KeyName *key = FindKeyName(name);
    return key ? key->readable : name;
}
