// Game controllers through DirectInput 8.
#include "lever.h"

#include <string.h>
#include <wchar.h>

namespace {

BOOL CALLBACK Collect(LPCDIDEVICEINSTANCEW device, LPVOID context)
{
    auto *found = static_cast<std::vector<DIDEVICEINSTANCEW> *>(context);
    found->push_back(*device);
    return found->size() < 64 ? DIENUM_CONTINUE : DIENUM_STOP;
}

bool Lost(HRESULT hr)
{
    return hr == HRESULT(DIERR_INPUTLOST) || hr == HRESULT(DIERR_NOTACQUIRED) || hr == HRESULT(DIERR_UNPLUGGED);
}

HRESULT Read(Lever *lever, DIJOYSTATE2 *state, bool poll)
{
    if (poll && lever->polled) {
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

GUID ToGuid(const InstanceId &id)
{
    GUID guid;
    memcpy(&guid, id.bytes, sizeof guid);
    return guid;
}

InstanceId FromGuid(const GUID &guid)
{
    InstanceId id;
    memcpy(id.bytes, &guid, sizeof id.bytes);
    return id;
}

std::vector<Controller> ListControllers(const DirectInput &input)
{
    std::vector<DIDEVICEINSTANCEW> found;
    input.di->EnumDevices(DI8DEVCLASS_GAMECTRL, Collect, &found, DIEDFL_ATTACHEDONLY);
    std::vector<Controller> list;
    for (const DIDEVICEINSTANCEW &d : found)
        list.push_back({FromGuid(d.guidInstance), d.tszProductName, false});
    return list;
}

bool OpenLever(const DirectInput &input, const GUID &instance, HWND window, bool notify, Lever *lever)
{
    CloseLever(lever);
    Com<IDirectInputDevice8W> d;
    if (FAILED(input.di->CreateDevice(instance, &d.p, nullptr)))
        return false;
    DIDEVCAPS caps = {};
    caps.dwSize = sizeof caps;
    if (FAILED(d->GetCapabilities(&caps)) || FAILED(d->SetDataFormat(&c_dfDIJoystick2)) ||
        FAILED(d->SetCooperativeLevel(window, DISCL_BACKGROUND | DISCL_NONEXCLUSIVE)))
        return false;
    Handle event(notify ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr);
    HRESULT notified = DI_OK;
    if (notify && (!event.h || FAILED(notified = d->SetEventNotification(event.h))))
        return false;
    // It may fail while the device settles; the first read acquires it again.
    d->Acquire();
    lever->inputs = caps.dwButtons > 0 || caps.dwPOVs > 0;
    lever->device.p = d.p;
    d.p = nullptr;
    lever->event.Reset(event.h);
    event.h = nullptr;
    lever->polled = (caps.dwFlags & DIDC_POLLEDDEVICE) != 0;
    lever->unsignalled = notified == DI_POLLEDDEVICE;
    return true;
}

void CloseLever(Lever *lever)
{
    if (lever->device.p) {
        lever->device->Unacquire();
        if (lever->event.h)
            lever->device->SetEventNotification(nullptr);
    }
    lever->device.Reset();
    lever->event.Reset();
}

LeverRead ReadLever(Lever *lever, Sample *sample, bool poll)
{
    DIJOYSTATE2 state = {};
    HRESULT hr = Read(lever, &state, poll);
    if (Lost(hr)) {
        if (FAILED(lever->device->Acquire()))
            return LEVER_LOST;
        hr = Read(lever, &state, poll);
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
