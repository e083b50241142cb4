// gearvane-tray.exe: the command line, one per user, and the window's loop. The loop sleeps in
// MsgWaitForMultipleObjectsEx until a message, the config file's folder or a game controller
// on screen wakes it; the lever and the keys have a thread of their own (shifter.h).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "../../resources/tray_resource.h"
#include "config_mistakes.h"
#include "dialog.h"
#include "elevation.h"
#include "handles.h"
#include "keys.h"
#include "notify_icon.h"
#include "text.h"
#include "tray.h"
#include "view.h"
#include "vjoy.h"

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

// The running one's window. It may still be making it.
HWND RunningWindow()
{
    HWND window = nullptr;
    for (int i = 0; i < 50 && !(window = FindWindowW(WindowClass, nullptr)); i++)
        Sleep(100);
    return window;
}

// Makes the running one let go of any key and end, and waits for it to be gone. Returns
// false when it is still there.
bool QuitRunning(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    Handle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    PostMessageW(window, WM_APP_QUIT, 0, 0);
    return process.h && WaitForSingleObject(process.h, 10000) == WAIT_OBJECT_0;
}

// A second start brings the first one's window forward.
int ShowRunning()
{
    if (HWND window = RunningWindow()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        AllowSetForegroundWindow(pid);
        PostMessageW(window, WM_APP_SHOW, 0, 0);
    }
    return 0;
}

// Whether this start runs: one per user, elevated or not. A copy that runs elevated denies a
// plain start its mutex: that one runs. An elevated start takes over from a plain one, whose
// keys would not reach an elevated game.
bool FirstToRun(Handle *mutex)
{
    mutex->Reset(CreateUserMutex(MutexName));
    DWORD error = GetLastError();
    if (!mutex->h)
        return error != ERROR_ACCESS_DENIED;
    if (error != ERROR_ALREADY_EXISTS)
        return true;
    HWND running = SelfElevated() ? RunningWindow() : nullptr;
    return running && !WindowElevated(running) && QuitRunning(running);
}

LPTOP_LEVEL_EXCEPTION_FILTER RuntimeFilter;

// A crash must not leave the game with a key or a button held down; then the runtime's
// filter, if any.
LONG WINAPI Crashed(EXCEPTION_POINTERS *exception)
{
    ReleaseHeldKey();
    ReleaseVJoy();
    return RuntimeFilter ? RuntimeFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void Terminated()
{
    ReleaseHeldKey();
    ReleaseVJoy();
    abort();
}

int Run(HWND window)
{
    for (;;) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS - 1];
        int count = TrayHandles(handles, MAXIMUM_WAIT_OBJECTS - 1);
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
        if (woke < WAIT_OBJECT_0 + count)
            OnTrayHandle(static_cast<int>(woke - WAIT_OBJECT_0));
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return static_cast<int>(msg.wParam);
            if (OwnKeyMessage(msg) || TakeKey(msg))
                continue;
            if (!IsWindow(window) || !IsDialogMessageW(window, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RuntimeFilter = SetUnhandledExceptionFilter(Crashed);
    std::set_terminate(Terminated);
    TrayOptions options;
    Settings settings;
    std::string out, error, ignored;
    std::vector<std::string> mistakes;
    int status = LoadTraySettings(Arguments(), &options, &settings, &out, &error, &mistakes, &ignored);
    if (status == 0)
        return Message(HelpForBox(out), MB_ICONINFORMATION, 0);
    if (status > 0)
        return Message(error + "\n\nSee gearvane-tray --help.", MB_ICONERROR, status);
    if (options.quit) {
        HWND window = FindWindowW(WindowClass, nullptr);
        // A copy that is still there after the wait has not quit: that is no success.
        return window && QuitRunning(window) ? 0 : 1;
    }

    Handle mutex;
    if (!FirstToRun(&mutex))
        return ShowRunning();

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterTrayClass(instance))
        return Message("gearvane-tray cannot make its window (error " + std::to_string(GetLastError()) + ").",
                       MB_ICONERROR, 1);
    // A config file with mistakes asks the user, who may mend it or go on without it.
    if (!mistakes.empty()) {
        int code;
        ConfigAnswer answer = AskAboutConfig(instance, &options, &settings, &mistakes, &ignored, &code);
        if (answer == CONFIG_QUIT)
            return code;
        options.minimized = false;  // the user is at the screen
    }
    HWND window = CreateTrayWindow(instance);
    if (!window)
        return Message("gearvane-tray cannot make its window (error " + std::to_string(GetLastError()) + ").",
                       MB_ICONERROR, 1);
    // A second start or --quit may come from a program that is not elevated.
    ChangeWindowMessageFilterEx(window, WM_APP_SHOW, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, WM_APP_QUIT, MSGFLT_ALLOW, nullptr);
    // Run as administrator, it must still hear that a restarted Explorer wants its icon again.
    ChangeWindowMessageFilterEx(window, RegisterWindowMessageW(L"TaskbarCreated"), MSGFLT_ALLOW, nullptr);
    status = StartTray(instance, window, LoadNotifyIcon(instance, IDI_TRAY), options, settings, mistakes, ignored,
                       &error);
    if (status)
        return Message(error + (status == EXIT_USAGE ? "\n\nSee gearvane-tray --help." : ""), MB_ICONERROR, status);
    if (ShowAtStart())
        BringForward(window);
    return Run(window);
}
