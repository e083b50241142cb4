// The control socket, $XDG_RUNTIME_DIR/gearvane/control: the listening socket in a folder of
// the user's alone, its clients (of the same user, at most 8), and a bounded queue of lines
// for each, so that a client that reads slowly or not at all never holds the loop up.
#ifndef GEARVANE_CONTROL_H
#define GEARVANE_CONTROL_H

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "fd.h"
#include "poller.h"

class ControlServer {
public:
    enum {
        MAX_CLIENTS = 8,
        QUEUE_BYTES = 256 * 1024,  // lines waiting for a client; more drops it
        LINE_BYTES = 65536,        // a client's line longer than this drops it
    };

    ControlServer() = default;
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;
    // Removes the socket if it is still this one's.
    ~ControlServer();

    // The socket's path: $XDG_RUNTIME_DIR/gearvane/control, or "" without XDG_RUNTIME_DIR.
    static std::string SocketPath();

    // Makes the folder if it is missing and listens, with its descriptors in `poller` (the
    // listening socket as SRC_CONTROL, each client as SRC_CLIENT with its slot). Returns ""
    // once listening; else why there is no socket, for a status line.
    std::string Open(Poller *poller);
    bool Listening() const { return listening.Get() >= 0; }

    // Accepts the connections that wait. Another user's is closed at once; one beyond the
    // 8th is sent `byeLine` and closed. The slots of the new clients go in *fresh.
    void Accept(const std::string &byeLine, std::vector<int> *fresh);
    // A client's socket is ready (`events` from epoll): reads its whole lines into *lines,
    // without their newlines, and writes what waits for it. Closes it when it has gone.
    void OnReady(int slot, uint32_t events, std::vector<std::string> *lines);

    // Queues a line (without its newline) for one client or for all. A client whose queue
    // would overflow is closed.
    void Send(int slot, const std::string &line);
    void Broadcast(const std::string &line);
    // Writes what it can of every queue now, never waiting; the rest goes when the client
    // can take it.
    void Flush();
    // Sends `byeLine` to every client, as far as each can take it now, and closes them.
    void CloseAll(const std::string &byeLine);

    bool Connected(int slot) const { return clients[slot].fd.Get() >= 0; }
    // A number for the connection in `slot`, never given to another one: 0 when none.
    uint64_t Id(int slot) const { return clients[slot].id; }
    bool HasClient(uint64_t id) const;
    int Count() const;
    // Whether the client asked for every device's live input.
    bool Watching(int slot) const { return clients[slot].watching; }
    void SetWatching(int slot, bool on) { clients[slot].watching = on; }
    bool AnyWatching() const;

private:
    struct Client {
        Fd fd;
        uint64_t id = 0;
        std::string in;       // read, up to a newline not yet seen
        std::string out;      // to write, from `sent` on
        size_t sent = 0;
        bool writable = false;  // epoll is told of its writability
        bool watching = false;
    };

    void Close(int slot);
    void Write(int slot);

    Poller *poller = nullptr;
    Fd listening;
    std::string path;
    ino_t inode = 0;
    Client clients[MAX_CLIENTS];
    uint64_t nextId = 1;
};

#endif
