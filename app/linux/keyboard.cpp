// The uinput keyboard, made and remade through libevdev.
#include "keyboard.h"

#include <libevdev/libevdev.h>
#include <string.h>

#include <algorithm>

#include "fd.h"
#include "say.h"

namespace {

// The desktop opens a new keyboard a moment after it appears: a key sent before that is lost.
enum { SETTLE_US = 250000 };

}  // namespace

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

// One event; one that cannot be written means the keyboard is gone.
bool Keyboard::Write(unsigned type, unsigned code, int value)
{
    int rc = WriteUinput(device.get(), type, code, value);
    if (rc < 0)
        error = std::string("the virtual keyboard is gone: ") + strerror(-rc);
    return rc == 0;
}

bool Keyboard::Press(int32_t direction, int64_t now)
{
    if (now < readyAt || !error.empty())
        return false;
    int code = direction > 0 ? keys.up : keys.down;
    if (!Write(EV_KEY, code, 1))
        return false;
    // The kernel holds the key down from here on, even if the report below fails.
    down = code;
    Write(EV_SYN, SYN_REPORT, 0);
    return true;
}

// A key-up that cannot be written means the keyboard is gone; the kernel lets go of every
// key of a uinput device when it is destroyed, so none stays down.
bool Keyboard::Release(int64_t now)
{
    if (!down)
        return error.empty();
    if (!Write(EV_KEY, down, 0) || !Write(EV_SYN, SYN_REPORT, 0))
        return false;
    down = 0;
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
    // From when it appeared: on a busy machine, making it takes a while after `now`.
    readyAt = std::max(now, Now()) + SETTLE_US;
}
