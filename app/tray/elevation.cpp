// Telling elevated processes, and a mutex that they share with the others.
#include "elevation.h"

#include <sddl.h>

#include "handles.h"

namespace {

bool TokenElevated(HANDLE process)
{
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    Handle owned(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

HANDLE OpenWindowProcess(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!pid || pid == GetCurrentProcessId())
        return nullptr;
    return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
}

// This user's SID as text, or "" when it cannot be had.
std::wstring UserSid()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"";
    Handle owned(token);
    union {
        TOKEN_USER user;
        BYTE space[256];
    } info;
    DWORD size;
    wchar_t *text = nullptr;
    if (!GetTokenInformation(token, TokenUser, &info, sizeof info, &size) ||
        !ConvertSidToStringSidW(info.user.User.Sid, &text))
        return L"";
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

}  // namespace

bool SelfElevated()
{
    return TokenElevated(GetCurrentProcess());
}

bool WindowElevated(HWND window)
{
    Handle process(OpenWindowProcess(window));
    return process.h && TokenElevated(process.h);
}

bool CoversMonitor(HWND window)
{
    RECT r;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowRect(window, &r) || !GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor))
        return false;
    const RECT &m = monitor.rcMonitor;
    return r.left <= m.left && r.top <= m.top && r.right >= m.right && r.bottom >= m.bottom;
}

std::wstring WindowProgram(HWND window)
{
    Handle process(OpenWindowProcess(window));
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (!process.h || !QueryFullProcessImageNameW(process.h, 0, path, &size))
        return L"";
    return path;
}

HANDLE CreateUserMutex(const wchar_t *name)
{
    // Full access for this user and the system, and a medium label, so that an elevated copy
    // and a plain one both open what the other made.
    std::wstring sddl = L"D:(A;;GA;;;" + UserSid() + L")(A;;GA;;;SY)S:(ML;;NW;;;ME)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (sddl.find(L";;;)") == std::wstring::npos &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return mutex;
}
