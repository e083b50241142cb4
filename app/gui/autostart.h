// The window at log-in: an XDG autostart entry in $XDG_CONFIG_HOME/autostart.
#ifndef GEARVANE_GUI_AUTOSTART_H
#define GEARVANE_GUI_AUTOSTART_H

#include <QString>

// Whether the entry is there and not turned off (Hidden=true, or GNOME's own switch).
bool AutostartOn();

// Writes the entry, which starts this program hidden in the tray, or removes it. Returns
// false with the reason in *error.
bool SetAutostart(bool on, QString *error);

#endif
