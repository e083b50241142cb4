// The window that a config file with mistakes brings at start, in place of an error box and
// an exit: at log-on that would mean no shifting until the next one. It lists every mistake
// and offers to open the file or to go on with the defaults this time; a file saved without
// mistakes meanwhile is taken at once.
#ifndef GEARVANE_TRAY_CONFIG_MISTAKES_H
#define GEARVANE_TRAY_CONFIG_MISTAKES_H

#include <windows.h>

#include <string>
#include <vector>

#include "../../config/settings.h"
#include "settings_file.h"

enum ConfigAnswer {
    CONFIG_MENDED,    // the file was saved without mistakes: *settings holds its settings
    CONFIG_DEFAULTS,  // "Use defaults this time": *settings holds the defaults; the file is untouched
    CONFIG_QUIT,      // closed, or told to quit: the program ends with *code
};

// Shows the window for `*mistakes` (kept up to date as the file changes) and waits for the
// user, for a mended file, or for gearvane-tray --quit or another start.
ConfigAnswer AskAboutConfig(HINSTANCE instance, TrayOptions *options, Settings *settings,
                            std::vector<std::string> *mistakes, std::string *ignored, int *code);

#endif
