// UTF-8, as the shared settings and the log have it, to and from Windows' UTF-16; and
// arguments of a command line.
#ifndef GEARVANE_TRAY_TEXT_H
#define GEARVANE_TRAY_TEXT_H

#include <string>

std::wstring Wide(const std::string &utf8);
std::string Utf8(const std::wstring &wide);

// `arg` in quotes, as CommandLineToArgvW (and the C runtime) read it back whole.
std::wstring Argument(const std::wstring &arg);

#endif
