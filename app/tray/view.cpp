// The window's controls.
#include "view.h"

#include <commctrl.h>

#include "../../config/scan_codes.h"
#include "../../core/learn.h"
#include "../../resources/tray_resource.h"
#include "text.h"

namespace {

HFONT GearFont;
bool Filling;

const wchar_t *const Plates[] = {L"Standard (reverse in 8)", L"Nascar (reverse in 1)", L"Gate map"};

void MakeGearFont(HWND window)
{
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    font.lfHeight *= 5;
    font.lfWeight = FW_BOLD;
    GearFont = CreateFontIndirectW(&font);
    SendDlgItemMessageW(window, IDC_LEVER_GEAR, WM_SETFONT, reinterpret_cast<WPARAM>(GearFont), FALSE);
}

void FillChoices(HWND window)
{
    for (int gear = 4; gear <= 7; gear++)
        SendDlgItemMessageW(window, IDC_MAX_GEAR, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(GearText(gear).c_str()));
    for (const wchar_t *output : {L"Keyboard keys", L"vJoy shifter"})
        SendDlgItemMessageW(window, IDC_OUTPUT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(output));
    for (const wchar_t *plate : Plates)
        SendDlgItemMessageW(window, IDC_PLATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(plate));
    int count;
    const KeyScan *keys = KeyScans(&count);
    for (int i = 0; i < count; i++)
        for (int box : {IDC_UP_KEY, IDC_DOWN_KEY}) {
            std::wstring name = Wide(keys[i].name);
            // The items stay in table order: an item's index is its key's.
            SendDlgItemMessageW(window, box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
        }
    SendDlgItemMessageW(window, IDC_UP_KEY, CB_SETMINVISIBLE, 20, 0);
    SendDlgItemMessageW(window, IDC_DOWN_KEY, CB_SETMINVISIBLE, 20, 0);
    INT tab = 52;
    SendDlgItemMessageW(window, IDC_GATES, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tab));
    SendDlgItemMessageW(window, IDC_HOLD, EM_SETLIMITTEXT, 4, 0);
    SendDlgItemMessageW(window, IDC_GAP, EM_SETLIMITTEXT, 4, 0);
    SendDlgItemMessageW(window, IDC_TELEMETRY_PORT, EM_SETLIMITTEXT, 21, 0);
}

void MakeColumns(HWND window)
{
    HWND list = GetDlgItem(window, IDC_CONTROLLERS);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT r;
    GetClientRect(list, &r);
    const wchar_t *names[] = {L"Game controller", L"Held now"};
    int widths[] = {r.right * 11 / 20, r.right - r.right * 11 / 20 - GetSystemMetrics(SM_CXVSCROLL)};
    for (int i = 0; i < 2; i++) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t *>(names[i]);
        column.cx = widths[i];
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

std::wstring InputText(const GateInput &input)
{
    if (input.kind == GateInput::BUTTON)
        return L"button " + std::to_wstring(input.value);
    switch (input.value) {
    case HAT_FORWARD:
        return L"hat up";
    case HAT_RIGHT:
        return L"hat right";
    case HAT_BACKWARD:
        return L"hat down";
    default:
        return L"hat left";
    }
}

void ShowGates(HWND window, const GateMap &map)
{
    HWND list = GetDlgItem(window, IDC_GATES);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    static const int32_t order[] = {1, 2, 3, 4, 5, 6, 7, GEAR_REVERSE};
    for (int32_t gear : order)
        for (int i = 0; i < map.count; i++)
            if (map.entries[i].gear == gear) {
                std::wstring row = GearText(gear) + L"\t" + InputText(map.entries[i].input);
                SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
            }
    if (map.resetButton) {
        std::wstring row = L"reset\tbutton " + std::to_wstring(map.resetButton);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    }
}

std::wstring Cell(HWND list, int row, int column);

// Sets a cell's text if it differs: a list that moves with the lever must not flicker.
void SetCell(HWND list, int row, int column, const std::wstring &text)
{
    if (Cell(list, row, column) == text)
        return;
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t *>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::wstring Cell(HWND list, int row, int column)
{
    wchar_t text[200] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 200;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

}  // namespace

void InitView(HWND window)
{
    MakeGearFont(window);
    FillChoices(window);
    MakeColumns(window);
}

void ShowLeverName(HWND window, const std::wstring &name)
{
    SetDlgItemTextW(window, IDC_LEVER_NAME, name.empty() ? L"waiting for a lever" : name.c_str());
}

void ShowGears(HWND window, bool lever, int32_t leverGear, int32_t gameGear, bool reported)
{
    SetDlgItemTextW(window, IDC_LEVER_GEAR, lever ? Wide(GearName(leverGear)).c_str() : L"-");
    std::wstring game = (reported ? L"the game reports " : L"the game is taken to be in ") + GearText(gameGear);
    SetDlgItemTextW(window, IDC_GAME_GEAR, game.c_str());
}

void ShowOutputState(HWND window, const std::wstring &text)
{
    SetDlgItemTextW(window, IDC_OUTPUT_STATE, text.c_str());
}

void ShowTelemetryState(HWND window, const std::wstring &text)
{
    SetDlgItemTextW(window, IDC_TELEMETRY_STATE, text.c_str());
}

void ShowSettings(HWND window, const Settings &s)
{
    Filling = true;
    SendDlgItemMessageW(window, IDC_MAX_GEAR, CB_SETCURSEL, s.maxGear - 4, 0);
    SetDlgItemInt(window, IDC_HOLD, s.holdMs, FALSE);
    SetDlgItemInt(window, IDC_GAP, s.gapMs, FALSE);
    SendDlgItemMessageW(window, IDC_UP_KEY, CB_SETCURSEL, s.upCode, 0);
    SendDlgItemMessageW(window, IDC_DOWN_KEY, CB_SETCURSEL, s.downCode, 0);
    SendDlgItemMessageW(window, IDC_OUTPUT, CB_SETCURSEL, s.output == OUTPUT_SHIFTER, 0);
    SetDlgItemTextW(window, IDC_TELEMETRY_PORT, TelemetryField(s).c_str());
    int plate = s.mapName == "standard" ? 0 : s.mapName == "nascar" ? 1 : 2;
    SendDlgItemMessageW(window, IDC_PLATE, CB_SETCURSEL, plate, 0);
    ShowGates(window, s.map);
    Filling = false;
}

bool ViewFilling()
{
    return Filling;
}

void ShowStatus(HWND window, const std::wstring &text)
{
    HWND pane = GetDlgItem(window, IDC_STATUS);
    SetWindowTextW(pane, text.c_str());
    // The newest line in view.
    SendMessageW(pane, EM_LINESCROLL, 0, SendMessageW(pane, EM_GETLINECOUNT, 0, 0));
}

void ShowLearning(HWND window, const std::wstring &prompt, bool learning, bool lever)
{
    const wchar_t *hint = lever ? L"A button per gear? Click Learn gates, then move the lever into each gear asked for."
                                : L"Plug the lever in to learn its gates.";
    SetDlgItemTextW(window, IDC_LEARN_PROMPT, prompt.empty() ? hint : prompt.c_str());
    SetDlgItemTextW(window, IDC_LEARN, learning ? L"&Cancel" : L"&Learn gates");
    EnableWindow(GetDlgItem(window, IDC_LEARN), learning || lever);
    EnableWindow(GetDlgItem(window, IDC_SKIP), learning);
}

void ShowStartWithWindows(HWND window, bool on)
{
    CheckDlgButton(window, IDC_AUTOSTART, on ? BST_CHECKED : BST_UNCHECKED);
}

void ShowControllers(HWND window, const std::vector<ControllerRow> &rows, const std::wstring &note)
{
    HWND list = GetDlgItem(window, IDC_CONTROLLERS);
    int selected = SelectedController(window);
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    if (count != static_cast<int>(rows.size())) {
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        selected = -1;
        for (size_t i = 0; i < rows.size(); i++) {
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = const_cast<wchar_t *>(L"");
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
    }
    for (size_t i = 0; i < rows.size(); i++) {
        int row = static_cast<int>(i);
        SetCell(list, row, 0, rows[i].lever ? rows[i].name + L" (the lever)" : rows[i].name);
        SetCell(list, row, 1, rows[i].held);
        // With one controller, or none chosen yet, the lever's row is the one to act on.
        if (selected < 0 && rows[i].lever) {
            LVITEMW state = {};
            state.stateMask = state.state = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        }
    }
    SetDlgItemTextW(window, IDC_CONTROLLERS_NOTE, note.c_str());
}

int SelectedController(HWND window)
{
    return static_cast<int>(
        SendDlgItemMessageW(window, IDC_CONTROLLERS, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int ShownNumber(HWND window, int id)
{
    wchar_t text[16];
    GetDlgItemTextW(window, id, text, 16);
    if (!text[0])
        return -1;
    int n = 0;
    for (const wchar_t *p = text; *p; p++) {
        if (*p < L'0' || *p > L'9' || n > 100000)
            return -1;
        n = n * 10 + (*p - L'0');
    }
    return n;
}

void BringForward(HWND window)
{
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
}

void HideWindow(HWND window, bool toNotifyArea)
{
    ShowWindow(window, toNotifyArea ? SW_HIDE : SW_MINIMIZE);
}

std::wstring TelemetryField(const Settings &s)
{
    if (!s.telemetryPort)
        return L"";
    std::string port = std::to_string(s.telemetryPort);
    return Wide(s.telemetryIp == 0x7f000001 ? port : s.telemetryAddress + ":" + port);
}

std::wstring GearText(int32_t gear)
{
    return gear == GEAR_NONE ? L"neutral" : Wide(GearQuestion(gear));
}

std::wstring HeldText(const Sample &sample, bool inputs)
{
    if (!inputs)
        return L"no buttons";
    std::wstring text;
    int held = 0;
    for (int b = 1; b <= 128; b++)
        if (ButtonHeld(sample, b))
            text += (held++ ? L", " : L"") + std::to_wstring(b);
    if (held)
        text = (held > 1 ? L"buttons " : L"button ") + text;
    static const wchar_t *const hats[] = {L"hat up", L"hat up-right", L"hat right", L"hat down-right",
                                          L"hat down", L"hat down-left", L"hat left", L"hat up-left"};
    if (sample.hat < 36000) {
        uint32_t eighth = (sample.hat + 2250) / 4500 % 8;
        text += (text.empty() ? L"" : L"; ") + std::wstring(hats[eighth]);
    }
    return text.empty() ? L"nothing" : text;
}
