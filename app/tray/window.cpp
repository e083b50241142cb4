// The window and its controls.
#include "window.h"

#include <commctrl.h>

#include "../../config/scan_codes.h"
#include "../../core/learn.h"
#include "../../resources/tray_resource.h"
#include "notify_icon.h"
#include "text.h"
#include "tray.h"

const wchar_t WindowClass[] = L"gearvane-tray";

namespace {

HFONT GearFont;
UINT TaskbarCreated;
// Set while the program fills the controls, so that their change notices are not taken
// for the user's changes.
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
}

// The whole number in an edit control, or -1 when it holds none.
int Number(HWND window, int id)
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

void OnCommand(HWND window, int id, int code)
{
    if (Filling)
        return;
    switch (id) {
    case IDC_MAX_GEAR:
        if (code == CBN_SELCHANGE)
            ChooseMaxGear(4 + static_cast<int>(SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0)));
        break;
    case IDC_HOLD:
    case IDC_GAP: {
        int n = Number(window, id);
        bool valid = id == IDC_HOLD ? n >= 1 && n <= 1000 : n >= 0 && n <= 1000;
        if (code == EN_CHANGE && valid)
            (id == IDC_HOLD ? ChooseHold : ChooseGap)(n);
        // Leaving the box with something that is no value puts back the one in force.
        if (code == EN_KILLFOCUS && !valid)
            ShowSettings(window, App.settings);
        break;
    }
    case IDC_UP_KEY:
    case IDC_DOWN_KEY:
        if (code == CBN_SELCHANGE) {
            int count;
            const KeyScan *keys = KeyScans(&count);
            int i = static_cast<int>(SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0));
            if (i >= 0 && i < count)
                ChooseKey(id == IDC_UP_KEY, &keys[i]);
        }
        break;
    case IDC_PLATE:
        if (code == CBN_SELCHANGE)
            ChoosePlate(static_cast<int>(SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0)));
        break;
    case IDC_LEARN:
        ClickLearn();
        break;
    case IDC_SKIP:
        ClickSkip();
        break;
    case IDC_AUTOSTART:
        ChooseStartWithWindows(IsDlgButtonChecked(window, IDC_AUTOSTART) == BST_CHECKED);
        break;
    case IDC_HIDE:
    case IDCANCEL:  // Escape
        HideWindow(window, App.iconShown);
        break;
    case ID_MENU_SHOW:
        BringForward(window);
        break;
    case IDC_QUIT:
    case ID_MENU_QUIT:
        QuitTray(0);
        break;
    }
}

// Sets a dialog procedure's answer to a message that wants one.
INT_PTR Answer(HWND window, LRESULT result)
{
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK TrayDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TaskbarCreated && TaskbarCreated) {
        App.iconShown = AddNotifyIcon(window, App.icon, L"gearvane");
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        MakeGearFont(window);
        FillChoices(window);
        return FALSE;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        HideWindow(window, App.iconShown);
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE && App.iconShown) {
            HideWindow(window, true);
            return Answer(window, 0);
        }
        return FALSE;
    case WM_DEVICECHANGE:
        OnDeviceChange();
        return Answer(window, TRUE);
    case WM_TIMER:
        if (wParam == ID_SEARCH_TIMER)
            OnDeviceChange();
        else if (wParam == ID_POLL_TIMER)
            OnLeverEvent();
        else if (wParam == ID_MODAL_TIMER)
            ServeInModalLoop();
        return TRUE;
    // A menu or a move of the window runs a loop of its own: shifting goes on from there.
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
        SetTimer(window, ID_MODAL_TIMER, USER_TIMER_MINIMUM, nullptr);
        return FALSE;
    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
        KillTimer(window, ID_MODAL_TIMER);
        return FALSE;
    case WM_APP_NOTIFY_ICON:
        if (lParam == WM_LBUTTONUP || lParam == WM_LBUTTONDBLCLK)
            BringForward(window);
        else if (lParam == WM_RBUTTONUP || lParam == WM_CONTEXTMENU)
            ShowNotifyMenu(window);
        return TRUE;
    case WM_APP_SHOW:
        BringForward(window);
        return TRUE;
    case WM_APP_QUIT:
        QuitTray(0);
        return TRUE;
    case WM_QUERYENDSESSION:
        return Answer(window, TRUE);
    case WM_ENDSESSION:
        if (wParam)
            EndSession();
        return Answer(window, 0);
    }
    return FALSE;
}

}  // namespace

HWND CreateTrayWindow(HINSTANCE instance, HICON icon)
{
    WNDCLASSEXW c = {};
    c.cbSize = sizeof c;
    c.lpfnWndProc = DefDlgProcW;
    c.cbWndExtra = DLGWINDOWEXTRA;
    c.hInstance = instance;
    c.hIcon = icon;
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = WindowClass;
    if (!RegisterClassExW(&c))
        return nullptr;
    TaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_TRAY), nullptr, TrayDialog, 0);
}

void ShowLeverName(HWND window, const std::wstring &name)
{
    SetDlgItemTextW(window, IDC_LEVER_NAME, name.empty() ? L"waiting for a lever" : name.c_str());
}

void ShowGears(HWND window, bool lever, int32_t leverGear, int32_t gameGear)
{
    SetDlgItemTextW(window, IDC_LEVER_GEAR, lever ? Wide(GearName(leverGear)).c_str() : L"-");
    SetDlgItemTextW(window, IDC_GAME_GEAR, (L"the game is in " + GearText(gameGear)).c_str());
}

void ShowSettings(HWND window, const Settings &s)
{
    Filling = true;
    SendDlgItemMessageW(window, IDC_MAX_GEAR, CB_SETCURSEL, s.maxGear - 4, 0);
    SetDlgItemInt(window, IDC_HOLD, s.holdMs, FALSE);
    SetDlgItemInt(window, IDC_GAP, s.gapMs, FALSE);
    SendDlgItemMessageW(window, IDC_UP_KEY, CB_SETCURSEL, s.upCode, 0);
    SendDlgItemMessageW(window, IDC_DOWN_KEY, CB_SETCURSEL, s.downCode, 0);
    int plate = s.mapName == "standard" ? 0 : s.mapName == "nascar" ? 1 : 2;
    SendDlgItemMessageW(window, IDC_PLATE, CB_SETCURSEL, plate, 0);
    ShowGates(window, s.map);
    Filling = false;
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

void BringForward(HWND window)
{
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
}

void HideWindow(HWND window, bool toNotifyArea)
{
    ShowWindow(window, toNotifyArea ? SW_HIDE : SW_MINIMIZE);
}

std::wstring GearText(int32_t gear)
{
    return gear == GEAR_NONE ? L"neutral" : Wide(GearQuestion(gear));
}
