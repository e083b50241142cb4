// vJoy through its SDK's calls (vjoyinterface.h: all of them __cdecl, device ids 1 to 16).
#include "vjoy.h"

#include <atomic>
#include <string>

namespace {

// GetVJDStatus's answers.
enum VjdStat { VJD_STAT_OWN, VJD_STAT_FREE, VJD_STAT_BUSY, VJD_STAT_MISS, VJD_STAT_UNKN };

enum { DEVICES = 16, UP_BUTTON = 1, DOWN_BUTTON = 2 };

struct Calls {
    BOOL(__cdecl *vJoyEnabled)();
    VjdStat(__cdecl *GetVJDStatus)(UINT id);
    int(__cdecl *GetVJDButtonNumber)(UINT id);
    BOOL(__cdecl *AcquireVJD)(UINT id);
    BOOL(__cdecl *ResetVJD)(UINT id);
    BOOL(__cdecl *SetBtn)(BOOL down, UINT id, UCHAR button);
    void(__cdecl *RelinquishVJD)(UINT id);
};

// Loaded once and never freed: a crash may still need SetBtn.
Calls VJoy;
bool Loaded;

// The device acquired, 0 when none, for ReleaseVJoy on another thread.
std::atomic<UINT> Acquired;

// vJoy's installer (Inno Setup) records the folder of each build of vJoyInterface.dll under
// its uninstall key, as its release notes say since 2.0.5. A 64-bit vJoy writes the 64-bit
// view of the registry, which a 32-bit program must ask for.
const wchar_t UninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E31F76F-74C3-47F1-9550-E041EEDC5FBB}_is1";

std::wstring DllFolder()
{
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(0)}) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
            continue;
        wchar_t folder[MAX_PATH] = L"";
        DWORD type, size = sizeof folder - sizeof folder[0];
        LONG read = RegQueryValueExW(key, L"DllX86Location", nullptr, &type, reinterpret_cast<BYTE *>(folder), &size);
        RegCloseKey(key);
        if (read == ERROR_SUCCESS && type == REG_SZ && folder[0])
            return folder;
    }
    return L"";
}

template <typename Call> bool Find(HMODULE dll, const char *name, Call *call)
{
    FARPROC found = GetProcAddress(dll, name);
    *call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(found));
    return found != nullptr;
}

bool Load(VJoyNews *news)
{
    if (Loaded)
        return true;
    std::wstring folder = DllFolder();
    if (folder.empty()) {
        news->state = VJOY_MISSING;
        return false;
    }
    // Its own folder first for what it needs, such as the C runtime that vJoy ships.
    std::wstring path = folder + (folder.back() == L'\\' ? L"" : L"\\") + L"vJoyInterface.dll";
    HMODULE dll = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dll) {
        news->error = GetLastError();
        news->state = news->error == ERROR_MOD_NOT_FOUND && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES
                          ? VJOY_MISSING
                          : VJOY_UNUSABLE;
        return false;
    }
    Calls c;
    if (!Find(dll, "vJoyEnabled", &c.vJoyEnabled) || !Find(dll, "GetVJDStatus", &c.GetVJDStatus) ||
        !Find(dll, "GetVJDButtonNumber", &c.GetVJDButtonNumber) || !Find(dll, "AcquireVJD", &c.AcquireVJD) ||
        !Find(dll, "ResetVJD", &c.ResetVJD) || !Find(dll, "SetBtn", &c.SetBtn) ||
        !Find(dll, "RelinquishVJD", &c.RelinquishVJD)) {
        news->state = VJOY_UNUSABLE;
        news->error = ERROR_PROC_NOT_FOUND;
        FreeLibrary(dll);
        return false;
    }
    VJoy = c;
    Loaded = true;
    return true;
}

// The device to take: `wanted`, or the first one with two buttons that no other program has.
// 0 when there is none, with *news saying why. AcquireVJD has the last word.
UINT Choose(int wanted, VJoyNews *news)
{
    if (wanted) {
        VjdStat status = VJoy.GetVJDStatus(wanted);
        int buttons = status == VJD_STAT_MISS ? 0 : VJoy.GetVJDButtonNumber(wanted);
        if (status == VJD_STAT_MISS)
            news->state = VJOY_NO_DEVICE;
        else if (buttons < 2)
            *news = {VJOY_FEW_BUTTONS, wanted, buttons < 0 ? 0 : buttons, 0};
        else if (status == VJD_STAT_BUSY)
            news->state = VJOY_TAKEN;
        else
            return wanted;
        return 0;
    }
    bool taken = false;
    for (UINT id = 1; id <= DEVICES; id++) {
        VjdStat status = VJoy.GetVJDStatus(id);
        if (status == VJD_STAT_MISS || VJoy.GetVJDButtonNumber(id) < 2)
            continue;
        if (status != VJD_STAT_BUSY)
            return id;
        taken = true;
    }
    news->state = taken ? VJOY_TAKEN : VJOY_NO_DEVICE;
    return 0;
}

void LetGo(UINT id)
{
    VJoy.SetBtn(FALSE, id, UP_BUTTON);
    VJoy.SetBtn(FALSE, id, DOWN_BUTTON);
    VJoy.RelinquishVJD(id);
}

}  // namespace

std::unique_ptr<VJoyShifter> VJoyShifter::Open(int wanted, VJoyNews *news)
{
    *news = {VJOY_MISSING, wanted, 0, 0};
    if (!Load(news))
        return nullptr;
    if (!VJoy.vJoyEnabled()) {
        news->state = VJOY_DISABLED;
        return nullptr;
    }
    UINT id = Choose(wanted, news);
    if (!id)
        return nullptr;
    if (!VJoy.AcquireVJD(id)) {
        // Another program may have taken it a moment ago.
        *news = {VJoy.GetVJDStatus(id) == VJD_STAT_BUSY ? VJOY_TAKEN : VJOY_REFUSED, static_cast<int>(id), 0, 0};
        return nullptr;
    }
    Acquired = id;
    // A program that had it before may have left a button down.
    VJoy.ResetVJD(id);
    *news = {VJOY_IN_USE, static_cast<int>(id), VJoy.GetVJDButtonNumber(id), 0};
    return std::unique_ptr<VJoyShifter>(new VJoyShifter(id));
}

VJoyShifter::~VJoyShifter()
{
    // A device that is lost is no longer gearvane's to let go of.
    if (Acquired.exchange(0) && !lost)
        LetGo(device);
}

bool VJoyShifter::Lost(VJoyNews *news) const
{
    if (lost)
        *news = {VJOY_LOST, static_cast<int>(device), 0, 0};
    return lost;
}

void VJoyShifter::Failed()
{
    lost = VJoy.GetVJDStatus(device) != VJD_STAT_OWN;
    if (lost)
        Acquired = 0;
}

int VJoyShifter::Press(int32_t direction)
{
    UCHAR button = direction > 0 ? UP_BUTTON : DOWN_BUTTON;
    if (VJoy.SetBtn(TRUE, device, button))
        return button;
    Failed();
    return 0;
}

bool VJoyShifter::Release(int key)
{
    if (VJoy.SetBtn(FALSE, device, static_cast<UCHAR>(key)))
        return true;
    Failed();
    return false;
}

void ReleaseVJoy()
{
    UINT id = Acquired.exchange(0);
    if (id)
        LetGo(id);
}
