// What the program asks of its process: standard descriptors that are always open, gone
// pipes that are errors rather than deaths, standard error that never blocks the daemon, and
// the signals it takes as events rather than as interruptions.
#ifndef GEARVANE_PROCESS_H
#define GEARVANE_PROCESS_H

#include "fd.h"

// Opens /dev/null on each of standard input, output and error that is closed, so that no
// descriptor made later (a signalfd, the lever) is taken for one of them, and ignores
// SIGPIPE: a write to a gone pipe or socket fails with EPIPE. Call it before anything else.
void SetUpStandardStreams();

// A status line must never hold a key down or keep a signal out: standard error that stops
// draining (a paused terminal, a pager, a stalled log reader) loses lines instead. A pipe or
// a terminal is opened anew for this, so the shell's own stays blocking; a socket (systemd's
// journal) is written without waiting by PrintLine; a file is left be.
void NeverWaitOnStderr();

// The signals that the daemon takes as events, blocked and read from a signalfd, so that
// they come in turn with the loop's other events.
class Signals {
public:
    enum Meaning {
        NONE,      // no signal is waiting
        END,       // SIGINT, SIGTERM, or SIGHUP when the terminal hung up
        RELOAD,    // SIGUSR1, or SIGHUP with no controlling terminal (a service, a daemon)
        STOP,      // SIGTSTP: let go of the keys, then call Stop
        CONTINUE,  // SIGCONT: the program was stopped, or may have been
    };

    // False, with errno set, when the signalfd cannot be made. SIGHUP ends the program when
    // it has a controlling terminal now (whose hangup sends it), and is left ignored when it
    // is ignored now (under nohup).
    bool Open();
    int Get() const { return fd.Get(); }  // readable: call Next
    Meaning Next();
    // Stops the process as SIGTSTP does, and returns once it is continued.
    static void Stop();

private:
    Fd fd;
    bool terminal = false;
};

#endif
