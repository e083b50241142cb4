// The window's controls.
#include "view.h"

#include <commctrl.h>

#include "../../config/key_names.h"
#include "../../config/scan_codes.h"
#include "../../resources/tray_resource.h"
#include "dpi.h"
#include "text.h"

namespace {

HFONT GearFont, StepFont;
Layout Places;
bool Filling;

const wchar_t *const Plates[] = {L"Standard (reverse in 8)", L"Nascar (reverse in 1)", L"Gate map"};
const int32_t GateOrder[] = {1, 2, 3, 4, 5, 6, 7, GEAR_REVERSE};

// The large gear, and the next step in bold, from the dialog's font; the gates' tab stop, in
// units of that font.
void MakeFonts(HWND window, HFONT dialogFont)
{
    INT tab = 52;
    SendDlgItemMessageW(window, IDC_GATES, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tab));
    LOGFONTW font = {};
    GetObjectW(dialogFont, sizeof font, &font);
    font.lfWeight = FW_BOLD;
    HFONT step = CreateFontIndirectW(&font);
    font.lfHeight *= 5;
    HFONT gear = CreateFontIndirectW(&font);
    SendDlgItemMessageW(window, IDC_LEVER_GEAR, WM_SETFONT, reinterpret_cast<WPARAM>(gear), TRUE);
    SendDlgItemMessageW(window, IDC_NEXT_STEP, WM_SETFONT, reinterpret_cast<WPARAM>(step), TRUE);
    for (HFONT old : {GearFont, StepFont})
        if (old)
            DeleteObject(old);
    GearFont = gear;
    StepFont = step;
}

// Sets a control's text if it differs: what changes with every move of the lever must not
// flicker.
void SetText(HWND window, int id, const std::wstring &text)
{
    wchar_t shown[256];
    GetDlgItemTextW(window, id, shown, 256);
    if (text != shown)
        SetDlgItemTextW(window, id, text.c_str());
}

void AddItem(HWND window, int box, const std::wstring &text, int data)
{
    LRESULT item = SendDlgItemMessageW(window, box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendDlgItemMessageW(window, box, CB_SETITEMDATA, item, data);
}

void FillChoices(HWND window)
{
    for (int gear = 4; gear <= 7; gear++)
        SendDlgItemMessageW(window, IDC_MAX_GEAR, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(GearText(gear).c_str()));
    for (const wchar_t *output : {L"Keyboard keys", L"vJoy shifter"})
        SendDlgItemMessageW(window, IDC_OUTPUT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(output));
    for (const wchar_t *plate : Plates)
        SendDlgItemMessageW(window, IDC_PLATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(plate));
    // The keys in the order of the names' table (the shift keys first), by their names on
    // Windows; the config file keeps the Linux names.
    int names, scans;
    const KeyName *keys = KeyNames(&names);
    const KeyScan *table = KeyScans(&scans);
    for (int box : {IDC_UP_KEY, IDC_DOWN_KEY}) {
        for (int i = 0; i < names; i++)
            if (const KeyScan *key = FindKeyScan(keys[i].name))
                AddItem(window, box, Wide(keys[i].readable), static_cast<int>(key - table));
        AddItem(window, box, L"Press a key...", -1);
        SendDlgItemMessageW(window, box, CB_SETMINVISIBLE, 20, 0);
    }
    SendDlgItemMessageW(window, IDC_HOLD, EM_SETLIMITTEXT, 4, 0);
    SendDlgItemMessageW(window, IDC_GAP, EM_SETLIMITTEXT, 4, 0);
    SendDlgItemMessageW(window, IDC_TELEMETRY_PORT, EM_SETLIMITTEXT, 21, 0);
}

void SelectKey(HWND window, int box, int code)
{
    int count = static_cast<int>(SendDlgItemMessageW(window, box, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++)
        if (KeyOfItem(window, box, i) == code)
            SendDlgItemMessageW(window, box, CB_SETCURSEL, i, 0);
}

// The list's columns, made or fitted to its width.
void MakeColumns(HWND window, bool make)
{
    HWND list = GetDlgItem(window, IDC_CONTROLLERS);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT r;
    GetClientRect(list, &r);
    const wchar_t *names[] = {L"Game controller", L"Held now"};
    int scroll = MulDiv(GetSystemMetrics(SM_CXVSCROLL), static_cast<int>(WindowDpi(window)), static_cast<int>(Places.dpi));
    int widths[] = {r.right * 11 / 20, r.right - r.right * 11 / 20 - scroll};
    for (int i = 0; i < 2; i++) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t *>(names[i]);
        column.cx = widths[i];
        SendMessageW(list, make ? LVM_INSERTCOLUMNW : LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
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

void ShowRows(HWND window, const std::vector<std::wstring> &rows)
{
    HWND list = GetDlgItem(window, IDC_GATES);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::wstring &row : rows)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

const GateEntry *Entry(const GateMap &map, int32_t gear)
{
    for (int i = 0; i < map.count; i++)
        if (map.entries[i].gear == gear)
            return &map.entries[i];
    return nullptr;
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
    KeepLayout(&Places, window);
    MakeFonts(window, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
    FillChoices(window);
    MakeColumns(window, true);
}

void ScaleView(HWND window, UINT dpi, const RECT &suggested)
{
    MakeFonts(window, ScaleLayout(&Places, window, dpi, suggested));
    MakeColumns(window, false);
}

void ShowNextStep(HWND window, const std::wstring &text)
{
    SetText(window, IDC_NEXT_STEP, text);
}

void ShowLever(HWND window, const std::wstring &name, const std::wstring &large, const std::wstring &game,
               bool settable)
{
    SetText(window, IDC_LEVER_NAME, name);
    SetText(window, IDC_LEVER_GEAR, large);
    SetText(window, IDC_GAME_GEAR, game);
    EnableWindow(GetDlgItem(window, IDC_SET_GEAR), settable);
}

void ShowOutputState(HWND window, const std::wstring &text)
{
    SetText(window, IDC_OUTPUT_STATE, text);
}

void ShowTelemetryState(HWND window, const std::wstring &text)
{
    SetText(window, IDC_TELEMETRY_STATE, text);
}

void ShowSettings(HWND window, const Settings &s)
{
    Filling = true;
    SendDlgItemMessageW(window, IDC_MAX_GEAR, CB_SETCURSEL, s.maxGear - 4, 0);
    SetDlgItemInt(window, IDC_HOLD, s.holdMs, FALSE);
    SetDlgItemInt(window, IDC_GAP, s.gapMs, FALSE);
    SelectKey(window, IDC_UP_KEY, s.upCode);
    SelectKey(window, IDC_DOWN_KEY, s.downCode);
    SendDlgItemMessageW(window, IDC_OUTPUT, CB_SETCURSEL, s.output == OUTPUT_SHIFTER, 0);
    SetDlgItemTextW(window, IDC_TELEMETRY_PORT, TelemetryField(s).c_str());
    int plate = s.mapName == "standard" ? 0 : s.mapName == "nascar" ? 1 : 2;
    SendDlgItemMessageW(window, IDC_PLATE, CB_SETCURSEL, plate, 0);
    Filling = false;
}

bool ViewFilling()
{
    return Filling;
}

void ShowGates(HWND window, const Settings &s, bool chosen)
{
    std::vector<std::wstring> rows;
    bool plate = s.mapName == "standard" || s.mapName == "nascar";
    std::wstring name = s.mapName == "standard" ? L"Standard" : L"Nascar";
    if (plate && chosen)
        rows = {L"The legacy " + name + L" plate:"};
    else if (plate)
        rows = {L"No gates learned yet. Until then,", L"the legacy " + name + L" plate:"};
    for (int32_t gear : GateOrder)
        if (const GateEntry *e = Entry(s.map, gear))
            rows.push_back((plate ? L"    " : L"") + GearText(gear) + L"\t" + InputText(e->input));
    if (s.map.resetButton)
        rows.push_back((plate ? L"    " : L"") + std::wstring(L"reset\tbutton ") + std::to_wstring(s.map.resetButton));
    ShowRows(window, rows);
}

void ShowAnswers(HWND window, const Learning &learning, bool askingReset)
{
    std::vector<std::wstring> rows;
    for (int q = 0; q < 8; q++) {
        int32_t gear = GateOrder[q];
        const GateEntry *e = Entry(learning.map, gear);
        bool asked = !askingReset && LearnGear(learning) == gear;
        std::wstring answer = e ? InputText(e->input) : asked ? L"<- move the lever here" : q < learning.question ? L"skipped" : L"";
        rows.push_back(GearText(gear) + L"\t" + answer);
    }
    rows.push_back(std::wstring(L"reset\t") + (askingReset ? L"<- press its button (optional)" : L""));
    ShowRows(window, rows);
}

void ShowLearnButtons(HWND window, const std::wstring &prompt, bool learning, bool lever)
{
    SetDlgItemTextW(window, IDC_LEARN_PROMPT, prompt.c_str());
    SetDlgItemTextW(window, IDC_LEARN, learning ? L"&Cancel" : L"&Learn gates");
    EnableWindow(GetDlgItem(window, IDC_LEARN), learning || lever);
    EnableWindow(GetDlgItem(window, IDC_SKIP), learning);
    EnableWindow(GetDlgItem(window, IDC_DONE), learning);
    EnableWindow(GetDlgItem(window, IDC_PLATE), !learning);
}

void ShowStatus(HWND window, const std::wstring &text)
{
    HWND pane = GetDlgItem(window, IDC_STATUS);
    SetWindowTextW(pane, text.c_str());
    // The newest line in view.
    SendMessageW(pane, EM_LINESCROLL, 0, SendMessageW(pane, EM_GETLINECOUNT, 0, 0));
}

void ShowStartWithWindows(HWND window, bool on)
{
    CheckDlgButton(window, IDC_AUTOSTART, on ? BST_CHECKED : BST_UNCHECKED);
}

int KeyOfItem(HWND window, int box, int item)
{
    return static_cast<int>(SendDlgItemMessageW(window, box, CB_GETITEMDATA, item, 0));
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

HMENU GearMenu(int maxGear, int32_t game)
{
    HMENU menu = CreatePopupMenu();
    for (int32_t gear = GEAR_NONE; gear <= maxGear; gear++) {
        std::wstring text = gear == GEAR_NONE ? L"&Neutral" : L"&" + GearText(gear);
        AppendMenuW(menu, MF_STRING | (gear == game ? MF_CHECKED : 0), ID_MENU_GEAR + 1 + gear, text.c_str());
    }
    AppendMenuW(menu, MF_STRING | (game == GEAR_REVERSE ? MF_CHECKED : 0), ID_MENU_GEAR, L"&Reverse");
    return menu;
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
