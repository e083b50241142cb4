// Status lines: the last ones for the window's pane, and each one appended to --log FILE with
// its time, the file kept under LOG_LIMIT bytes with one old file (FILE.old) beside it.
#ifndef GEARVANE_TRAY_STATUS_H
#define GEARVANE_TRAY_STATUS_H

#include <stdint.h>

#include <string>

#include "handles.h"

enum { STATUS_LINES = 40, LOG_LIMIT = 1024 * 1024 };

struct StatusLog {
    Handle file;  // --log FILE, or none
    std::wstring path;
    int64_t size = 0;            // of the file, as written to
    int64_t limit = LOG_LIMIT;   // a line that would take it past this starts a new file
    bool quiet = false;  // only failures go to the file
    std::string lines[STATUS_LINES];  // a ring, UTF-8
    int next = 0, count = 0;
};

// Opens `path` for appending. Returns false with the reason in *error.
bool OpenStatusLog(StatusLog *log, const std::wstring &path, std::string *error);

// Adds a line (UTF-8, no line end): to the ring, and to the file unless it is only a note
// and the log is quiet. The file gets it at once, so that a reader sees every line. When the
// file would grow past its limit, it becomes FILE.old (replacing the one there) and a new
// file is started; if it cannot be renamed, it is started afresh.
void AddStatusLine(StatusLog *log, const std::string &line, bool failure);

// The lines of the ring, oldest first, CRLF apart, for an edit control.
std::wstring StatusText(const StatusLog &log);

#endif
