// The part of sending shifts that every output shares.
#include "output.h"

TapSent ShiftOutput::Send(const TapActions &asked, int64_t now)
{
    TapSent sent = {false, false, now, now + RETRY_US};
    if (asked.release && down) {
        sent.released = Release(down);
        if (!sent.released)
            unreleased = down;
        down = 0;
    }
    if (asked.press) {
        down = Press(asked.press);
        sent.pressed = down != 0;
    }
    return sent;
}

bool ShiftOutput::SendHeldBack()
{
    if (unreleased && Release(unreleased))
        unreleased = 0;
    return !unreleased;
}
