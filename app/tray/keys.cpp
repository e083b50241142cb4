// Typing the shift keys.
#include "keys.h"

#include <atomic>

#include "../../config/scan_codes.h"

namespace {

// Carried by gearvane's key events, so that its own window can tell them apart.
const ULONG_PTR OwnKeyMark = 0x67766e65;

// The key that is down, if any, for ReleaseHeldKey on another thread.
std::atomic<const KeyScan *> HeldKey;

// Sends one key event: the scan code (E0 keys flagged extended) with the virtual key
// filled in too, which Wine passes on to programs that read virtual keys.
bool SendKey(const KeyScan &key, bool down)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.wScan = key.scan;
    input.ki.dwExtraInfo = OwnKeyMark;
    input.ki.dwFlags = KEYEVENTF_SCANCODE | (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    bool sent = SendInput(1, &input, sizeof input) == 1;
    if (sent || down)
        HeldKey = down && sent ? &key : nullptr;
    return sent;
}

// The key of an index, the first one for an index out of the table.
const KeyScan &Key(int index)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    return keys[index >= 0 && index < count ? index : 0];
}

}  // namespace

void KeyOutput::SetKeys(int upCode, int downCode)
{
    up = upCode;
    down = downCode;
}

int KeyOutput::Press(int32_t direction)
{
    int index = direction > 0 ? up : down;
    return SendKey(Key(index), true) ? index + 1 : 0;
}

bool KeyOutput::Release(int key)
{
    return SendKey(Key(key - 1), false);
}

bool OwnKeyMessage(const MSG &msg)
{
    return msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST &&
           static_cast<ULONG_PTR>(GetMessageExtraInfo()) == OwnKeyMark;
}

void ReleaseHeldKey()
{
    const KeyScan *key = HeldKey.exchange(nullptr);
    if (key)
        SendKey(*key, false);
}
