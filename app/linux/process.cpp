// Standard error and signals for the daemon.
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

void NeverWaitOnStderr()
{
    struct stat st;
    if (fstat(STDERR_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        return;
    int fd = open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    dup2(fd, STDERR_FILENO);
    close(fd);
}

bool Signals::Open()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    fd = Fd(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    return fd.Get() >= 0;
}

int Signals::Next()
{
    signalfd_siginfo info;
    return read(fd.Get(), &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
}
