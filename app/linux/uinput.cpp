// uinput devices through libevdev.
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

int WriteUinput(libevdev_uinput *uinput, unsigned type, unsigned code, int value)
{
    int rc, tries = 0;
    do
        rc = libevdev_uinput_write_event(uinput, type, code, value);
    while ((rc == -EINTR || rc == -EAGAIN) && ++tries < 3);
    return rc;
}
