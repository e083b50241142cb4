// The game controllers, the choice of the lever, and learning its gates.
#include "tray_state.h"

#include "../../config/gate_map.h"
#include "../../resources/tray_resource.h"
#include "notify_icon.h"
#include "text.h"
#include "view.h"

namespace {

bool IsLever(const Controller &c)
{
    return T.lever != LEVER_NONE && c.instance == T.leverInstance;
}

void Drive(const Controller &c)
{
    // The lever taken is the one waited for when it is unplugged, whatever else is there.
    if (T.wanted.name.empty())
        T.wanted.name = c.name;
    T.wanted.known = true;
    T.wanted.instance = c.instance;
    T.lever = LEVER_OPENING;
    T.leverInstance = c.instance;
    T.leverName = c.name;
    T.asked = false;
    T.orders.lever = ToGuid(c.instance);
    T.orders.generation = ++T.generations;
    Order();
}

void Ask()
{
    if (T.asked)
        return;
    T.asked = true;
    Status("%d game controllers are plugged in and none is chosen as the lever: choose it in the window",
           static_cast<int>(T.controllers.list.size()));
    if (T.iconShown)
        ShowNotifyBalloon(T.window, L"Which one is the lever?",
                          L"Several game controllers are plugged in. Open gearvane and choose the lever under Game "
                          L"controllers.");
}

void StopLearning(const wchar_t *note)
{
    if (!T.learning.on)
        return;
    T.learning.on = false;
    T.orders.learning = false;
    Order();
    T.learnNote = note;
    ShowGateBox();
    UpdateGears();
}

void FinishLearning()
{
    T.learning.on = false;
    T.orders.learning = false;
    const GateMap &map = T.learning.learn.map;
    if (map.count == 0) {
        Order();
        T.learnNote = L"No gear learned: the gates stay as they were.";
        ShowGateBox();
        UpdateGears();
        return;
    }
    char text[200];
    FormatGateMap(map, text, sizeof text);
    std::string name = Utf8(T.leverName);
    T.settings.map = map;
    T.settings.mapName = T.gateMap = text;
    T.settings.device = name;
    for (const char *key : {"gate", "plate", "device"})
        Forget(key);
    Save(LearnedSettings(name, map));
    SaveLeverInstance(T.leverName, T.leverInstance);
    T.wanted = {T.leverName, true, T.leverInstance};
    OrderSettings();
    Status("gates learned from %s: %s", name.c_str(), text);
    ShowSettings(T.window, T.settings);
    T.learnNote = L"Learned. The lever shifts again from its next move.";
    ShowGateBox();
    T.leverGear = DecodeGate(map, T.sample).gear;
    UpdateGears();
}

}  // namespace

void ShowList()
{
    const wchar_t *note = T.asked ? L"Which one is the lever? Select it, then click Use as the lever."
                          : T.controllers.list.empty() ? L"No game controller is plugged in."
                                                       : L"";
    ShowControllers(T.window, ControllerRows(T.controllers, T.lever != LEVER_NONE ? &T.leverInstance : nullptr),
                    note);
    EnableWindow(GetDlgItem(T.window, IDC_USE_LEVER), SelectedController(T.window) >= 0);
}

void LeverGone()
{
    T.lever = LEVER_NONE;
    T.sample = Released();
    T.leverGear = GEAR_NONE;
    Status("lever unplugged; waiting for it");
    if (T.learning.on) {
        StopLearning(L"");
        Status("learning stopped: the gates stay as they were");
    }
    ShowGateBox();
    UpdateGears();
}

void Rescan()
{
    KillTimer(T.window, ID_DEVICES);
    KillTimer(T.window, ID_RETRY);
    ListControllersAgain(&T.controllers, T.window);
    std::vector<Controller> attached = Attached(T.controllers);
    bool listed = false;
    for (const Controller &c : attached)
        listed = listed || IsLever(c);
    if (T.lever != LEVER_NONE && !listed) {
        T.orders.generation = 0;
        Order();
        LeverGone();
    }
    if (T.lever == LEVER_NONE) {
        int chosen = ChooseLever(attached, T.wanted);
        if (chosen >= 0)
            Drive(attached[chosen]);
        else if (chosen == CHOICE_ASK)
            Ask();
        else
            T.asked = false;
    }
    ShowList();
    UpdateGears();
}

void Learned(bool ended)
{
    if (ended) {
        FinishLearning();
        return;
    }
    ShowGateBox();
    UpdateGears();
}

void ChooseController()
{
    EnableWindow(GetDlgItem(T.window, IDC_USE_LEVER), SelectedController(T.window) >= 0);
}

void ClickUseLever()
{
    int i = SelectedController(T.window);
    std::vector<Controller> attached = Attached(T.controllers);
    if (i < 0 || i >= static_cast<int>(attached.size()))
        return;
    const Controller &c = attached[i];
    std::string name = Utf8(c.name);
    T.wanted = {c.name, true, c.instance};
    T.settings.device = name;
    Forget("device");
    Save({{"device", name}});
    SaveLeverInstance(c.name, c.instance);
    if (IsLever(c))
        return;
    StopLearning(L"");
    Status("lever chosen: %s", name.c_str());
    T.lever = LEVER_NONE;
    Drive(c);
    ShowList();
    UpdateGears();
}

void ClickLearn()
{
    if (T.learning.on) {
        StopLearning(L"Learning cancelled: the gates stay as they were.");
        return;
    }
    if (T.lever != LEVER_OPEN)
        return;
    // No taps while the lever answers questions.
    T.orders.learning = true;
    Order();
    StartGateLearning(&T.learning, T.sample);
    Learned(false);
}

void ClickSkip()
{
    if (T.learning.on)
        Learned(SkipGate(&T.learning));
}

void ClickDone()
{
    if (T.learning.on)
        Learned(EndGates(&T.learning));
}

void ClickSetGear()
{
    RECT r;
    GetWindowRect(GetDlgItem(T.window, IDC_SET_GEAR), &r);
    HMENU menu = GearMenu(T.settings.maxGear, T.gameGear);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, T.window, nullptr);
    DestroyMenu(menu);
}

void SetGameGear(int32_t gear)
{
    if (gear < GEAR_REVERSE || gear > GEAR_TOP)
        return;
    T.orders.gameGear = gear;
    T.orders.gameGearSaid++;
    Order();
}
