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

// Joins the file's text with the command line into *settings.
bool Join(const TrayOptions &o, const std::string &text, Settings *settings, std::string *error, std::string *ignored)
{
    std::vector<SettingValue> values;
    if (!ReadConfigText(text, Utf8(o.configPath), &values, error))
        return false;
    Settings s;
    if (!JoinSettings(o.line.settings, values, TrayKeyCode, &s, error))
        return false;
    ignored->clear();
    for (const SettingValue &v : values)
        if (v.key == "grab")
            *ignored += v.where + " is ignored: only gearvane for Linux grabs a lever\n";
    s.grab = false;
    s.config = Utf8(o.configPath);
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

std::wstring RunCommand(const TrayOptions &o)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --minimized";
    if (o.configGiven) {
        wchar_t full[MAX_PATH];
        if (GetFullPathNameW(o.configPath.c_str(), MAX_PATH, full, nullptr))
            command += L" --config \"" + std::wstring(full) + L"\"";
    }
    return command;
}

}  // namespace

int TrayKeyCode(const std::string &name)
{
    int count;
    const KeyScan *keys = KeyScans(&count);
    const KeyScan *key = FindKeyScan(name.c_str());
    return key ? static_cast<int>(key - keys) : -1;
}

int LoadTraySettings(const std::vector<std::string> &args, TrayOptions *options, Settings *settings, std::string *out,
                     std::string *error, std::string *ignored)
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
    o.configGiven = Given(o.line, "--config");
    o.configPath = o.configGiven ? Wide(GivenValue(o.line, "--config")) : DefaultConfigPath();
    o.configText.clear();
    FileRead read = o.configPath.empty() ? FILE_MISSING : ReadConfigFile(o.configPath, &o.configText, error);
    if (read == FILE_BAD) {
        if (o.configGiven)
            *error = "--config: " + *error;
        return EXIT_USAGE;
    }
    if (read == FILE_MISSING && o.configGiven) {
        *error = "--config: " + Utf8(o.configPath) + ": no such file";
        return EXIT_USAGE;
    }
    return Join(o, o.configText, settings, error, ignored) ? -1 : EXIT_USAGE;
}

Reload ReloadTraySettings(TrayOptions *options, Settings *settings, std::string *error, std::string *ignored)
{
    std::string text;
    FileRead read = ReadConfigFile(options->configPath, &text, error);
    if (read == FILE_BAD)
        return RELOAD_BAD;
    if (read == FILE_MISSING)
        return RELOAD_GONE;
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return RELOAD_EMPTY;
    if (text == options->configText)
        return RELOAD_SAME;
    options->configText = text;
    return Join(*options, text, settings, error, ignored) ? RELOAD_NEW : RELOAD_BAD;
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
    // A whole new file, then a rename: a crash never leaves half a file.
    std::wstring temporary = path + L".new";
    {
        Handle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
        DWORD written = 0;
        // Flushed before the rename: a rename can reach the disk before the data it names.
        if (!file.h || !WriteFile(file.h, rewritten.data(), static_cast<DWORD>(rewritten.size()), &written, nullptr) ||
            written != rewritten.size() || !FlushFileBuffers(file.h)) {
            *error = "cannot write " + Utf8(temporary) + " (error " + std::to_string(GetLastError()) + ")";
            if (file.h) {
                file.Reset();
                DeleteFileW(temporary.c_str());
            }
            return false;
        }
    }
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
