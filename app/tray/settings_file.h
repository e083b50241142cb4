// Where gearvane-tray keeps its settings: the command line joined with the config file
// (%APPDATA%\gearvane\gearvane.conf unless --config says otherwise), the window's changes
// written back to that file, and the "Start with Windows" entry in the registry.
#ifndef GEARVANE_TRAY_SETTINGS_FILE_H
#define GEARVANE_TRAY_SETTINGS_FILE_H

#include <string>
#include <utility>
#include <vector>

#include "../../config/command_line.h"
#include "../../config/settings.h"
#include "lever_choice.h"

struct TrayOptions {
    CommandLine line;
    std::wstring configPath;  // read if it exists; the window saves there
    bool configGiven = false;
    std::string configText;   // the file as last read or written
    bool minimized = false, quit = false;
    std::wstring logPath;     // empty: no log
};

// Reads the command line (without the program's name) and the config file into *options
// and *settings. Returns -1 to run; 0 after --help or --version, with the text in *out;
// EXIT_USAGE with the message in *error when the command line is at fault. A config file
// that cannot be used stops nothing: *mistakes names each of its mistakes, and *settings
// holds the defaults joined with the command line. Lines of the file that have no meaning
// here (grab) are named in *ignored, one per line.
int LoadTraySettings(const std::vector<std::string> &args, TrayOptions *options, Settings *settings, std::string *out,
                     std::string *error, std::vector<std::string> *mistakes, std::string *ignored);

// Reads the config file again, as at start, into *settings; false with every mistake.
bool ReadTrayConfig(TrayOptions *options, Settings *settings, std::vector<std::string> *mistakes,
                    std::string *ignored);

enum Reload {
    RELOAD_SAME,   // the text is the one last read or written
    RELOAD_NEW,    // *settings has the new text's settings
    RELOAD_GONE,   // there is no file
    RELOAD_EMPTY,  // the file holds nothing but blanks
    RELOAD_BAD,    // it cannot be read or used: *mistakes says why
};

// Reads the config file again after it changed on disk, joined with the command line as at
// start-up. A file that is gone or empty, as while an editor writes it, changes nothing.
Reload ReloadTraySettings(TrayOptions *options, Settings *settings, std::vector<std::string> *mistakes,
                          std::string *ignored);

// Sets `set` (key, value) in the config file, keeping its other lines, and creates the file
// and its folder when needed. Returns false with *error when it cannot be written.
bool SaveTraySettings(TrayOptions *options, const std::vector<std::pair<std::string, std::string>> &set,
                      std::string *error);

// The key names of the table, to the index that the shared settings keep as the key's code.
int TrayKeyCode(const std::string &name);

// The instance of the lever chosen in the window, kept in HKCU\Software\gearvane beside its
// name: an instance means something on this computer only, so the config file keeps just the
// name, as `device`. Load gives it only when `name` is the name it was saved with.
bool LoadLeverInstance(const std::wstring &name, InstanceId *instance);
void SaveLeverInstance(const std::wstring &name, const InstanceId &instance);

// "Start with Windows": HKCU\Software\Microsoft\Windows\CurrentVersion\Run, with the
// command line that starts gearvane-tray as it runs now: --minimized, --config and --log as
// given, and the setting options that the window has not changed since (TrayOptions::line).
bool StartsWithWindows();
bool SetStartWithWindows(bool on, const TrayOptions &options, std::string *error);

#endif
