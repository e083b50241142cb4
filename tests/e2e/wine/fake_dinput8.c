/* A scripted lever for gearvane-tray.exe: a dinput8.dll with one game controller of 128
 * buttons and a hat (and on request a second, a pad), whose state and presence follow the
 * runner's commands on standard input, and a log of every call. Loaded beside the exe with
 * WINEDLLOVERRIDES=dinput8=n. Commands, one a line; those before `start` are read at load:
 *   polled | silent | absent | pad  the lever needs Poll | DirectInput signals none of its
 *                              changes | it is not plugged in at start | a pad is plugged in too
 *   STEP set BUTTONS POV       buttons held (1,5,100 or -), the hat in hundredths of a degree
 *   STEP pad BUTTONS POV       the same for the pad
 *   STEP unplug [hard]         reads fail with DIERR_INPUTLOST (hard: DIERR_UNPLUGGED)
 *   STEP plug | STEP mark      back, same names and guid | a step that leaves the lever alone
 *   STEP scroll down|up        the mouse button goes down | up on the status pane's down arrow
 *   STEP choose ROW            the user selects ROW of the game controllers and clicks Use
 *   STEP lock|unlock|suspend|resume   what Windows tells the window then
 *   STEP type hold|gap TEXT    the user types TEXT over the box's value, a key every 30 ms
 *   STEP click ID              the user clicks the control or menu item ID of the window
 * Each step is logged with the QPC time of its change. A change signals the notification
 * events; unplug and plug post WM_DEVICECHANGE to the program's top-level windows, as Windows
 * does and Wine does not for a device like this. Calls outside the agreed use are logged as
 * `contract`.
 */
#define WIN32_LEAN_AND_MEAN
#define CINTERFACE
#include <windows.h>
#include <dbt.h>
#include <dinput.h>
#include <commctrl.h>
#include <wtsapi32.h>

#include "e2e.h"
#include "../../../resources/tray_resource.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"  /* COM methods get more than they need */

enum { MAX_DEVICES = 256, BUTTONS = 128 };

enum { LEVER, PAD, PRODUCTS };

typedef struct {
    IDirectInputDevice8W iface;
    int product, generation, formatted, acquired;
    HANDLE event;
} Device;

static const GUID InstanceGuids[PRODUCTS] = {{0x6ea7e2e0, 0x1111, 0x4e2e, {0x80, 0, 0, 0, 0, 0, 0, 1}},
                                             {0x6ea7e2e0, 0x1111, 0x4e2e, {0x80, 0, 0, 0, 0, 0, 0, 3}}};
static const GUID ProductGuid = {0x6ea7e2e0, 0x2222, 0x4e2e, {0x80, 0, 0, 0, 0, 0, 0, 2}};
static const WCHAR *const Names[PRODUCTS] = {L"Scripted Lever", L"Scripted Pad"};
static CRITICAL_SECTION Lock;
static BYTE Held[PRODUCTS][BUTTONS];
static DWORD Pov[PRODUCTS] = {0xFFFFFFFF, 0xFFFFFFFF};
static int Polled, Silent, PadPresent, Plugged = 1, Hard, Generation, DeviceCount;
static Device Devices[MAX_DEVICES];
static IDirectInput8W Input;

static HRESULT Called(const char *name, HRESULT result)
{
    LogLine("call %s -> 0x%08lX t=%lld", name, (unsigned long)result, Now());
    return result;
}

static void Contract(const char *what, unsigned long value)
{
    LogLine("contract %s: 0x%lX", what, value);
}

/* Windows tells every top-level window of a device change. */
static BOOL CALLBACK TellDeviceChange(HWND hwnd, LPARAM unused)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId())
        PostMessageW(hwnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    return TRUE;
}

/* The program's window, found by its class among this process's windows. */
static HWND ProgramWindow(void)
{
    HWND w = NULL;
    DWORD pid;
    while ((w = FindWindowExW(NULL, w, L"gearvane-tray", NULL)))
        if (GetWindowThreadProcessId(w, &pid) && pid == GetCurrentProcessId())
            return w;
    return NULL;
}

/* Presses or lets go of the mouse's left button on the status pane's down arrow. */
static void Scroll(int down)
{
    HWND pane = GetDlgItem(ProgramWindow(), IDC_STATUS);
    RECT r;
    INPUT input = {0};
    GetWindowRect(pane, &r);
    if (down)
        SetCursorPos(r.right - GetSystemMetrics(SM_CXVSCROLL) / 2 - 1, r.bottom - GetSystemMetrics(SM_CYVSCROLL) / 2 - 1);
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
}

/* Selects a row of the game controllers and clicks Use, as the user would. */
static void Choose(int row)
{
    HWND window = ProgramWindow();
    LVITEMW item = {0};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageW(window, IDC_CONTROLLERS, LVM_SETITEMSTATE, row, (LPARAM)&item);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_USE_LEVER, BN_CLICKED), (LPARAM)GetDlgItem(window, IDC_USE_LEVER));
}

static void Type(const char *arg)
{
    HWND box = GetDlgItem(ProgramWindow(), strncmp(arg, "gap", 3) == 0 ? IDC_GAP : IDC_HOLD);
    const char *text = strchr(arg, ' ');
    SendMessageW(box, EM_SETSEL, 0, -1);
    for (text = text ? text + 1 : ""; *text; text++) {
        SendMessageW(box, WM_CHAR, (WPARAM)*text, 0);
        Sleep(30);
    }
}

static void Apply(const char *line)
{
    char verb[16] = "", arg[400] = "", list[400], *b;
    long step;
    int i, product = -1;
    long long t;
    Polled |= strcmp(line, "polled") == 0;
    Silent |= strcmp(line, "silent") == 0;
    PadPresent |= strcmp(line, "pad") == 0;
    Plugged &= strcmp(line, "absent") != 0;
    if (sscanf(line, "%ld %15s %399[^\n]", &step, verb, arg) < 2)
        return;
    EnterCriticalSection(&Lock);
    if ((strcmp(verb, "set") == 0 || strcmp(verb, "pad") == 0) && sscanf(arg, "%399s", list) == 1) {
        product = strcmp(verb, "pad") == 0 ? PAD : LEVER;
        sscanf(arg, "%*s %lu", &Pov[product]);
        memset(Held[product], 0, sizeof Held[product]);
        for (b = strtok(list, ","); b; b = strtok(NULL, ","))
            if (atoi(b) >= 1 && atoi(b) <= BUTTONS)
                Held[product][atoi(b) - 1] = 0x80;
    } else if (strcmp(verb, "unplug") == 0) {
        product = LEVER;
        Plugged = 0;
        Hard = strcmp(arg, "hard") == 0;
    } else if (strcmp(verb, "plug") == 0) {
        product = LEVER;
        Plugged = 1;
        Generation++; /* objects made before the unplug stay dead */
    }
    t = Now();
    for (i = 0; i < DeviceCount && product >= 0; i++)
        if (Devices[i].product == product && (product == PAD || Devices[i].generation == Generation) &&
            Devices[i].acquired && Devices[i].event && !(product == LEVER && Silent))
            SetEvent(Devices[i].event);
    LeaveCriticalSection(&Lock);
    if (strcmp(verb, "unplug") == 0 || strcmp(verb, "plug") == 0)
        EnumWindows(TellDeviceChange, 0);
    if (strcmp(verb, "scroll") == 0)
        Scroll(strcmp(arg, "down") == 0);
    if (strcmp(verb, "choose") == 0)
        Choose(atoi(arg));
    if (strcmp(verb, "type") == 0)
        Type(arg);
    if (strcmp(verb, "click") == 0)
        PostMessageW(ProgramWindow(), WM_COMMAND, MAKEWPARAM(atoi(arg), BN_CLICKED),
                     (LPARAM)GetDlgItem(ProgramWindow(), atoi(arg)));
    if (strcmp(verb, "lock") == 0 || strcmp(verb, "unlock") == 0)
        PostMessageW(ProgramWindow(), WM_WTSSESSION_CHANGE, verb[0] == 'l' ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 1);
    if (strcmp(verb, "suspend") == 0 || strcmp(verb, "resume") == 0)
        PostMessageW(ProgramWindow(), WM_POWERBROADCAST, verb[0] == 's' ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND, 0);
    LogLine("step %ld %s %s t=%lld", step, verb, arg, t);
}

/* A line of standard input, read without the CRT: its stdin lock, held while fgets waits,
   would stall a program that flushes all streams. Returns 0 at the end. */
static int ReadLine(char *line, int size)
{
    DWORD got = 0;
    int n = 0;
    while (n < size - 1 && ReadFile(GetStdHandle(STD_INPUT_HANDLE), line + n, 1, &got, NULL) && got &&
           line[n] != '\n')
        n++;
    line[n] = '\0';
    return got != 0;
}

static DWORD WINAPI ReadCommands(void *unused)
{
    char line[512];
    while (ReadLine(line, sizeof line))
        Apply(line);
    return 0;
}

/* --- IDirectInputDevice8W, and IUnknown for both interfaces ------------------------------ */

/* Whether the object still stands for a plugged-in device. */
static int Live(Device *d)
{
    return d->product == PAD || (Plugged && d->generation == Generation);
}

static HRESULT WINAPI QueryInterface(void *iface, REFIID riid, void **out)
{
    *out = IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDirectInput8W) ||
                   IsEqualGUID(riid, &IID_IDirectInputDevice8W) ? iface : NULL;
    return Called("QueryInterface", *out ? S_OK : E_NOINTERFACE);
}

/* The objects are never freed: Release only lets go. */
static ULONG WINAPI AddRef(void *iface)
{
    return Called("AddRef", 2);
}

static ULONG WINAPI Release(void *iface)
{
    if (iface != &Input)
        ((Device *)iface)->acquired = 0;
    return Called("Release", 0);
}

static HRESULT WINAPI GetCapabilities(IDirectInputDevice8W *iface, DIDEVCAPS *caps)
{
    if (caps->dwSize != sizeof *caps) {
        Contract("GetCapabilities with DIDEVCAPS.dwSize", caps->dwSize);
        return Called("GetCapabilities", DIERR_INVALIDPARAM);
    }
    caps->dwFlags = DIDC_ATTACHED | (Polled && ((Device *)iface)->product == LEVER ? DIDC_POLLEDDEVICE : 0);
    caps->dwAxes = 0;
    caps->dwButtons = BUTTONS;
    caps->dwPOVs = 1;
    return Called("GetCapabilities", DI_OK);
}

static HRESULT WINAPI Acquire(IDirectInputDevice8W *iface)
{
    Device *d = (Device *)iface;
    EnterCriticalSection(&Lock);
    d->acquired = Live(d) && d->formatted;
    LeaveCriticalSection(&Lock);
    return Called("Acquire", d->acquired ? DI_OK : Live(d) ? DIERR_INVALIDPARAM : DIERR_UNPLUGGED);
}

static HRESULT WINAPI Unacquire(IDirectInputDevice8W *iface)
{
    ((Device *)iface)->acquired = 0;
    return Called("Unacquire", DI_OK);
}

/* DIERR_INPUTLOST (or DIERR_UNPLUGGED) once the device is gone, and it is then unacquired.
   Called locked. */
static HRESULT Readable(Device *d)
{
    if (Live(d))
        return d->acquired ? DI_OK : DIERR_NOTACQUIRED;
    d->acquired = 0;
    return Hard ? (HRESULT)DIERR_UNPLUGGED : DIERR_INPUTLOST;
}

static HRESULT WINAPI GetDeviceState(IDirectInputDevice8W *iface, DWORD size, void *data)
{
    DIJOYSTATE2 *s = data;
    HRESULT result;
    if (size != sizeof *s) {
        Contract("GetDeviceState with a size", size);
        return Called("GetDeviceState", DIERR_INVALIDPARAM);
    }
    EnterCriticalSection(&Lock);
    if ((result = Readable((Device *)iface)) == DI_OK) {
        memset(s, 0, sizeof *s);
        memcpy(s->rgbButtons, Held[((Device *)iface)->product], BUTTONS);
        s->rgdwPOV[0] = Pov[((Device *)iface)->product];
        s->rgdwPOV[1] = s->rgdwPOV[2] = s->rgdwPOV[3] = 0xFFFFFFFF;
    }
    LeaveCriticalSection(&Lock);
    return Called("GetDeviceState", result);
}

static HRESULT WINAPI SetDataFormat(IDirectInputDevice8W *iface, const DIDATAFORMAT *format)
{
    if (format->dwDataSize != sizeof(DIJOYSTATE2)) {
        Contract("SetDataFormat with a dwDataSize other than c_dfDIJoystick2's", format->dwDataSize);
        return Called("SetDataFormat", DIERR_INVALIDPARAM);
    }
    ((Device *)iface)->formatted = 1;
    return Called("SetDataFormat", DI_OK);
}

static HRESULT WINAPI SetEventNotification(IDirectInputDevice8W *iface, HANDLE event)
{
    ((Device *)iface)->event = event;
    return Called("SetEventNotification", DI_OK);
}

static HRESULT WINAPI SetCooperativeLevel(IDirectInputDevice8W *iface, HWND hwnd, DWORD flags)
{
    if (flags != (DISCL_BACKGROUND | DISCL_NONEXCLUSIVE))
        Contract("SetCooperativeLevel with flags", flags);
    if (!IsWindow(hwnd))
        Contract("SetCooperativeLevel with no window", (unsigned long)hwnd);
    return Called("SetCooperativeLevel", DI_OK);
}

static HRESULT WINAPI Poll(IDirectInputDevice8W *iface)
{
    HRESULT result;
    EnterCriticalSection(&Lock);
    result = Readable((Device *)iface);
    LeaveCriticalSection(&Lock);
    return Called("Poll", result == DI_OK && !(Polled && ((Device *)iface)->product == LEVER) ? DI_NOEFFECT : result);
}

/* Outside the agreed calls: logged, and E_NOTIMPL. Each stub pops its own arguments. */
#define ARGS2 void *a, void *b
#define ARGS3 ARGS2, void *c
#define ARGS4 ARGS3, void *d
#define ARGS5 ARGS4, void *e
#define ARGS6 ARGS5, void *f
#define STUB(name, n) \
    static HRESULT WINAPI Stub##name(ARGS##n) { return Called(#name, E_NOTIMPL); }
STUB(EnumObjects, 4) STUB(GetProperty, 3) STUB(SetProperty, 3) STUB(GetDeviceData, 5) STUB(GetObjectInfo, 4)
STUB(GetDeviceInfo, 2) STUB(RunControlPanel, 3) STUB(DeviceInitialize, 4) STUB(CreateEffect, 5)
STUB(EnumEffects, 4) STUB(GetEffectInfo, 3) STUB(GetForceFeedbackState, 2) STUB(SendForceFeedbackCommand, 2)
STUB(EnumCreatedEffectObjects, 4) STUB(Escape, 2) STUB(SendDeviceData, 5) STUB(EnumEffectsInFile, 5)
STUB(WriteEffectToFile, 5) STUB(BuildActionMap, 4) STUB(SetActionMap, 4) STUB(GetImageInfo, 2)
STUB(GetDeviceStatus, 2) STUB(Initialize, 3) STUB(FindDevice, 4) STUB(EnumDevicesBySemantics, 6)
STUB(ConfigureDevices, 5)

static IDirectInputDevice8WVtbl DeviceVtbl = {
    (void *)QueryInterface, (void *)AddRef, (void *)Release, GetCapabilities, (void *)StubEnumObjects,
    (void *)StubGetProperty, (void *)StubSetProperty, Acquire, Unacquire, GetDeviceState, (void *)StubGetDeviceData,
    SetDataFormat, SetEventNotification, SetCooperativeLevel, (void *)StubGetObjectInfo, (void *)StubGetDeviceInfo,
    (void *)StubRunControlPanel, (void *)StubDeviceInitialize, (void *)StubCreateEffect, (void *)StubEnumEffects,
    (void *)StubGetEffectInfo, (void *)StubGetForceFeedbackState, (void *)StubSendForceFeedbackCommand,
    (void *)StubEnumCreatedEffectObjects, (void *)StubEscape, Poll, (void *)StubSendDeviceData,
    (void *)StubEnumEffectsInFile, (void *)StubWriteEffectToFile, (void *)StubBuildActionMap, (void *)StubSetActionMap,
    (void *)StubGetImageInfo,
};

/* --- IDirectInput8W ------------------------------------------------------------------------ */

static HRESULT WINAPI CreateDevice(IDirectInput8W *iface, REFGUID guid, IDirectInputDevice8W **out, IUnknown *outer)
{
    Device *d = NULL;
    int product = IsEqualGUID(guid, &InstanceGuids[LEVER]) && Plugged ? LEVER
                  : IsEqualGUID(guid, &InstanceGuids[PAD]) && PadPresent ? PAD : -1;
    EnterCriticalSection(&Lock);
    if (product >= 0 && DeviceCount < MAX_DEVICES) {
        d = &Devices[DeviceCount++];
        d->iface.lpVtbl = &DeviceVtbl;
        d->product = product;
        d->generation = Generation;
    }
    LeaveCriticalSection(&Lock);
    *out = d ? &d->iface : NULL;
    return Called("CreateDevice", d ? DI_OK : DIERR_DEVICENOTREG);
}

static HRESULT WINAPI EnumDevices(IDirectInput8W *iface, DWORD type, LPDIENUMDEVICESCALLBACKW callback, void *context,
                                  DWORD flags)
{
    int p;
    if (type != DI8DEVCLASS_GAMECTRL)
        Contract("EnumDevices of a class", type);
    if (flags != DIEDFL_ATTACHEDONLY)
        Contract("EnumDevices with flags", flags);
    Called(Plugged ? "EnumDevices (the lever)" : "EnumDevices (none)", DI_OK);
    for (p = 0; p < PRODUCTS; p++) {
        DIDEVICEINSTANCEW device = {sizeof device, InstanceGuids[p], ProductGuid,
                                    DI8DEVTYPE_JOYSTICK | DI8DEVTYPEJOYSTICK_STANDARD << 8, L"", L"", {0}, 0, 0};
        lstrcpyW(device.tszInstanceName, Names[p]);
        lstrcpyW(device.tszProductName, Names[p]);
        if ((p == LEVER ? Plugged : PadPresent) && callback(&device, context) == DIENUM_STOP)
            break;
    }
    return DI_OK;
}

static IDirectInput8WVtbl InputVtbl = {
    (void *)QueryInterface, (void *)AddRef, (void *)Release, CreateDevice, EnumDevices, (void *)StubGetDeviceStatus,
    (void *)StubRunControlPanel, (void *)StubInitialize, (void *)StubFindDevice, (void *)StubEnumDevicesBySemantics,
    (void *)StubConfigureDevices,
};
static IDirectInput8W Input = {&InputVtbl};

__declspec(dllexport) HRESULT WINAPI DirectInput8Create(HINSTANCE instance, DWORD version, REFIID riid, void **out,
                                                        IUnknown *outer)
{
    if (version != 0x0800)
        Contract("DirectInput8Create for version", version);
    *out = IsEqualGUID(riid, &IID_IDirectInput8W) ? &Input : NULL;
    if (!*out)
        Contract("DirectInput8Create for an interface other than IDirectInput8W", 0);
    return Called("DirectInput8Create", *out ? DI_OK : E_NOINTERFACE);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char line[512];
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&Lock);
        OpenLog();
        CatchMessageBoxes();
        while (ReadLine(line, sizeof line) && strcmp(line, "start") != 0)
            Apply(line);
        CloseHandle(CreateThread(NULL, 0, ReadCommands, NULL, 0, NULL));
    }
    return TRUE;
}
