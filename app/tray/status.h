// Status lines: the last ones for the window's pane, and each one appended to --log FILE.
#ifndef GEARVANE_TRAY_STATUS_H
#define GEARVANE_TRAY_STATUS_H

#include <string>

#include "handles.h"

enum { STATUS_LINES = 40 };

struct StatusLog {
    Handle file;  // --log FILE, or none
    bool quiet = false;  // only failures go to the file
    std::string lines[STATUS_LINES];  // a ring, UTF-8
    int next = 0, count = 0;
};

// Opens `path` for appending. Returns false with the reason in *error.
bool OpenStatusLog(StatusLog *log, const std::wstring &path, std::string *error);

// Adds a line (UTF-8, no line end): to the ring, and to the file unless it is only a note
// and the log is quiet. The file gets it at once, so that a reader sees every line.
void AddStatusLine(StatusLog *log, const std::string &line, bool failure);

// The lines of the ring, oldest first, CRLF apart, for an edit control.
std::wstring StatusText(const StatusLog &log);

#endif
