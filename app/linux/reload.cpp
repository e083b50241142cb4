// Settings read again, or saved and read again, while the daemon runs.
#include "reload.h"

#include <errno.h>

#include "../../config/config_file.h"
#include "say.h"
#include "shifter.h"

TapTiming TimingOf(const Settings &s)
{
    return TimingOf(s, 1000);
}

ShiftKeys KeysOf(const Settings &s)
{
    return s.output == OUTPUT_SHIFTER ? ShifterButtons : ShiftKeys{s.upCode, s.downCode, s.upKey, s.downKey};
}

bool ReadSettingsAgain(const std::vector<std::string> &args, const Settings &running, Settings *fresh,
                       std::string *error)
{
    Settings read;
    std::string out;
    if (LoadSettings(args, &read, error, &out) >= 0)
        return false;
    if (read.output != running.output)
        PrintError("the output stays %s until gearvane starts again",
                   running.output == OUTPUT_SHIFTER ? "shifter" : "keyboard");
    read.output = running.output;
    read.mode = running.mode;
    read.device = running.device;
    read.grab = running.grab;
    *fresh = read;
    return true;
}

namespace {

// "FILE:LINE: KEY: why" as "KEY: why" when KEY is one of those set: the mistake is in the
// value given, not in the file.
std::string Unplaced(const std::string &error, const std::string &path,
                     const std::vector<std::pair<std::string, std::string>> &set)
{
    if (error.compare(0, path.size() + 1, path + ":") != 0)
        return error;
    size_t key = error.find(": ", path.size() + 1);
    if (key == std::string::npos)
        return error;
    std::string rest = error.substr(key + 2);
    for (const auto &kv : set)
        if (rest.compare(0, kv.first.size() + 1, kv.first + ":") == 0)
            return rest;
    return error;
}

}  // namespace

bool SaveSettings(const std::vector<std::string> &args, const std::string &path,
                  const std::vector<std::pair<std::string, std::string>> &set, const Settings &running,
                  Settings *fresh, bool *changed, std::string *error)
{
    *changed = false;
    if (path.empty()) {
        *error = "there is no config file to save to: HOME is not set";
        return false;
    }
    std::string text;
    int rc = ReadConfigFile(path, &text, error);
    if (rc != 0 && rc != ENOENT)
        return false;
    std::string rewritten = RewriteConfig(text, set);
    if (rewritten == text)
        return true;
    Settings checked;
    std::string out;
    if (LoadSettings(args, &checked, error, &out, &rewritten) >= 0) {
        *error = Unplaced(*error, path, set);
        return false;
    }
    if (!SaveLearned(path, set, KeyboardKeyCode, error))
        return false;
    Settings read;
    if (!ReadSettingsAgain(args, running, &read, error))
        return false;
    read.device = checked.device;
    read.grab = checked.grab;
    *fresh = read;
    *changed = true;
    return true;
}
