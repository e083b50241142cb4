// Standard descriptors, standard error and signals.
#include "process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>

void SetUpStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free descriptor: `fd`, as those below it are open.
            int null = open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                dup2(null, fd);
                close(null);
            }
        }
    signal(SIGPIPE, SIG_IGN);
}

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
    int tty = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    terminal = tty >= 0;
    if (tty >= 0)
        close(tty);
    struct sigaction hangup;
    bool nohup = sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_IGN;
    sigset_t mask;
    sigemptyset(&mask);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGTSTP, SIGCONT})
        sigaddset(&mask, signal);
    if (!nohup)
        sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    fd = Fd(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    return fd.Get() >= 0;
}

Signals::Meaning Signals::Next()
{
    signalfd_siginfo info;
    if (read(fd.Get(), &info, sizeof info) != sizeof info)
        return NONE;
    switch (info.ssi_signo) {
    case SIGHUP:
        return terminal ? END : RELOAD;
    case SIGUSR1:
        return RELOAD;
    case SIGTSTP:
        return STOP;
    case SIGCONT:
        return CONTINUE;
    default:
        return END;
    }
}

void Signals::Stop()
{
    // Sent again and let in, so that the shell sees a job stopped by SIGTSTP, and so that
    // the kernel leaves running, as it should, a process that no shell could continue.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    raise(SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
}
