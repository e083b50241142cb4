// Small helpers for the plain ASCII text of settings, gate maps and device names.
#ifndef GEARVANE_CONFIG_TEXT_H
#define GEARVANE_CONFIG_TEXT_H

#include <string>
#include <string_view>

// `text` without the characters of `blanks` (by default spaces and tabs) at either end.
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");

// `text` with ASCII capitals made small; other bytes, UTF-8 included, stay as they are.
std::string Lower(std::string_view text);

// Whether `text` holds a control character other than a tab: no line of a config file may.
bool HasControl(std::string_view text);

#endif
