// The telemetry socket: Winsock, with WSAEventSelect for the thread's wait.
#include <winsock2.h>

#include "telemetry_socket.h"

namespace {

const int64_t MINUTE_US = 60 * 1000000LL;

}  // namespace

std::string ListenError(int error, const std::string &where)
{
    std::string address = where.substr(0, where.rfind(':'));
    switch (error) {
    case WSAEADDRINUSE:
        return "the port is taken by another program (netstat -abno -p UDP, run as administrator, shows which). "
               "Close it, or type another port under Telemetry and set the game to send there";
    case WSAEACCES:
        return "another program has the port to itself, or Windows keeps it (netsh int ipv4 show "
               "excludedportrange protocol=udp lists those). Type another port under Telemetry and set the game "
               "to send there";
    case WSAEADDRNOTAVAIL:
        return address + " is no address of this computer. Leave the address out for this computer alone, or give "
                         "0.0.0.0 to take packets from other computers too";
    default:
        return "Winsock error " + std::to_string(error);
    }
}

TelemetrySocket::~TelemetrySocket()
{
    Close();
    if (started)
        WSACleanup();
}

int TelemetrySocket::Open(uint32_t ip, int port)
{
    Close();
    WSADATA data;
    if (!started && WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return WSASYSNOTREADY;
    started = true;
    if (!event.h)
        event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!timer.h)
        timer.Reset(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (!event.h || !timer.h || socket == NO_SOCKET) {
        int error = socket == NO_SOCKET ? WSAGetLastError() : static_cast<int>(GetLastError());
        Close();
        return error;
    }
    // No other program may then bind the port too (SO_REUSEADDR) and take the packets.
    BOOL on = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on), sizeof on);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(port));
    at.sin_addr.s_addr = htonl(ip);
    loopback = ip >> 24 == 127;
    saidForeign = false;
    saidFormats = 0;
    format = TELEMETRY_UNKNOWN;
    if (bind(socket, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0 ||
        WSAEventSelect(socket, event.h, FD_READ) != 0) {
        int error = WSAGetLastError();
        Close();
        return error;
    }
    return 0;
}

void TelemetrySocket::Close()
{
    if (socket != NO_SOCKET)
        closesocket(socket);
    socket = NO_SOCKET;
    if (event.h)
        ResetEvent(event.h);
    if (timer.h)
        CancelWaitableTimer(timer.h);
    timerArmed = false;
    drops = {};
}

void TelemetrySocket::Take(int size, uint32_t sender, TelemetryNews *news)
{
    if (loopback && sender >> 24 != 127) {
        if (!saidForeign)
            news->foreign = sender;
        saidForeign = true;
        return;
    }
    TelemetryReading r = ReadTelemetry(buffer, static_cast<size_t>(size));
    if (r.format == TELEMETRY_UNKNOWN) {
        CountDrop(&drops, static_cast<size_t>(size));
        return;
    }
    uint32_t bit = 1u << r.format;
    if (!(saidFormats & bit))
        news->formats |= bit;
    saidFormats |= bit;
    if (r.hasGear) {
        news->hasGear = true;
        news->gear = r.gear;
        format = r.format;
    }
}

void TelemetrySocket::Drain(int64_t now, TelemetryNews *news)
{
    *news = {};
    if (socket == NO_SOCKET)
        return;
    // Resets the event; each recvfrom that leaves packets waiting sets it again.
    WSANETWORKEVENTS happened;
    WSAEnumNetworkEvents(socket, event.h, &happened);
    for (int i = 0; i < MOST_PACKETS; i++) {
        sockaddr_in from = {};
        int fromSize = sizeof from;
        int size = recvfrom(socket, reinterpret_cast<char *>(buffer), PACKET_MAX, 0, reinterpret_cast<sockaddr *>(&from),
                            &fromSize);
        if (size == SOCKET_ERROR) {
            int error = WSAGetLastError();
            if (error == WSAEMSGSIZE)
                CountDrop(&drops, PACKET_MAX);
            else if (error != WSAECONNRESET)  // a reset is news of an earlier packet: the next may be fine
                break;
            continue;
        }
        Take(size, ntohl(from.sin_addr.s_addr), news);
    }
    if (drops.count && (reportedAt < 0 || now - reportedAt >= MINUTE_US)) {
        ReportDrops(now, news);
    } else if (drops.count && !timerArmed) {
        LARGE_INTEGER due;
        due.QuadPart = -(reportedAt + MINUTE_US - now) * 10;
        timerArmed = SetWaitableTimer(timer.h, &due, 0, nullptr, nullptr, FALSE) != 0;
    }
}

void TelemetrySocket::ReportDrops(int64_t now, TelemetryNews *news)
{
    news->drops = drops;
    drops = {};
    reportedAt = now;
    CancelWaitableTimer(timer.h);
    timerArmed = false;
}

void TelemetrySocket::OnTimer(int64_t now, TelemetryNews *news)
{
    *news = {};
    timerArmed = false;
    if (drops.count)
        ReportDrops(now, news);
}
