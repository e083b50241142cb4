// gearvane-tray.exe: the command line, one per user, and the one loop. The loop sleeps in
// MsgWaitForMultipleObjectsEx until the lever's event, the tap timer, the config folder or
// a window message wakes it.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "../../resources/tray_resource.h"
#include "keys.h"
#include "text.h"
#include "tray.h"
#include "window.h"

namespace {

const wchar_t Caption[] = L"gearvane";
const wchar_t MutexName[] = L"Local\\gearvane-tray";

int Message(std::string text, UINT icon, int status)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    MessageBoxW(nullptr, Wide(text).c_str(), Caption, MB_OK | icon);
    return status;
}

// --help is laid out in columns for a console; a message box has no fixed-width font, so
// each option's text goes on a line of its own under the option.
std::string HelpForBox(const std::string &help)
{
    std::string out;
    size_t start = 0;
    while (start < help.size()) {
        size_t end = help.find('\n', start);
        std::string line = help.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? help.size() : end + 1;
        size_t option = line.find_first_not_of(' ');
        size_t gap = option != std::string::npos && line[option] == '-' ? line.find("  ", option) : std::string::npos;
        size_t text = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
        if (text == std::string::npos)
            out += line + "\n";
        else
            out += line.substr(option, gap - option) + "\n        " + line.substr(text) + "\n";
    }
    return out;
}

std::vector<std::string> Arguments()
{
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; argv && i < count; i++)
        args.push_back(Utf8(argv[i]));
    LocalFree(argv);
    return args;
}

// --quit: the running one lets go of any key and ends; this one waits for it to be gone.
int QuitRunning()
{
    HWND window = FindWindowW(WindowClass, nullptr);
    if (!window)
        return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    Handle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    PostMessageW(window, WM_APP_QUIT, 0, 0);
    if (process.h)
        WaitForSingleObject(process.h, 10000);
    return 0;
}

// A second start brings the first one's window forward. The first may still be making it.
int ShowRunning()
{
    HWND window = nullptr;
    for (int i = 0; i < 50 && !(window = FindWindowW(WindowClass, nullptr)); i++)
        Sleep(100);
    if (window) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        AllowSetForegroundWindow(pid);
        PostMessageW(window, WM_APP_SHOW, 0, 0);
    }
    return 0;
}

int Run()
{
    for (;;) {
        HANDLE handles[3];
        DWORD count = 0, lever = MAXDWORD, watch = MAXDWORD;
        if (App.leverOpen) {
            lever = count;
            handles[count++] = App.lever.event.h;
        }
        DWORD timer = count;
        handles[count++] = App.timer.timer.h;
        if (App.configWatch.h) {
            watch = count;
            handles[count++] = App.configWatch.h;
        }
        DWORD woke = MsgWaitForMultipleObjectsEx(count, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_FAILED) {
            DWORD error = GetLastError();
            // No key stays down behind the box; its quit message would close the box at once.
            QuitTray(1);
            MSG quit;
            PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
            return Message("gearvane-tray stopped: waiting for events failed (error " + std::to_string(error) + ")",
                           MB_ICONERROR, 1);
        }
        if (woke == WAIT_OBJECT_0 + lever)
            OnLeverEvent();
        else if (woke == WAIT_OBJECT_0 + timer)
            OnTapTimer();
        else if (woke == WAIT_OBJECT_0 + watch)
            OnConfigChanged();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return static_cast<int>(msg.wParam);
            if (OwnKeyMessage(msg))
                continue;
            if (!App.window || !IsDialogMessageW(App.window, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    std::string out, error, ignored;
    int status = LoadTraySettings(Arguments(), &App.options, &App.settings, &out, &error, &ignored);
    if (status == 0)
        return Message(HelpForBox(out), MB_ICONINFORMATION, 0);
    if (status > 0)
        return Message(error + "\n\nSee gearvane-tray --help.", MB_ICONERROR, status);
    if (App.options.quit)
        return QuitRunning();

    Handle mutex(CreateMutexW(nullptr, FALSE, MutexName));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return ShowRunning();

    App.log.quiet = App.settings.quiet;
    if (!App.options.logPath.empty() && !OpenStatusLog(&App.log, App.options.logPath, &error))
        return Message(error + "\n\nSee gearvane-tray --help.", MB_ICONERROR, EXIT_USAGE);
    std::wstring reason;
    if (!CreateDirectInput(instance, &App.input, &reason))
        return Message(Utf8(reason) + ".\n\nInstall or repair DirectX (the DirectX End-User Runtime from Microsoft), "
                                      "then start gearvane-tray again.",
                       MB_ICONERROR, 1);
    if (!CreateTapTimer(&App.timer))
        return Message("gearvane-tray cannot make a timer (error " + std::to_string(GetLastError()) +
                           "). Restart Windows, then start gearvane-tray again.",
                       MB_ICONERROR, 1);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    App.icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TRAY));
    App.window = CreateTrayWindow(instance, App.icon);
    if (!App.window)
        return Message("gearvane-tray cannot make its window (error " + std::to_string(GetLastError()) + ").",
                       MB_ICONERROR, 1);
    // A second start or --quit may come from a program that is not elevated.
    ChangeWindowMessageFilterEx(App.window, WM_APP_SHOW, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(App.window, WM_APP_QUIT, MSGFLT_ALLOW, nullptr);
    // Run as administrator, it must still hear that a restarted Explorer wants its icon again.
    ChangeWindowMessageFilterEx(App.window, RegisterWindowMessageW(L"TaskbarCreated"), MSGFLT_ALLOW, nullptr);
    StartTray(ignored);
    if (!App.options.minimized || !App.iconShown)
        BringForward(App.window);
    return Run();
}
