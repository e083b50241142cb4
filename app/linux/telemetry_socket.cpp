// The telemetry socket: binding, draining with recvmmsg, what its status lines say, and
// where the daemon listens.
#include "telemetry_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

namespace {

const int64_t MINUTE_US = 60 * 1000000LL;

// Appends a line to the news.
void Say(TelemetryNews *news, const char *format, ...) __attribute__((format(printf, 2, 3)));
void Say(TelemetryNews *news, const char *format, ...)
{
    size_t used = strlen(news->lines);
    va_list args;
    va_start(args, format);
    vsnprintf(news->lines + used, sizeof news->lines - used, format, args);
    va_end(args);
}

void Clear(TelemetryNews *news)
{
    news->hasGear = false;
    news->gear = 0;
    news->lines[0] = '\0';
}

}  // namespace

bool TelemetrySocket::Open(uint32_t ip, int port, std::string *error)
{
    char address[INET_ADDRSTRLEN];
    in_addr a = {htonl(ip)};
    inet_ntop(AF_INET, &a, address, sizeof address);
    where = std::string(address) + ":" + std::to_string(port);
    loopback = ip >> 24 == 127;
    socket = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0 || !timer.Open()) {
        *error = std::string("cannot listen for telemetry: ") + strerror(errno);
        return false;
    }
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr = a;
    if (bind(socket.Get(), reinterpret_cast<const sockaddr *>(&at), sizeof at) == 0)
        return true;
    int e = errno;
    *error = "cannot listen for telemetry on UDP " + where + ": ";
    if (e == EADDRINUSE)
        *error += "the port is taken by another program (ss -ulpn shows which). Close it, or choose another "
                  "port with --telemetry and set the game to send there";
    else if (e == EACCES)
        *error += "ports below 1024 are for root. Choose a port from 1024 up, in gearvane and in the game";
    else if (e == EADDRNOTAVAIL)
        *error += std::string(address) + " is no address of this computer. Leave the address out for this "
                  "computer alone, or give 0.0.0.0 to take packets from other computers too";
    else
        *error += strerror(e);
    socket.Close();
    return false;
}

void TelemetrySocket::Take(const uint8_t *data, size_t size, const sockaddr_in &from, TelemetryNews *news)
{
    // Bound to 127.x the kernel already keeps other hosts out, unless it was told to route
    // them there (route_localnet): the sender decides, not the address it sent to.
    if (loopback && ntohl(from.sin_addr.s_addr) >> 24 != 127) {
        if (!saidForeign) {
            char sender[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            Say(news, "telemetry: packets from %s dropped: only this computer's are read on %s\n", sender,
                where.c_str());
            saidForeign = true;
        }
        return;
    }
    // A packet longer than the buffer was cut: it is read as none, and counted at its length.
    TelemetryReading r = ReadTelemetry(data, size <= PACKET_MAX ? size : 0);
    if (r.format == TELEMETRY_UNKNOWN) {
        CountDrop(&drops, size);
        return;
    }
    uint32_t bit = 1u << r.format;
    if (!(saidFormats & bit)) {
        saidFormats |= bit;
        if (r.format == TELEMETRY_FORZA_SLED)
            Say(news, "telemetry: Forza's Sled format has no gear: choose Dash in the game's Data Out settings\n");
        else
            Say(news, "telemetry: %s\n", TelemetryFormatName(r.format));
    }
    if (r.hasGear) {
        news->hasGear = true;
        news->gear = r.gear;
        format = r.format;
    }
}

void TelemetrySocket::Drain(int64_t now, TelemetryNews *news)
{
    Clear(news);
    mmsghdr messages[BATCH];
    iovec pieces[BATCH];
    sockaddr_in senders[BATCH];
    // The socket's buffer holds a few hundred small packets: more than that in one go means
    // a flood, and a key-up that is due must not wait for it.
    for (int batch = 0; batch < MOST_BATCHES; batch++) {
        memset(messages, 0, sizeof messages);
        for (int i = 0; i < BATCH; i++) {
            pieces[i] = {buffers[i], PACKET_MAX};
            messages[i].msg_hdr.msg_iov = &pieces[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &senders[i];
            messages[i].msg_hdr.msg_namelen = sizeof senders[i];
        }
        // MSG_TRUNC: the length of a packet too long for the buffer is its whole length.
        int n = recvmmsg(socket.Get(), messages, BATCH, MSG_TRUNC, nullptr);
        for (int i = 0; i < n; i++)
            Take(buffers[i], messages[i].msg_len, senders[i], news);
        if (n < BATCH)
            break;
    }
    if (drops.count && (reportedAt < 0 || now - reportedAt >= MINUTE_US))
        ReportDrops(now, news);
    else if (drops.count && !timerArmed) {
        timer.ArmAt(reportedAt + MINUTE_US);
        timerArmed = true;
    }
}

void TelemetrySocket::ReportDrops(int64_t now, TelemetryNews *news)
{
    char text[256];
    FormatDrops(drops, text, sizeof text);
    Say(news, "telemetry: %s", text);
    drops = {};
    reportedAt = now;
    if (timerArmed)
        timer.ArmAt(-1);
    timerArmed = false;
}

void TelemetrySocket::OnTimer(int64_t now, TelemetryNews *news)
{
    Clear(news);
    timer.Drain();
    if (drops.count)
        ReportDrops(now, news);
}

void TelemetrySocket::Flush(int64_t now, TelemetryNews *news)
{
    Clear(news);
    if (drops.count)
        ReportDrops(now, news);
}

bool TelemetryListener::ListenAt(uint32_t newIp, int newPort, int64_t now, TelemetryNews *news, std::string *error)
{
    Clear(news);
    if (newIp == ip && newPort == port)
        return true;
    Close(now, news);
    ip = newIp;
    if (!newPort)
        return true;
    socket.emplace();
    if (!socket->Open(ip, newPort, error)) {
        socket.reset();
        return false;
    }
    if (!poller->Watch(socket->Socket(), SRC_TELEMETRY, 0) || !poller->Watch(socket->TimerFd(), SRC_TELEMETRY, 1)) {
        *error = std::string("epoll_ctl: ") + strerror(errno);
        socket.reset();  // closing them takes them out of epoll
        return false;
    }
    port = newPort;
    Say(news, "telemetry: waiting for packets on %s\n", socket->Where().c_str());
    return true;
}

void TelemetryListener::OnReady(uint32_t index, int64_t now, TelemetryNews *news)
{
    if (!socket)
        Clear(news);
    else if (index == 0)
        socket->Drain(now, news);
    else
        socket->OnTimer(now, news);
}

void TelemetryListener::Stop(int64_t now, TelemetryNews *news)
{
    Clear(news);
    Close(now, news);
}

// Appends the last drops to *news.
void TelemetryListener::Close(int64_t now, TelemetryNews *news)
{
    port = 0;
    if (!socket)
        return;
    TelemetryNews last;
    socket->Flush(now, &last);
    Say(news, "%s", last.lines);
    poller->Unwatch(socket->Socket());
    poller->Unwatch(socket->TimerFd());
    socket.reset();
}
