// --learn: asks for each gear in turn and prints the gate map the lever answers with.
#ifndef GEARVANE_LEARN_H
#define GEARVANE_LEARN_H

#include "options.h"

// Returns the exit status. With a config file in `settings`, also writes the map there.
int Learn(const Settings &settings);

#endif
