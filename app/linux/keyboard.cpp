// The uinput keyboard, made and remade through libevdev.
#include "keyboard.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <string.h>
#include <unistd.h>

#include "say.h"

namespace {

// The desktop opens a new keyboard a moment after it appears: a key sent before that is lost.
enum { SETTLE_US = 250000 };

}  // namespace

void Keyboard::Destroy::operator()(libevdev_uinput *uinput) const
{
    int fd = libevdev_uinput_get_fd(uinput);
    libevdev_uinput_destroy(uinput);
    close(fd);
}

bool Keyboard::MakeDevice(const ShiftKeys &keys, Device *device, std::string *error)
{
    int fd = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        *error = std::string("cannot open /dev/uinput: ") + strerror(e);
        if (e == ENOENT || e == ENODEV)
            *error += ". Load the uinput module: sudo modprobe uinput";
        else if (e == EACCES || e == EPERM)
            *error += ". Install the udev rule 60-gearvane.rules (the package does; a copy made by hand "
                      "takes effect with: sudo udevadm control --reload && sudo udevadm trigger), or run "
                      "gearvane with the rights to write /dev/uinput";
        return false;
    }
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "gearvane virtual keyboard");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, keys.up, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, keys.down, nullptr);
    libevdev_uinput *uinput = nullptr;
    int rc = libevdev_uinput_create_from_device(dev, fd, &uinput);
    libevdev_free(dev);  // the uinput device keeps what it needs
    if (rc < 0) {
        *error = std::string("cannot create the virtual keyboard on /dev/uinput: ") + strerror(-rc);
        close(fd);
        return false;
    }
    device->reset(uinput);
    return true;
}

std::unique_ptr<Keyboard> Keyboard::Create(const ShiftKeys &keys, int64_t now, std::string *error)
{
    std::unique_ptr<Keyboard> k(new Keyboard());
    if (!MakeDevice(keys, &k->device, error))
        return nullptr;
    k->keys = keys;
    k->readyAt = now + SETTLE_US;
    return k;
}

// One event, written again at once if a signal or a full queue got in its way.
bool Keyboard::Write(unsigned type, unsigned code, int value)
{
    int rc, tries = 0;
    do
        rc = libevdev_uinput_write_event(device.get(), type, code, value);
    while ((rc == -EINTR || rc == -EAGAIN) && ++tries < 3);
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
    Device fresh;
    std::string why;
    if (!MakeDevice(next, &fresh, &why)) {
        PrintError("%s; the old keys stay", why.c_str());
        return;
    }
    device = std::move(fresh);  // the old keyboard goes
    keys = next;
    readyAt = now + SETTLE_US;
}
