// What the daemon asks of its process before the loop starts: standard error that never
// blocks it, and the signals it takes as events rather than as interruptions.
#ifndef GEARVANE_PROCESS_H
#define GEARVANE_PROCESS_H

#include "fd.h"

// A status line must never hold a key down or keep a signal out: standard error that stops
// draining (a paused terminal, a pager, a stalled log reader) loses lines instead. A pipe or
// a terminal is opened anew for this, so the shell's own stays blocking; a file is left be.
void NeverWaitOnStderr();

// SIGINT, SIGTERM and SIGHUP, blocked and read from a signalfd, so that they come in turn
// with the loop's other events.
class Signals {
public:
    // False, with errno set, when the signalfd cannot be made.
    bool Open();
    int Get() const { return fd.Get(); }  // readable: call Next
    // The next signal that came, or 0 when none is waiting.
    int Next();

private:
    Fd fd;
};

#endif
