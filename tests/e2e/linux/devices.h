/* Shared by the guest helpers of the Linux end-to-end tests: finding input devices by name,
   and reading their events with kernel timestamps that compare across devices. */
#ifndef GEARVANE_E2E_DEVICES_H
#define GEARVANE_E2E_DEVICES_H

#include <linux/input.h>
#include <stddef.h>
#include <stdint.h>

/* CLOCK_MONOTONIC in nanoseconds: the clock of every timestamp these helpers log. */
int64_t NowNs(void);

/* An event's kernel timestamp in nanoseconds, valid once the node's clock is set. */
int64_t EventNs(const struct input_event *ev);

/* Opens an event node non-blocking and switches its timestamps to CLOCK_MONOTONIC before
   anything is read from it. Returns the descriptor, or -1 with errno set. */
int OpenEventNode(const char *path);

/* Opens the first event node, in node order, whose device is named exactly `name`, as
   OpenEventNode does, and writes its path into `path`. Returns -1 when there is none. */
int OpenDeviceNamed(const char *name, char *path, size_t size);

/* Blocks, for at most `timeoutMs`, until a device named `name` exists, then opens it as
   OpenDeviceNamed does. */
int WaitForDeviceNamed(const char *name, char *path, size_t size, int timeoutMs);

#endif
