// The one call through which the daemon sends keys, whatever they go to.
#include "key_output.h"

#include "fd.h"

TapSent KeyOutput::Send(const TapActions &actions, int64_t now)
{
    TapSent sent = {};
    sent.released = actions.release && Release(now);
    sent.pressed = error.empty() && actions.press && Press(actions.press, now);
    sent.at = Now();
    sent.retry = ReadyAt();
    return sent;
}
