/* The floor of the latency comparison: the least a mapper can do. It reads the lever with
 * libevdev in one epoll loop and mirrors button 1 as Page Up and button 2 as Page Down on
 * its own uinput keyboard, event for event, with no engine, timer or state in between.
 *
 * Usage: floor LEVER-NODE [KEYBOARD-NAME]. It ends on SIGTERM or SIGINT, or when the lever
 * is unplugged.
 */
#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

static int Forward(struct libevdev_uinput *keyboard, unsigned int code, int value)
{
    if (libevdev_uinput_write_event(keyboard, EV_KEY, code, value) < 0 ||
        libevdev_uinput_write_event(keyboard, EV_SYN, SYN_REPORT, 0) < 0)
        return -1;
    return 0;
}

int main(int argc, char **argv)
{
    const char *keyboardName = argc > 2 ? argv[2] : "floor virtual keyboard";
    struct libevdev *lever = NULL, *template = libevdev_new();
    struct libevdev_uinput *keyboard = NULL;
    struct epoll_event ev = {.events = EPOLLIN};
    sigset_t signals;
    int fd, sfd, epfd, rc, done = 0;

    if (argc < 2) {
        fprintf(stderr, "usage: floor LEVER-NODE [KEYBOARD-NAME]\n");
        return 2;
    }
    fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || libevdev_new_from_fd(fd, &lever) < 0) {
        fprintf(stderr, "floor: cannot read %s\n", argv[1]);
        return 1;
    }
    libevdev_set_name(template, keyboardName);
    libevdev_enable_event_type(template, EV_KEY);
    libevdev_enable_event_code(template, EV_KEY, KEY_PAGEUP, NULL);
    libevdev_enable_event_code(template, EV_KEY, KEY_PAGEDOWN, NULL);
    rc = libevdev_uinput_create_from_device(template, LIBEVDEV_UINPUT_OPEN_MANAGED, &keyboard);
    if (rc < 0) {
        fprintf(stderr, "floor: /dev/uinput: %s\n", strerror(-rc));
        return 1;
    }

    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, NULL);
    sfd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    epfd = epoll_create1(EPOLL_CLOEXEC);
    ev.data.fd = fd;
    epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev);
    ev.data.fd = sfd;
    epoll_ctl(epfd, EPOLL_CTL_ADD, sfd, &ev);

    while (!done) {
        struct epoll_event ready;
        if (epoll_wait(epfd, &ready, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready.data.fd == sfd)
            break;
        for (;;) {
            struct input_event e;
            rc = libevdev_next_event(lever, LIBEVDEV_READ_FLAG_NORMAL, &e);
            if (rc == LIBEVDEV_READ_STATUS_SYNC) {
                while (rc == LIBEVDEV_READ_STATUS_SYNC)
                    rc = libevdev_next_event(lever, LIBEVDEV_READ_FLAG_SYNC, &e);
                continue;
            }
            if (rc != LIBEVDEV_READ_STATUS_SUCCESS) {
                done = rc != -EAGAIN;  /* -ENODEV: the lever is gone */
                break;
            }
            if (e.type == EV_KEY && e.value != 2 && (e.code == BTN_TRIGGER || e.code == BTN_THUMB))
                Forward(keyboard, e.code == BTN_TRIGGER ? KEY_PAGEUP : KEY_PAGEDOWN, e.value);
        }
    }
    libevdev_uinput_destroy(keyboard);
    libevdev_free(lever);
    libevdev_free(template);
    close(fd);
    return 0;
}
