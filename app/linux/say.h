// Messages on standard error.
#ifndef GEARVANE_SAY_H
#define GEARVANE_SAY_H

// An error or a warning, always shown: "gearvane: " and the text, then a newline.
void Fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
