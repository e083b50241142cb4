// Watching the config file for edits made outside the window. An editor may empty the file
// and write it again, or hold it open while it writes: the file is read only once it has
// been quiet for CONFIG_QUIET_MS and can be opened.
#ifndef GEARVANE_TRAY_CONFIG_WATCH_H
#define GEARVANE_TRAY_CONFIG_WATCH_H

#include <windows.h>

#include <string>

#include "handles.h"

enum { CONFIG_QUIET_MS = 200 };

// The file as seen from outside: missing, or its size and last write.
struct FileStamp {
    bool exists = false;
    ULONGLONG size = 0;
    FILETIME written = {};
};

struct ConfigWatch {
    FolderWatch folder;  // the file's folder: Windows watches folders, not files
    std::wstring path;
    FileStamp seen;      // the file at the last look
};

// Starts watching the folder of `path`, making the folder first when `make` is set, so that a
// file saved there later is seen. Returns false when it cannot be watched.
bool WatchConfig(ConfigWatch *watch, const std::wstring &path, bool make);

enum WatchNews {
    WATCH_NOTHING,  // the folder changed, the file did not
    WATCH_CHANGED,  // the file changed: look again in CONFIG_QUIET_MS
    WATCH_BROKEN,   // the watch cannot be renewed and was closed; `error` says why
};

// Called when the folder's handle is signalled: renews the watch and looks at the file.
WatchNews FolderChanged(ConfigWatch *watch, DWORD *error);

// Called CONFIG_QUIET_MS after a change: whether the file stayed as it was since the last
// look, and can be read now.
bool ConfigQuiet(ConfigWatch *watch);

#endif
