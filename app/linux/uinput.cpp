// uinput devices through libevdev, and the key-downs and key-ups sent to them.
#include "uinput.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <string.h>
#include <unistd.h>

void DestroyUinput::operator()(libevdev_uinput *uinput) const
{
    int fd = libevdev_uinput_get_fd(uinput);
    libevdev_uinput_destroy(uinput);
    close(fd);
}

Uinput CreateUinput(const libevdev *dev, const char *what, std::string *error)
{
    int fd = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        *error = std::string("cannot open /dev/uinput: ") + strerror(e);
        if (e == ENOENT || e == ENODEV)
            *error += ". Load the uinput module: sudo modprobe uinput";
        else if (e == EACCES || e == EPERM)
            *error += ". Install the udev rule 60-gearvane.rules (the package does; a copy made by hand in "
                      "/etc/udev/rules.d applies with: sudo udevadm control --reload && sudo modprobe uinput && "
                      "sudo udevadm trigger --action=change --sysname-match=uinput), or run gearvane with the "
                      "rights to write /dev/uinput";
        return nullptr;
    }
    libevdev_uinput *uinput = nullptr;
    int rc = libevdev_uinput_create_from_device(dev, fd, &uinput);
    if (rc < 0) {
        *error = std::string("cannot create ") + what + " on /dev/uinput: " + strerror(-rc);
        close(fd);
        return nullptr;
    }
    return Uinput(uinput);
}

// One event, again at once if a signal or a full queue got in its way; one that cannot be
// written means the device is gone.
bool UinputOutput::Write(unsigned type, unsigned code, int value)
{
    int rc, tries = 0;
    do
        rc = libevdev_uinput_write_event(device.get(), type, code, value);
    while ((rc == -EINTR || rc == -EAGAIN) && ++tries < 3);
    if (rc < 0)
        error = std::string(what) + " is gone: " + strerror(-rc);
    return rc == 0;
}

bool UinputOutput::PressCode(int code, int64_t now)
{
    if (now < readyAt || !error.empty())
        return false;
    if (!Write(EV_KEY, code, 1))
        return false;
    // The kernel holds the key down from here on, even if the report below fails.
    down = code;
    Write(EV_SYN, SYN_REPORT, 0);
    return true;
}

// A key-up that cannot be written means the device is gone; the kernel lets go of every key
// of a uinput device when it is destroyed, so none stays down.
bool UinputOutput::Release(int64_t)
{
    if (!down)
        return error.empty();
    if (!Write(EV_KEY, down, 0) || !Write(EV_SYN, SYN_REPORT, 0))
        return false;
    down = 0;
    return true;
}
