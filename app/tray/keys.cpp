// Typing the shift keys.
#include "keys.h"

#include <atomic>

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

}  // namespace

TapSent SendTaps(KeyOutput *out, const TapActions &asked, int64_t now)
{
    TapSent sent = {false, false, now, now + RETRY_US};
    if (asked.release && out->pressed) {
        sent.released = SendKey(*out->pressed, false);
        if (!sent.released)
            out->unreleased = out->pressed;
    }
    if (asked.press) {
        out->pressed = asked.press > 0 ? out->up : out->down;
        sent.pressed = SendKey(*out->pressed, true);
    }
    return sent;
}

bool SendHeldBack(KeyOutput *out)
{
    if (out->unreleased && SendKey(*out->unreleased, false))
        out->unreleased = nullptr;
    return !out->unreleased;
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
