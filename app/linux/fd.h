// Handles of the Linux front end: a file descriptor and a timer that close themselves and
// cannot be copied.
#ifndef GEARVANE_FD_H
#define GEARVANE_FD_H

#include <stdint.h>
#include <unistd.h>

#include <utility>

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd(fd) {}
    Fd(Fd &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        if (this != &other) {
            Close();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { Close(); }

    int Get() const { return fd; }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

private:
    int fd = -1;
};

// Microseconds on CLOCK_MONOTONIC: the clock of the loop and of its timers.
int64_t Now();

// A timerfd on CLOCK_MONOTONIC.
class Timer {
public:
    // False, with errno set, when the timer cannot be made.
    bool Open();
    int Get() const { return fd.Get(); }
    // Fires once at `due` (µs on Now()'s clock); a negative `due` disarms it.
    void ArmAt(int64_t due);
    // Reads the expirations, so that the timer stops being readable.
    void Drain();

private:
    Fd fd;
};

#endif
