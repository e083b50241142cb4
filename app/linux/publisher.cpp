// Telling the clients of the control socket what changed, and greeting new ones.
#include "publisher.h"

#include <errno.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

enum { BACKLOG_LINES = 20 };

// Unix time in milliseconds, for the clients' status lines.
int64_t WallMs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

std::vector<int> Publisher::Accept()
{
    std::vector<int> fresh;
    server.Accept(ByeLine("too many clients: at most 8"), &fresh);
    return fresh;
}

std::string Publisher::CatchUp(const LeverState &lever, const Tapper *tapper)
{
    std::string why;
    if (!simulate && !watch.WatchNodes(poller, true))
        why = std::string("the device list is not kept up to date: ") + strerror(errno);
    leverShown = lever;
    gameShown = GameNow(tapper);
    devicesShown = DevicesNow(lever.node);
    return why;
}

void Publisher::Greet(int slot, const Settings &settings, const std::vector<std::string> &fixed,
                      const LearnView &learning)
{
    server.Send(slot, HelloLine(getpid(), simulate, configPath));
    server.Send(slot, SettingsLine(settings, fixed));
    server.Send(slot, DevicesLine(devicesShown));
    server.Send(slot, LeverLine(leverShown));
    server.Send(slot, GameLine(gameShown));
    server.Send(slot, LearningLine(learning));
    for (const std::string &line : backlog)
        server.Send(slot, line);
}

void Publisher::OnClient(int slot, uint32_t events, std::vector<std::string> *lines)
{
    server.OnReady(slot, events, lines);
}

void Publisher::Reply(int slot, const std::string &id, const std::string &error)
{
    server.Send(slot, ReplyLine(id, error.empty(), error));
}

void Publisher::Say(const char *line)
{
    int64_t now = WallMs();
    server.Broadcast(StatusLine(line, now, false));
    backlog.push_back(StatusLine(line, now, true));
    if (backlog.size() > BACKLOG_LINES)
        backlog.pop_front();
}

void Publisher::SendWatching(const std::string &node, const Sample &sample, bool hasHat)
{
    for (int slot = 0; slot < ControlServer::MAX_CLIENTS; slot++)
        if (server.Watching(slot))
            server.Send(slot, DeviceInputLine(node, sample, hasHat));
}

void Publisher::ShowLever(const LeverState &l)
{
    if (!HasClients() || l == leverShown)
        return;
    bool moved =
        l.attached && leverShown.attached && l.node == leverShown.node && !SameSample(l.sample, leverShown.sample);
    leverShown = l;
    server.Broadcast(LeverLine(l));
    if (moved)
        SendWatching(l.node, l.sample, l.hasHat);
}

GameState Publisher::GameNow(const Tapper *tapper) const
{
    GameState g;
    g.gear = TapperLanding(tapper);
    g.source = TapperReporting(tapper) ? "telemetry" : gameSource;
    g.busy = TapperBusy(tapper);
    g.target = TapperHeading(tapper);
    return g;
}

void Publisher::ShowGame(const Tapper *tapper)
{
    GameState g = GameNow(tapper);
    if (!HasClients() || g == gameShown)
        return;
    gameShown = g;
    server.Broadcast(GameLine(g));
}

void Publisher::ShowTaps(const Tapper *tapper, const TapActions &a, bool pressed, const std::string &key)
{
    bool resync = (a.news.reset || a.news.set) && !a.news.reported;
    if (resync)
        gameSource = a.news.reset ? "reset" : "user";
    if (pressed && HasClients()) {
        int32_t to = TapperLanding(tapper), from = to - a.press;
        // The gear the game was set to comes first, then the tap that goes on from it.
        GameState before = {from, gameSource, TapperHeading(tapper), true};
        if (resync && !(before == gameShown)) {
            gameShown = before;
            server.Broadcast(GameLine(before));
        }
        server.Broadcast(TapLine(a.press, key, from, to));
    }
    if (pressed)
        gameSource = "counted";
    ShowGame(tapper);
}

void Publisher::ShowSettings(const Settings &settings, const std::vector<std::string> &fixed)
{
    server.Broadcast(SettingsLine(settings, fixed));
}

void Publisher::ShowLearning(const LearnView &learning)
{
    server.Broadcast(LearningLine(learning));
}

std::vector<DeviceEntry> Publisher::DevicesNow(const std::string &driving) const
{
    if (simulate)
        return {{"simulate", "gearvane simulated lever", "gearvane simulated lever", 0, 0, MAX_BUTTONS, true, true,
                 true, ""}};
    return ListDevices(driving);
}

void Publisher::ShowDevices(const std::string &driving)
{
    if (!HasClients())
        return;
    std::vector<DeviceEntry> devices = DevicesNow(driving);
    if (devices == devicesShown)
        return;
    devicesShown = devices;
    server.Broadcast(DevicesLine(devices));
}

void Publisher::Watch(int slot, bool on, const LeverState &lever)
{
    if (on == server.Watching(slot))
        return;
    server.SetWatching(slot, on);
    if (!on)
        return;
    std::vector<DeviceInput> states;
    if (lever.attached)
        states.push_back({lever.node, lever.sample, lever.hasHat});
    if (!simulate)
        watch.Open(poller, lever.node, &states);
    for (const DeviceInput &in : states)
        server.Send(slot, DeviceInputLine(in.node, in.sample, in.hasHat));
}

void Publisher::OnNodes(const std::string &driving)
{
    if (!watch.OnNodes())
        return;
    ShowDevices(driving);
    if (!watch.IsOpen())
        return;
    std::vector<DeviceInput> states;
    watch.Open(poller, driving, &states);
    for (const DeviceInput &in : states)
        SendWatching(in.node, in.sample, in.hasHat);
}

void Publisher::OnDevice(uint32_t index)
{
    DeviceInput in;
    if (watch.OnReady(index, &in))
        SendWatching(in.node, in.sample, in.hasHat);
}

void Publisher::EndTurn()
{
    if (watch.IsOpen() && !server.AnyWatching())
        watch.Close();
    if (server.Listening() && !HasClients()) {
        watch.WatchNodes(poller, false);
        devicesShown.clear();
    }
    server.Flush();
}

void Publisher::Close(const char *reason)
{
    server.CloseAll(ByeLine(reason));
}
