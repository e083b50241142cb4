// The loop of gearvane for Linux: one epoll loop over the lever (or, with --simulate,
// standard input), the tap timer and the signals. At rest it sleeps.
#ifndef GEARVANE_DAEMON_H
#define GEARVANE_DAEMON_H

#include <string>
#include <vector>

#include "options.h"

// Runs until SIGINT or SIGTERM, or with --simulate until its input has ended and the last
// change has gone out. `args`, the command line, is read again on SIGHUP. Returns the exit
// status.
int RunDaemon(const std::vector<std::string> &args, const Settings &settings);

#endif
