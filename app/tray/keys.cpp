// Typing the shift keys.
#include "keys.h"

// Carried by gearvane's key events, so that its own window can tell them apart.
static const ULONG_PTR OwnKeyMark = 0x67766e65;

bool SendKey(const KeyScan &key, bool down)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.wScan = key.scan;
    input.ki.dwExtraInfo = OwnKeyMark;
    input.ki.dwFlags = KEYEVENTF_SCANCODE | (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    return SendInput(1, &input, sizeof input) == 1;
}

bool OwnKeyMessage(const MSG &msg)
{
    return msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST &&
           static_cast<ULONG_PTR>(GetMessageExtraInfo()) == OwnKeyMark;
}
