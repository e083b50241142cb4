// The lever through DirectInput 8.
#include "lever.h"

#include <wchar.h>

namespace {

enum { MAX_DEVICES = 32 };

struct Found {
    DIDEVICEINSTANCEW devices[MAX_DEVICES];
    int count;
};

BOOL CALLBACK Collect(LPCDIDEVICEINSTANCEW device, LPVOID context)
{
    Found *found = static_cast<Found *>(context);
    if (found->count < MAX_DEVICES)
        found->devices[found->count++] = *device;
    return found->count < MAX_DEVICES ? DIENUM_CONTINUE : DIENUM_STOP;
}

void Attached(const DirectInput &input, Found *found)
{
    found->count = 0;
    input.di->EnumDevices(DI8DEVCLASS_GAMECTRL, Collect, found, DIEDFL_ATTACHEDONLY);
}

std::wstring Lower(const wchar_t *text)
{
    std::wstring s(text);
    if (!s.empty())
        CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

bool NameHolds(const DIDEVICEINSTANCEW &device, const std::wstring &part)
{
    std::wstring p = Lower(part.c_str());
    return Lower(device.tszProductName).find(p) != std::wstring::npos ||
           Lower(device.tszInstanceName).find(p) != std::wstring::npos;
}

bool Matches(const DIDEVICEINSTANCEW &device, const LeverWanted &wanted)
{
    if (wanted.lost)
        return IsEqualGUID(device.guidInstance, wanted.instance) || wanted.name == device.tszProductName;
    return wanted.part.empty() || NameHolds(device, wanted.part);
}

// Sets the device up for reading in the background; false if it cannot be, or when it has
// neither buttons nor a hat and was not asked for by name.
bool SetUp(const DirectInput &input, const DIDEVICEINSTANCEW &device, bool named, HWND window, Lever *lever)
{
    Com<IDirectInputDevice8W> d;
    if (FAILED(input.di->CreateDevice(device.guidInstance, &d.p, nullptr)))
        return false;
    DIDEVCAPS caps = {};
    caps.dwSize = sizeof caps;
    if (FAILED(d->GetCapabilities(&caps)))
        return false;
    if (!named && caps.dwButtons == 0 && caps.dwPOVs == 0)
        return false;
    Handle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event.h || FAILED(d->SetDataFormat(&c_dfDIJoystick2)) ||
        FAILED(d->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE)))
        return false;
    HRESULT notify = d->SetEventNotification(event.h);
    if (FAILED(notify))
        return false;
    // It may fail while the device settles; the first read acquires it again.
    d->Acquire();
    CloseLever(lever);
    lever->device.p = d.p;
    d.p = nullptr;
    lever->event.Reset(event.h);
    event.h = nullptr;
    lever->instance = device.guidInstance;
    lever->name = device.tszProductName;
    lever->polled = (caps.dwFlags & DIDC_POLLEDDEVICE) != 0;
    lever->unsignalled = notify == DI_POLLEDDEVICE;
    return true;
}

bool Lost(HRESULT hr)
{
    return hr == HRESULT(DIERR_INPUTLOST) || hr == HRESULT(DIERR_NOTACQUIRED) || hr == HRESULT(DIERR_UNPLUGGED);
}

HRESULT Read(Lever *lever, DIJOYSTATE2 *state)
{
    if (lever->polled) {
        HRESULT hr = lever->device->Poll();
        if (FAILED(hr))
            return hr;
    }
    return lever->device->GetDeviceState(sizeof *state, state);
}

}  // namespace

bool CreateDirectInput(HINSTANCE instance, DirectInput *input, std::wstring *error)
{
    input->di.Reset();
    HRESULT hr = DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8W,
                                    reinterpret_cast<void **>(&input->di.p), nullptr);
    if (FAILED(hr)) {
        wchar_t text[160];
        swprintf(text, 160, L"DirectInput 8 could not be started (error 0x%08lx)", static_cast<unsigned long>(hr));
        *error = text;
        return false;
    }
    return true;
}

bool OpenLever(const DirectInput &input, const LeverWanted &wanted, HWND window, Lever *lever)
{
    Found found;
    Attached(input, &found);
    for (int i = 0; i < found.count; i++)
        if (Matches(found.devices[i], wanted) &&
            SetUp(input, found.devices[i], wanted.lost || !wanted.part.empty(), window, lever))
            return true;
    return false;
}

void CloseLever(Lever *lever)
{
    if (lever->device.p) {
        lever->device->Unacquire();
        lever->device->SetEventNotification(nullptr);
    }
    lever->device.Reset();
    lever->event.Reset();
}

bool LeverAttached(const DirectInput &input, const Lever &lever)
{
    Found found;
    Attached(input, &found);
    for (int i = 0; i < found.count; i++)
        if (IsEqualGUID(found.devices[i].guidInstance, lever.instance))
            return true;
    return false;
}

LeverRead ReadLever(Lever *lever, Sample *sample)
{
    DIJOYSTATE2 state = {};
    HRESULT hr = Read(lever, &state);
    if (Lost(hr)) {
        if (FAILED(lever->device->Acquire()))
            return LEVER_LOST;
        hr = Read(lever, &state);
        if (Lost(hr))
            return LEVER_LOST;
    }
    if (FAILED(hr))
        return LEVER_UNCHANGED;
    *sample = Sample();
    for (int b = 1; b <= 128; b++)
        SetButton(sample, b, (state.rgbButtons[b - 1] & 0x80) != 0);
    sample->hat = LOWORD(state.rgdwPOV[0]) == 0xFFFF ? uint32_t(HAT_CENTRED) : uint32_t(state.rgdwPOV[0]);
    return LEVER_READ;
}
