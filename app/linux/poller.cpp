// epoll with a source tag on each descriptor.
#include "poller.h"

#include <errno.h>
#include <sys/epoll.h>

bool Poller::Open()
{
    epoll = Fd(epoll_create1(EPOLL_CLOEXEC));
    return epoll.Get() >= 0;
}

namespace {

bool Control(int epoll, int op, int fd, Source source, uint32_t index, uint32_t events)
{
    epoll_event ev = {};
    ev.events = events;
    ev.data.u64 = static_cast<uint64_t>(index) << 32 | source;
    return epoll_ctl(epoll, op, fd, &ev) == 0;
}

}  // namespace

bool Poller::Watch(int fd, Source source, uint32_t index)
{
    return Control(epoll.Get(), EPOLL_CTL_ADD, fd, source, index, EPOLLIN);
}

bool Poller::Writable(int fd, Source source, uint32_t index, bool writable)
{
    return Control(epoll.Get(), EPOLL_CTL_MOD, fd, source, index, writable ? EPOLLIN | EPOLLOUT : EPOLLIN);
}

void Poller::Unwatch(int fd)
{
    epoll_ctl(epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
}

int Poller::Wait(Ready *ready, int max, int timeoutMs)
{
    enum { MAX_EVENTS = 16 };
    epoll_event events[MAX_EVENTS];
    int n = epoll_wait(epoll.Get(), events, max < MAX_EVENTS ? max : MAX_EVENTS, timeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    for (int i = 0; i < n; i++)
        ready[i] = {static_cast<Source>(events[i].data.u64 & 0xffffffff),
                    static_cast<uint32_t>(events[i].data.u64 >> 32), events[i].events};
    return n;
}
