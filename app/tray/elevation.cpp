// Telling elevated processes.
#include "elevation.h"

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

}  // namespace

bool SelfElevated()
{
    return TokenElevated(GetCurrentProcess());
}

bool WindowElevated(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!pid || pid == GetCurrentProcessId())
        return false;
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return process.h && TokenElevated(process.h);
}
