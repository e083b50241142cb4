// The rule that picks the lever among the game controllers.
#include "lever_choice.h"

#include <wctype.h>

bool NameHolds(const std::wstring &name, const std::wstring &part)
{
    std::wstring n = name, p = part;
    for (wchar_t &c : n)
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    for (wchar_t &c : p)
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    return n.find(p) != std::wstring::npos;
}

int ChooseLever(const std::vector<Controller> &attached, const LeverWanted &wanted)
{
    int count = static_cast<int>(attached.size());
    if (!wanted.name.empty()) {
        int first = CHOICE_NONE;
        for (int i = 0; i < count; i++) {
            if (!NameHolds(attached[i].name, wanted.name))
                continue;
            if (wanted.known && attached[i].instance == wanted.instance)
                return i;
            if (first == CHOICE_NONE)
                first = i;
        }
        return first;
    }
    int found = CHOICE_NONE;
    for (int i = 0; i < count; i++)
        if (attached[i].inputs) {
            if (found != CHOICE_NONE)
                return CHOICE_ASK;
            found = i;
        }
    return found;
}
