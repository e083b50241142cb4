// Lines on standard error, each in one write: a line that a full pipe or a stalled log
// reader cannot take is lost whole, never cut or left without its newline.
#ifndef GEARVANE_SAY_H
#define GEARVANE_SAY_H

// An error or a warning, always shown: "gearvane: " and the text, then a newline.
void PrintError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// `text` and a newline. Text beyond 1 KiB is cut.
void PrintLine(const char *text);

#endif
