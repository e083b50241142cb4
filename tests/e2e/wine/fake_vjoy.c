/* A scripted vJoyInterface.dll for gearvane-tray.exe, to the SDK's documented behaviour: up
 * to 16 devices, each free or owned by another program (busy), with a number of buttons;
 * AcquireVJD takes a free one, SetBtn works on a device this process owns and a button it
 * has, RelinquishVJD frees it. GEARVANE_E2E_VJOY sets the scene, in words:
 *   disabled       vJoyEnabled says no, and every device is missing
 *   N:free:B       device N (1..16) is free and has B buttons; N:busy:B another program has it
 *   lose:K         the K-th call of SetBtn finds every device gone, as when vJoy is disabled
 * Logged to GEARVANE_E2E_VJOY_LOG: `button N down|up t=QPC` for each change of a button, the
 * calls that change ownership (`vjoy acquire N -> 1`), and `contract` for calls outside the
 * SDK's rules. The runner writes where the DLL is into vJoy's uninstall key, as its installer
 * does. */
#include <windows.h>
#include <stdlib.h>

#include "e2e.h"

enum VjdStat { VJD_STAT_OWN, VJD_STAT_FREE, VJD_STAT_BUSY, VJD_STAT_MISS, VJD_STAT_UNKN };

enum { DEVICES = 16 };

static int Disabled, LoseAt, SetCalls;
static enum VjdStat Status[DEVICES + 1];
static int Buttons[DEVICES + 1];
static BYTE Held[DEVICES + 1][129];

static int Exists(UINT id)
{
    return id >= 1 && id <= DEVICES && Status[id] != VJD_STAT_MISS;
}

__declspec(dllexport) BOOL __cdecl vJoyEnabled(void)
{
    return !Disabled;
}

__declspec(dllexport) enum VjdStat __cdecl GetVJDStatus(UINT id)
{
    return Exists(id) ? Status[id] : VJD_STAT_MISS;
}

__declspec(dllexport) int __cdecl GetVJDButtonNumber(UINT id)
{
    return Exists(id) ? Buttons[id] : 0;
}

__declspec(dllexport) BOOL __cdecl AcquireVJD(UINT id)
{
    BOOL ok = Exists(id) && Status[id] == VJD_STAT_FREE;
    if (ok)
        Status[id] = VJD_STAT_OWN;
    LogLine("vjoy acquire %u -> %d", id, ok);
    return ok;
}

static BOOL Set(BOOL down, UINT id, UCHAR button)
{
    if (!Exists(id) || Status[id] != VJD_STAT_OWN || button < 1 || button > Buttons[id]) {
        LogLine("contract SetBtn(%d, %u, %u) on a device not acquired or a button it lacks", down, id, button);
        return FALSE;
    }
    if (Held[id][button] != !!down)
        LogLine("button %u %s t=%lld", button, down ? "down" : "up", Now());
    Held[id][button] = !!down;
    return TRUE;
}

__declspec(dllexport) BOOL __cdecl SetBtn(BOOL down, UINT id, UCHAR button)
{
    int i;
    if (++SetCalls == LoseAt) {
        for (i = 0; i <= DEVICES; i++)
            Status[i] = VJD_STAT_MISS;
        LogLine("vjoy gone");
    }
    return SetCalls >= LoseAt && LoseAt ? FALSE : Set(down, id, button);
}

__declspec(dllexport) BOOL __cdecl ResetVJD(UINT id)
{
    int b;
    BOOL ok = Exists(id) && Status[id] == VJD_STAT_OWN;
    for (b = 1; ok && b <= Buttons[id]; b++)
        Set(FALSE, id, (UCHAR)b);
    LogLine("vjoy reset %u -> %d", id, ok);
    return ok;
}

__declspec(dllexport) void __cdecl RelinquishVJD(UINT id)
{
    int b;
    if (!Exists(id) || Status[id] != VJD_STAT_OWN) {
        LogLine("contract RelinquishVJD(%u) of a device not acquired", id);
        return;
    }
    for (b = 1; b <= Buttons[id]; b++)
        if (Held[id][b])
            LogLine("contract RelinquishVJD(%u) with button %d down", id, b);
    Status[id] = VJD_STAT_FREE;
    LogLine("vjoy relinquish %u", id);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char scene[400], path[MAX_PATH], *word;
    int id, i;
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (GetEnvironmentVariableA("GEARVANE_E2E_VJOY_LOG", path, sizeof path))
        Log = fopen(path, "w");
    for (i = 0; i <= DEVICES; i++)
        Status[i] = VJD_STAT_MISS;
    if (!GetEnvironmentVariableA("GEARVANE_E2E_VJOY", scene, sizeof scene))
        scene[0] = '\0';
    for (word = strtok(scene, " "); word; word = strtok(NULL, " ")) {
        char state[8] = "";
        int buttons = 0;
        Disabled |= strcmp(word, "disabled") == 0;
        sscanf(word, "lose:%d", &LoseAt);
        if (sscanf(word, "%d:%7[a-z]:%d", &id, state, &buttons) == 3 && id >= 1 && id <= DEVICES) {
            Status[id] = strcmp(state, "busy") == 0 ? VJD_STAT_BUSY : VJD_STAT_FREE;
            Buttons[id] = buttons > 128 ? 128 : buttons;
        }
    }
    for (i = 0; Disabled && i <= DEVICES; i++)
        Status[i] = VJD_STAT_MISS;
    return TRUE;
}
