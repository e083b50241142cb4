// The control socket's listening end and its clients' queues.
#include "control.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Reads and writes of one client in one turn of the loop stop here, so that a client that
// floods cannot keep the loop from its other work.
enum { TURN_BYTES = 65536 };

bool MakeAddress(const std::string &path, sockaddr_un *address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path)
        return false;
    memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether a process listens at `path`. One that is too busy to take the connection now is
// there too.
bool Answers(const sockaddr_un &address)
{
    Fd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (probe.Get() < 0)
        return false;
    int rc = connect(probe.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    return rc == 0 || errno == EAGAIN || errno == EINPROGRESS;
}

}  // namespace

ControlServer::~ControlServer()
{
    struct stat st;
    if (Listening() && stat(path.c_str(), &st) == 0 && st.st_ino == inode)
        unlink(path.c_str());
}

std::string ControlServer::SocketPath()
{
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? std::string(runtime) + "/gearvane/control" : "";
}

std::string ControlServer::Open(Poller *loop)
{
    poller = loop;
    path = SocketPath();
    if (path.empty())
        return "no control socket: XDG_RUNTIME_DIR is not set";
    std::string folder = path.substr(0, path.rfind('/'));
    struct stat st;
    // The folder keeps other users out: it must be this user's, and for this user alone.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "no control socket: cannot make " + folder + ": " + strerror(errno);
    if (lstat(folder.c_str(), &st) != 0)
        return "no control socket: " + folder + ": " + strerror(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077))
        return "no control socket: " + folder + " must be a folder of this user's with no rights for others (0700)";
    sockaddr_un address;
    if (!MakeAddress(path, &address))
        return "no control socket: " + path + " is too long for a socket's name";
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return "no control socket: " + path + " is there and is not a socket";
        if (Answers(address))
            return "no control socket: another gearvane has " + path;
        unlink(path.c_str());  // left by a gearvane that ended without removing it
    }
    // Bound and listening under a name of its own first, then linked as `control`: a client
    // that sees `control` can connect at once, and of two gearvanes only one links it.
    std::string own = folder + "/.control." + std::to_string(getpid());
    sockaddr_un ownAddress;
    if (!MakeAddress(own, &ownAddress))
        return "no control socket: " + own + " is too long for a socket's name";
    unlink(own.c_str());  // left by an earlier process of the same number
    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0 || bind(fd.Get(), reinterpret_cast<const sockaddr *>(&ownAddress), sizeof ownAddress) != 0)
        return "no control socket: " + own + ": " + strerror(errno);
    bool linked = listen(fd.Get(), MAX_CLIENTS) == 0 && link(own.c_str(), path.c_str()) == 0;
    int why = errno;
    unlink(own.c_str());
    if (!linked)
        return why == EEXIST ? "no control socket: another gearvane has " + path
                             : "no control socket: " + path + ": " + strerror(why);
    if (stat(path.c_str(), &st) != 0 || !poller->Watch(fd.Get(), SRC_CONTROL)) {
        why = errno;
        unlink(path.c_str());
        return "no control socket: " + path + ": " + strerror(why);
    }
    inode = st.st_ino;
    listening = std::move(fd);
    return "";
}

void ControlServer::Accept(const std::string &byeLine, std::vector<int> *fresh)
{
    for (;;) {
        Fd fd(accept4(listening.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.Get() < 0)
            return;
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid())
            continue;  // another user's: closed before a word is said
        int slot = 0;
        while (slot < MAX_CLIENTS && Connected(slot))
            slot++;
        if (slot == MAX_CLIENTS) {
            std::string bye = byeLine + "\n";
            send(fd.Get(), bye.data(), bye.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            continue;
        }
        if (!poller->Watch(fd.Get(), SRC_CLIENT, slot))
            continue;
        clients[slot] = Client();
        clients[slot].fd = std::move(fd);
        clients[slot].id = nextId++;
        fresh->push_back(slot);
    }
}

void ControlServer::Close(int slot)
{
    poller->Unwatch(clients[slot].fd.Get());
    clients[slot] = Client();
}

void ControlServer::OnReady(int slot, uint32_t events, std::vector<std::string> *lines)
{
    Client &c = clients[slot];
    if (!Connected(slot))
        return;
    if (events & EPOLLOUT)
        Write(slot);
    if (!Connected(slot) || !(events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
        return;
    char buffer[4096];
    for (size_t taken = 0; taken < TURN_BYTES;) {
        ssize_t n = recv(c.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (n <= 0) {
            Close(slot);
            return;
        }
        taken += n;
        for (ssize_t i = 0; i < n; i++) {
            if (buffer[i] != '\n') {
                c.in += buffer[i];
                continue;
            }
            if (c.in.find_first_not_of(" \t\r") != std::string::npos)
                lines->push_back(c.in);
            c.in.clear();
        }
        if (c.in.size() > LINE_BYTES) {
            Close(slot);
            return;
        }
    }
}

void ControlServer::Send(int slot, const std::string &line)
{
    Client &c = clients[slot];
    if (!Connected(slot))
        return;
    if (c.out.size() - c.sent + line.size() + 1 > QUEUE_BYTES) {
        // It does not keep up: closed without a word, it may connect again for the whole state.
        Close(slot);
        return;
    }
    c.out += line;
    c.out += '\n';
}

void ControlServer::Broadcast(const std::string &line)
{
    for (int slot = 0; slot < MAX_CLIENTS; slot++)
        Send(slot, line);
}

void ControlServer::Write(int slot)
{
    Client &c = clients[slot];
    for (size_t written = 0; c.sent < c.out.size() && written < TURN_BYTES;) {
        ssize_t n = send(c.fd.Get(), c.out.data() + c.sent, c.out.size() - c.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n < 0) {
            Close(slot);
            return;
        }
        c.sent += n;
        written += n;
    }
    if (c.sent == c.out.size()) {
        c.out.clear();
        c.sent = 0;
    } else if (c.sent > QUEUE_BYTES / 2) {
        c.out.erase(0, c.sent);
        c.sent = 0;
    }
    bool waiting = !c.out.empty();
    if (waiting != c.writable) {
        poller->Writable(c.fd.Get(), SRC_CLIENT, slot, waiting);
        c.writable = waiting;
    }
}

void ControlServer::Flush()
{
    for (int slot = 0; slot < MAX_CLIENTS; slot++)
        if (Connected(slot) && !clients[slot].out.empty() && !clients[slot].writable)
            Write(slot);
}

void ControlServer::CloseAll(const std::string &byeLine)
{
    for (int slot = 0; slot < MAX_CLIENTS; slot++) {
        if (!Connected(slot))
            continue;
        Send(slot, byeLine);
        if (Connected(slot))
            Write(slot);
        if (Connected(slot))
            Close(slot);
    }
}

bool ControlServer::HasClient(uint64_t id) const
{
    for (const Client &c : clients)
        if (c.id == id && c.fd.Get() >= 0)
            return true;
    return false;
}

int ControlServer::Count() const
{
    int n = 0;
    for (const Client &c : clients)
        n += c.fd.Get() >= 0;
    return n;
}

bool ControlServer::AnyWatching() const
{
    for (const Client &c : clients)
        if (c.fd.Get() >= 0 && c.watching)
            return true;
    return false;
}
