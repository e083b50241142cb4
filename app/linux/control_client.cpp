// A short-lived client of the control socket, for scripts and hotkeys.
#include "control_client.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <vector>

#include "../../core/learn.h"
#include "control.h"
#include "control_protocol.h"
#include "fd.h"
#include "say.h"

namespace {

enum { ANSWER_MS = 5000 };

// Sends `request` and reads the lines up to its reply, which is last in *lines. Returns
// false, having said why, when there is no gearvane to ask or it does not answer.
bool Ask(const std::string &request, std::vector<std::string> *lines)
{
    std::string path = ControlServer::SocketPath();
    if (path.empty()) {
        PrintError("no gearvane is running here: XDG_RUNTIME_DIR is not set, so there is no control socket");
        return false;
    }
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0 || connect(fd.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED)
            PrintError("no gearvane is running (nothing listens at %s)", path.c_str());
        else
            PrintError("cannot reach gearvane at %s: %s", path.c_str(), strerror(errno));
        return false;
    }
    std::string out = request + "\n", in;
    size_t sent = 0;
    for (;;) {
        pollfd p = {fd.Get(), static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        int ready = poll(&p, 1, ANSWER_MS);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            PrintError("gearvane did not answer within %d s", ANSWER_MS / 1000);
            return false;
        }
        if ((p.revents & POLLOUT) && sent < out.size()) {
            ssize_t n = send(fd.Get(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            sent += n > 0 ? n : 0;
        }
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[4096];
        ssize_t n = recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        in.append(buffer, n);
        for (size_t end; (end = in.find('\n')) != std::string::npos; in.erase(0, end + 1)) {
            lines->push_back(in.substr(0, end));
            DaemonLine line;
            if (!ReadDaemonLine(lines->back(), &line))
                continue;
            if (line.type == "reply")
                return true;
            if (line.type == "bye") {
                PrintError("gearvane closed the connection: %s", line.error.c_str());
                return false;
            }
        }
    }
    PrintError("gearvane closed the connection before it answered");
    return false;
}

// Whether what was printed reached standard output; says why not.
bool Printed()
{
    if (fflush(stdout) == 0)
        return true;
    PrintError("standard output: %s", strerror(errno));
    return false;
}

}  // namespace

int PrintStatus()
{
    std::vector<std::string> lines;
    if (!Ask("{\"type\":\"ping\",\"id\":1}", &lines))
        return 1;
    lines.pop_back();
    fputs(DescribeState(lines).c_str(), stdout);
    return Printed() ? 0 : 1;
}

int SetGameGear(int32_t gear)
{
    std::vector<std::string> lines;
    if (!Ask("{\"type\":\"set-gear\",\"id\":1,\"gear\":" + std::to_string(gear) + "}", &lines))
        return 1;
    DaemonLine reply;
    ReadDaemonLine(lines.back(), &reply);
    if (!reply.ok) {
        PrintError("%s", reply.error.c_str());
        return 1;
    }
    printf("the game is taken to be in %s\n", gear == GEAR_NONE ? "neutral" : GearQuestion(gear));
    return Printed() ? 0 : 1;
}
