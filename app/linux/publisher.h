// What the clients of the control socket are told: the state each was last sent (the lever,
// the game, the devices), every change of it, the settings and learning as they change, the
// last status lines for a client that connects, and the live input of every device for the
// clients that watch it. The loop hands in the state; this holds the socket and what was sent.
#ifndef GEARVANE_PUBLISHER_H
#define GEARVANE_PUBLISHER_H

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "../../core/tapper.h"
#include "control.h"
#include "control_protocol.h"
#include "device_watch.h"
#include "poller.h"

class Publisher {
public:
    // `simulate` and `configPath` are what a client is told in its hello; with `simulate` no
    // device but the simulated lever is listed or watched.
    Publisher(Poller *poller, bool simulate, const std::string &configPath)
        : poller(poller), simulate(simulate), configPath(configPath)
    {
    }

    // Listens on the control socket. Returns "" once listening; else why there is none, for a
    // status line.
    std::string Open() { return server.Open(poller); }
    bool Listening() const { return server.Listening(); }
    // Whether a client is connected: the state is worth working out for it only then.
    bool HasClients() const { return server.Count() > 0; }

    // Accepts the connections that wait; returns the slots of the new clients. When they are
    // the first since there were none, call CatchUp before greeting them.
    std::vector<int> Accept();
    // The device list is watched from now on, and the state as it is now is taken, to compare
    // what changes with. Returns "", or why the device list is not kept up to date, for a
    // status line once the clients are greeted.
    std::string CatchUp(const LeverState &lever, const Tapper *tapper);
    // A new client gets the whole state, in the order that clients rely on.
    void Greet(int slot, const Settings &settings, const std::vector<std::string> &fixed, const LearnView &learning);

    // A client's socket is ready: its whole lines go in *lines. Connected() says whether a
    // line may still be answered.
    void OnClient(int slot, uint32_t events, std::vector<std::string> *lines);
    bool Connected(int slot) const { return server.Connected(slot); }
    uint64_t Id(int slot) const { return server.Id(slot); }
    bool HasClient(uint64_t id) const { return server.HasClient(id); }
    // The answer to a client's request: ok when `error` is empty.
    void Reply(int slot, const std::string &id, const std::string &error);

    // A status line, to every client and to the backlog.
    void Say(const char *line);
    // The lever, when it changed; to the clients that watch, its input when it moved.
    void ShowLever(const LeverState &lever);
    // The game's gear, when it changed.
    void ShowGame(const Tapper *tapper);
    // What the keys that the scheduler asked for mean for the game's gear (`pressed`: the
    // key-down went out; `key`: its name): where the gear now comes from, the tap, the game.
    void ShowTaps(const Tapper *tapper, const TapActions &actions, bool pressed, const std::string &key);
    void ShowSettings(const Settings &settings, const std::vector<std::string> &fixed);
    void ShowLearning(const LearnView &learning);
    // The device list read again, to the clients when it changed. `driving`: the node of the
    // lever driven, or "".
    void ShowDevices(const std::string &driving);

    // A client starts or stops watching every device's live input: it is sent the state of
    // each at once, `lever` (whose input comes from the loop) first.
    void Watch(int slot, bool on, const LeverState &lever);
    // /dev/input changed: the devices are shown again, and while clients watch, those that
    // came are opened too and their state sent. `driving` as for ShowDevices.
    void OnNodes(const std::string &driving);
    // A watched device is ready: what it reports goes to the clients that watch.
    void OnDevice(uint32_t index);

    // After each turn of the loop: what the clients that went leave behind is closed, and
    // what waits for the clients is written.
    void EndTurn();
    // Says `reason` to every client and closes them.
    void Close(const char *reason);

private:
    GameState GameNow(const Tapper *tapper) const;
    std::vector<DeviceEntry> DevicesNow(const std::string &driving) const;
    void SendWatching(const std::string &node, const Sample &sample, bool hasHat);

    Poller *poller;
    bool simulate;
    std::string configPath;
    ControlServer server;
    DeviceWatch watch;
    std::deque<std::string> backlog;  // the last status lines, for a client that connects
    LeverState leverShown;
    GameState gameShown;
    const char *gameSource = "start";
    std::vector<DeviceEntry> devicesShown;
};

#endif
