// The config file's mistakes at start.
#include "config_mistakes.h"

#include <ctype.h>
#include <shellapi.h>

#include "../../resources/tray_resource.h"
#include "config_watch.h"
#include "dpi.h"
#include "text.h"
#include "tray.h"
#include "view.h"

namespace {

struct Asking {
    TrayOptions *options;
    bool answered = false;
    ConfigAnswer answer = CONFIG_QUIT;
    int code = 0;
    Layout places;
};

Asking *A;

void Answer(ConfigAnswer answer, int code)
{
    A->answered = true;
    A->answer = answer;
    A->code = code;
}

void ShowMistakes(HWND window, const std::vector<std::string> &mistakes)
{
    std::wstring path = L"gearvane cannot use its config file, " + A->options->configPath + L":";
    SetDlgItemTextW(window, IDC_CONFIG_PATH, path.c_str());
    // The file is named above: a mistake of a line says only the line.
    std::string file = Utf8(A->options->configPath) + ":";
    std::wstring text;
    for (const std::string &m : mistakes) {
        bool line = m.compare(0, file.size(), file) == 0 && isdigit(static_cast<unsigned char>(m[file.size()]));
        text += (text.empty() ? L"" : L"\r\n") + Wide(line ? "Line " + m.substr(file.size()) : m);
    }
    SetDlgItemTextW(window, IDC_MISTAKES, text.c_str());
}

// Notepad is on every Windows, and a .conf file has no program of its own there.
void OpenFile(HWND window)
{
    std::wstring file = L"\"" + A->options->configPath + L"\"";
    ShellExecuteW(window, L"open", L"notepad.exe", file.c_str(), nullptr, SW_SHOWNORMAL);
}

INT_PTR CALLBACK Dialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        KeepLayout(&A->places, window);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OPEN_CONFIG:
            OpenFile(window);
            break;
        case IDC_USE_DEFAULTS:
            Answer(CONFIG_DEFAULTS, 0);
            break;
        case IDCANCEL:  // Quit, Escape, the close box
            Answer(CONFIG_QUIT, EXIT_USAGE);
            break;
        }
        return TRUE;
    case WM_CLOSE:  // from another program
    case WM_APP_QUIT:
        Answer(CONFIG_QUIT, 0);
        return TRUE;
    case WM_APP_SHOW:
        BringForward(window);
        return TRUE;
    case WM_DPICHANGED:
        ScaleLayout(&A->places, window, HIWORD(wParam), *reinterpret_cast<const RECT *>(lParam));
        return TRUE;
    }
    return FALSE;
}

// The file changed: taken if it has no mistakes now.
bool Mended(HWND window, TrayOptions *options, Settings *settings, std::vector<std::string> *mistakes,
            std::string *ignored)
{
    Settings fresh = *settings;
    std::vector<std::string> now;
    if (ReadTrayConfig(options, &fresh, &now, ignored)) {
        *settings = fresh;
        mistakes->clear();
        return true;
    }
    if (now != *mistakes) {
        *mistakes = now;
        ShowMistakes(window, now);
    }
    return false;
}

}  // namespace

ConfigAnswer AskAboutConfig(HINSTANCE instance, TrayOptions *options, Settings *settings,
                            std::vector<std::string> *mistakes, std::string *ignored, int *code)
{
    Asking asking;
    asking.options = options;
    A = &asking;
    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_CONFIG_MISTAKES), nullptr, Dialog, 0);
    if (!window) {
        *code = 1;
        return CONFIG_QUIT;
    }
    // A second start, or --quit, may come from a program that is not elevated.
    ChangeWindowMessageFilterEx(window, WM_APP_SHOW, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, WM_APP_QUIT, MSGFLT_ALLOW, nullptr);
    ShowMistakes(window, *mistakes);
    BringForward(window);
    ConfigWatch watch;
    WatchConfig(&watch, options->configPath, false);
    bool changed = false;
    DWORD due = 0;  // when to look at a changed file again
    while (!asking.answered) {
        HANDLE folder = watch.folder.h;
        DWORD wait = INFINITE;
        if (changed) {
            int left = static_cast<int>(due - GetTickCount());
            wait = left > 0 ? static_cast<DWORD>(left) : 0;
        }
        DWORD woke = MsgWaitForMultipleObjectsEx(folder ? 1 : 0, &folder, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        DWORD error;
        if (woke == WAIT_OBJECT_0 && folder && FolderChanged(&watch, &error) == WATCH_CHANGED) {
            changed = true;
            due = GetTickCount() + CONFIG_QUIET_MS;
        } else if (woke == WAIT_TIMEOUT && ConfigQuiet(&watch)) {
            changed = false;
            if (Mended(window, options, settings, mistakes, ignored))
                Answer(CONFIG_MENDED, 0);
        } else if (woke == WAIT_TIMEOUT) {
            due = GetTickCount() + CONFIG_QUIET_MS;
        }
        MSG msg;
        while (!asking.answered && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                Answer(CONFIG_QUIT, static_cast<int>(msg.wParam));
            else if (!IsDialogMessageW(window, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
    DestroyWindow(window);
    A = nullptr;
    *code = asking.code;
    return asking.answer;
}
