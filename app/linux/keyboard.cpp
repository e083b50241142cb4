// The uinput keyboard, through libevdev.
#include "keyboard.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <string.h>
#include <unistd.h>

bool CreateKeyboard(int up, int down, Keyboard *k, std::string *error)
{
    int fd = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        *error = std::string("cannot open /dev/uinput: ") + strerror(e);
        if (e == ENOENT || e == ENODEV)
            *error += ". Load the uinput module: sudo modprobe uinput";
        else if (e == EACCES || e == EPERM)
            *error += ". Install the udev rule 60-gearvane.rules (the package does) and log in again, "
                      "or run gearvane with the rights to write /dev/uinput";
        return false;
    }
    libevdev *dev = libevdev_new();
    libevdev_set_name(dev, "gearvane virtual keyboard");
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    libevdev_enable_event_type(dev, EV_KEY);
    libevdev_enable_event_code(dev, EV_KEY, up, nullptr);
    libevdev_enable_event_code(dev, EV_KEY, down, nullptr);
    libevdev_uinput *uinput = nullptr;
    int rc = libevdev_uinput_create_from_device(dev, fd, &uinput);
    if (rc < 0) {
        *error = std::string("cannot create the virtual keyboard on /dev/uinput: ") + strerror(-rc);
        libevdev_free(dev);
        close(fd);
        return false;
    }
    k->dev = dev;
    k->uinput = uinput;
    k->fd = fd;
    const char *node = libevdev_uinput_get_devnode(uinput);
    k->node = node ? node : "";
    return true;
}

void DestroyKeyboard(Keyboard *k)
{
    if (k->uinput)
        libevdev_uinput_destroy(k->uinput);
    if (k->dev)
        libevdev_free(k->dev);
    if (k->fd >= 0)
        close(k->fd);
    *k = Keyboard();
}

void SendKey(Keyboard *k, int code, bool down)
{
    libevdev_uinput_write_event(k->uinput, EV_KEY, code, down ? 1 : 0);
    libevdev_uinput_write_event(k->uinput, EV_SYN, SYN_REPORT, 0);
}
