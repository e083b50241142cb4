// The settings on Windows: files by their UTF-16 paths, the registry for start-up.
#include "settings_file.h"

#include <windows.h>
#include <shlobj.h>

#include "../../config/scan_codes.h"
#include "gearvane_version.h"
#include "handles.h"
#include "text.h"

namespace {

const Program Tray = {
    "gearvane-tray",
    "Drive a game's sequential shift keys with an H-pattern gear lever.",
    "gearvane-tray " GEARVANE_VERSION,
    "%APPDATA%\\gearvane\\gearvane.conf",
    true,
};

const std::vector<OwnOption> TrayOptionList = {
    {"--minimized", nullptr, "Start in the notification area, without showing the window."},
    {"--quit", nullptr, "Make the gearvane-tray that runs let go of any key and end."},
    {"--log", "FILE", "Append the status lines to FILE as well."},
    {"--vjoy-device", "1..16",
     "With --output shifter, the vJoy device whose buttons 1 and 2 shift (default: the first free one with two "
     "buttons or more).",
     "vjoy-device"},
};

const wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t RunValue[] = L"gearvane";
const wchar_t OwnKey[] = L"Software\\gearvane";

// A new file starts with this line, so that Notepad users see what it is and the window's
// lines follow its CRLF.
const char NewFileHeader[] = "# gearvane's settings: the options without their dashes, as in max-gear = 5\r\n";

std::wstring DefaultConfigPath()
{
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return L"";
    return std::wstring(folder) + L"\\gearvane\\gearvane.conf";
}

enum FileRead { FILE_READ, FILE_MISSING, FILE_BAD };

// Reads a config file, refusing anything that is not a small regular file.
FileRead ReadConfigFile(const std::wstring &path, std::string *text, std::string *error)
{
    std::string name = Utf8(path);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return FILE_MISSING;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = name + ": is a folder, not a config file";
        return FILE_BAD;
    }
    Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.h) {
        *error = name + ": cannot be read (error " + std::to_string(GetLastError()) + ")";
        return FILE_BAD;
    }
    LARGE_INTEGER size;
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileSizeEx(file.h, &size)) {
        *error = name + ": is not a regular file";
        return FILE_BAD;
    }
    if (size.QuadPart > CONFIG_MAX_BYTES) {
        *error = name + ": is larger than 64 KiB; it cannot be a config file";
        return FILE_BAD;
    }
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!content.empty() && !ReadFile(file.h, &content[0], static_cast<DWORD>(content.size()), &got, nullptr)) {
        *error = name + ": cannot be read (error " + std::to_string(GetLastError()) + ")";
        return FILE_BAD;
    }
    content.resize(got);
    *text = content;
    return FILE_READ;
}

// Joins the file's text with the command line into *settings; false with every mistake.
bool Join(const TrayOptions &o, const std::string &text, Settings *settings, std::vector<std::string> *mistakes,
          std::string *ignored)
{
    std::string name = Utf8(o.configPath), error;
    *mistakes = ConfigMistakes(text, name, o.line.settings, TrayKeyCode);
    if (!mistakes->empty())
        return false;
    std::vector<SettingValue> values;
    Settings s;
    if (!ReadConfigText(text, name, &values, &error) || !JoinSettings(o.line.settings, values, TrayKeyCode, &s, &error)) {
        mistakes->push_back(error);
        return false;
    }
    ignored->clear();
    for (const SettingValue &v : values)
        if (v.key == "grab")
            *ignored += v.where + " is ignored: only gearvane for Linux grabs a lever\n";
    s.grab = false;
    s.config = name;
    *settings = s;
    return true;
}

bool CreateFolders(const std::wstring &path)
{
    for (size_t slash = path.find_first_of(L"\\/", 3); slash != std::wstring::npos;
         slash = path.find_first_of(L"\\/", slash + 1))
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return true;
    DWORD attributes = GetFileAttributesW(path.substr(0, last).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FullPath(const std::wstring &path)
{
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? full : path;
}

// The command line that starts this gearvane-tray as it runs now: the settings that the
// window has not changed since, the config file and the log.
std::wstring RunCommand(const TrayOptions &o)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = Argument(exe) + L" --minimized";
    if (o.configGiven)
        command += L" --config " + Argument(FullPath(o.configPath));
    if (!o.logPath.empty())
        command += L" --log " + Argument(FullPath(o.logPath));
    for (const SettingValue &v : o.line.settings)
        command += L" " + Argument(Wide(v.where + "=" + v.value));
    return command;
}

// Writes `text` to a file of its own in the folder of `path`, made anew (no file that is there
// already is ever written to), flushed to the disk. Returns its name, or "" with *error.
std::wstring WriteNewFile(const std::wstring &path, const std::string &text, std::string *error)
{
    for (int attempt = 0; attempt < 100; attempt++) {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        std::wstring name = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(static_cast<unsigned long long>(t.QuadPart)) + L".tmp";
        Handle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.h && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        DWORD written = 0;
        // Flushed before the rename: a rename can reach the disk before the data it names.
        if (file.h && WriteFile(file.h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size() && FlushFileBuffers(file.h))
            return name;
        *error = "cannot write " + Utf8(name) + " (error " + std::to_string(GetLastError()) + ")";
        if (file.h) {
            file.Reset();
            DeleteFileW(name.c_str());
        }
        return L"";
    }
    *error = "cannot make a new file beside " + Utf8(path);
    return L"";
}

}  // namespace

int TrayKeyCode(const std::string &name)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    const KeyScan *key = FindKeyScan(name.c_str());
    return key ? static_cast<int>(key - keys) : -1;
}

bool ReadTrayConfig(TrayOptions *options, Settings *settings, std::vector<std::string> *mistakes,
                    std::string *ignored)
{
    TrayOptions &o = *options;
    std::string error;
    o.configText.clear();
    FileRead read = o.configPath.empty() ? FILE_MISSING : ReadConfigFile(o.configPath, &o.configText, &error);
    if (read == FILE_MISSING && o.configGiven)
        error = Utf8(o.configPath) + ": no such file";
    if (!error.empty()) {
        *mistakes = {error};
        return false;
    }
    return Join(o, o.configText, settings, mistakes, ignored);
}

int LoadTraySettings(const std::vector<std::string> &args, TrayOptions *options, Settings *settings, std::string *out,
                     std::string *error, std::vector<std::string> *mistakes, std::string *ignored)
{
    TrayOptions &o = *options;
    int status = ParseCommandLine(args, Tray, TrayOptionList, &o.line, out, error);
    if (status >= 0)
        return status;
    o.minimized = Given(o.line, "--minimized");
    o.quit = Given(o.line, "--quit");
    // --quit only speaks to the running one: a broken config file must not stop it.
    if (o.quit)
        return -1;
    o.logPath = Wide(GivenValue(o.line, "--log"));
    if (Given(o.line, "--log") && o.logPath.empty()) {
        *error = "--log: give a file to append the status lines to";
        return EXIT_USAGE;
    }
    // The command line's own mistakes are usage errors; the file's are the user's to mend.
    Settings s;
    if (!JoinSettings(o.line.settings, {}, TrayKeyCode, &s, error))
        return EXIT_USAGE;
    s.grab = false;
    o.configGiven = Given(o.line, "--config");
    o.configPath = o.configGiven ? Wide(GivenValue(o.line, "--config")) : DefaultConfigPath();
    s.config = Utf8(o.configPath);
    *settings = s;
    mistakes->clear();
    ReadTrayConfig(options, settings, mistakes, ignored);
    return -1;
}

Reload ReloadTraySettings(TrayOptions *options, Settings *settings, std::vector<std::string> *mistakes,
                          std::string *ignored)
{
    std::string text, error;
    FileRead read = ReadConfigFile(options->configPath, &text, &error);
    if (read == FILE_BAD) {
        *mistakes = {error};
        return RELOAD_BAD;
    }
    if (read == FILE_MISSING)
        return RELOAD_GONE;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return RELOAD_EMPTY;
    if (text == options->configText)
        return RELOAD_SAME;
    options->configText = text;
    return Join(*options, text, settings, mistakes, ignored) ? RELOAD_NEW : RELOAD_BAD;
}

bool SaveTraySettings(TrayOptions *options, const std::vector<std::pair<std::string, std::string>> &set,
                      std::string *error)
{
    const std::wstring &path = options->configPath;
    if (path.empty()) {
        *error = "there is no folder for the settings (%APPDATA% is not set)";
        return false;
    }
    std::string text;
    FileRead read = ReadConfigFile(path, &text, error);
    if (read == FILE_BAD)
        return false;
    if (read == FILE_MISSING)
        text = NewFileHeader;
    std::string rewritten = RewriteConfig(text, set);
    std::string name = Utf8(path);
    if (!CreateFolders(path)) {
        *error = "cannot create the folder of " + name;
        return false;
    }
    // A whole new file of its own, then a rename: a crash never leaves half a file, and a
    // second writer or a file planted under the new file's name cannot mix into it.
    std::wstring temporary = WriteNewFile(path, rewritten, error);
    if (temporary.empty())
        return false;
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = "cannot replace " + name + " (error " + std::to_string(GetLastError()) + ")";
        DeleteFileW(temporary.c_str());
        return false;
    }
    options->configText = rewritten;
    return true;
}

bool LoadLeverInstance(const std::wstring &name, InstanceId *instance)
{
    wchar_t saved[MAX_PATH] = L"";
    DWORD size = sizeof saved, bytes = sizeof instance->bytes;
    return !name.empty() &&
           RegGetValueW(HKEY_CURRENT_USER, OwnKey, L"LeverName", RRF_RT_REG_SZ, nullptr, saved, &size) ==
               ERROR_SUCCESS &&
           CompareStringOrdinal(saved, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL &&
           RegGetValueW(HKEY_CURRENT_USER, OwnKey, L"LeverInstance", RRF_RT_REG_BINARY, nullptr, instance->bytes,
                        &bytes) == ERROR_SUCCESS &&
           bytes == sizeof instance->bytes;
}

void SaveLeverInstance(const std::wstring &name, const InstanceId &instance)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, OwnKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"LeverName", 0, REG_SZ, reinterpret_cast<const BYTE *>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"LeverInstance", 0, REG_BINARY, instance.bytes, sizeof instance.bytes);
    RegCloseKey(key);
}

bool StartsWithWindows()
{
    DWORD size = 0;
    return RegGetValueW(HKEY_CURRENT_USER, RunKey, RunValue, RRF_RT_REG_SZ, nullptr, nullptr, &size) == ERROR_SUCCESS;
}

bool SetStartWithWindows(bool on, const TrayOptions &options, std::string *error)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        *error = "cannot open HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
        return false;
    }
    LSTATUS rc;
    if (on) {
        std::wstring command = RunCommand(options);
        rc = RegSetValueExW(key, RunValue, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                            static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    } else {
        rc = RegDeleteValueW(key, RunValue);
        if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        *error = std::string("cannot ") + (on ? "add gearvane to" : "remove gearvane from") +
                 " the programs that start with Windows (error " + std::to_string(rc) + ")";
    return rc == ERROR_SUCCESS;
}
