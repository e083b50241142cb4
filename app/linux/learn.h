// --learn: asks for each gear in turn and prints the gate map the lever answers with.
#ifndef GEARVANE_LEARN_H
#define GEARVANE_LEARN_H

#include "options.h"

// Returns the exit status. With a config file in `settings`, also writes the map there.
int Learn(const Settings &settings);

// Sets the keys `learned` in the config file at `path`, keeping the rest of it. The new text
// is written beside it and renamed over it, so a failure leaves the old file whole. Returns
// false with the reason in *error.
bool WriteConfig(const std::string &path, const std::vector<std::pair<std::string, std::string>> &learned,
                 std::string *error);

#endif
