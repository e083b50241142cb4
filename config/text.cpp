// Trimming, case folding and control characters of ASCII text.
#include "text.h"

std::string_view Trim(std::string_view text, std::string_view blanks)
{
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return text.substr(text.size());
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

bool HasControl(std::string_view text)
{
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            return true;
    return false;
}
