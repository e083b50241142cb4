// The uinput keyboard, made and remade through libevdev.
#include "keyboard.h"

#include <libevdev/libevdev.h>

#include <algorithm>

#include "fd.h"
#include "say.h"

Uinput Keyboard::MakeDevice(const ShiftKeys &keys, std::string *error)
{
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "gearvane virtual keyboard");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, keys.up, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, keys.down, nullptr);
    Uinput device = CreateUinput(dev, "the virtual keyboard", error);
    libevdev_free(dev);  // the uinput device keeps what it needs
    return device;
}

std::unique_ptr<Keyboard> Keyboard::Create(const ShiftKeys &keys, int64_t now, std::string *error)
{
    std::unique_ptr<Keyboard> k(new Keyboard());
    k->device = MakeDevice(keys, error);
    if (!k->device)
        return nullptr;
    k->keys = keys;
    k->readyAt = now + SETTLE_US;
    return k;
}

bool Keyboard::Release(int64_t now)
{
    if (!UinputOutput::Release(now))
        return false;
    if (remake)
        Remake(now);
    return true;
}

void Keyboard::SetKeys(const ShiftKeys &fresh, int64_t now)
{
    if (fresh.up == Keys().up && fresh.down == Keys().down) {
        (remake ? next : keys) = fresh;
        return;
    }
    next = fresh;
    remake = true;
    if (!down)
        Remake(now);
}

void Keyboard::Remake(int64_t now)
{
    remake = false;
    std::string why;
    Uinput fresh = MakeDevice(next, &why);
    if (!fresh) {
        PrintError("%s; the old keys stay", why.c_str());
        return;
    }
    device = std::move(fresh);  // the old keyboard goes
    keys = next;
    // From when it appeared and the old one went: on a busy machine, that takes a while.
    readyAt = std::max(now, Now()) + SETTLE_US;
}
