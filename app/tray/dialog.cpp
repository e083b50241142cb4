// The window's procedure.
#include "dialog.h"

#include <commctrl.h>
#include <dbt.h>
#include <wtsapi32.h>

#include "../../resources/tray_resource.h"
#include "dpi.h"
#include "notify_icon.h"
#include "tray.h"
#include "view.h"

const wchar_t WindowClass[] = L"gearvane-tray";

namespace {

UINT TaskbarCreated;
bool Activated;

int Selected(HWND window, int id)
{
    return static_cast<int>(SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0));
}

void OnCommand(HWND window, int id, int code)
{
    if (ViewFilling())
        return;
    if (id >= ID_MENU_GEAR && id <= ID_MENU_GEAR_LAST) {
        SetGameGear(id - ID_MENU_GEAR - 1);
        return;
    }
    switch (id) {
    case IDC_MAX_GEAR:
        if (code == CBN_SELCHANGE)
            ChooseMaxGear(4 + Selected(window, id));
        break;
    case IDC_HOLD:
    case IDC_GAP:
        if (code == EN_CHANGE || code == EN_KILLFOCUS)
            TypedTiming(code);
        break;
    case IDOK:  // Enter, in the hold, gap or telemetry box as anywhere
        TypedTiming(EN_KILLFOCUS);
        TypedTelemetry();
        break;
    case IDC_TELEMETRY_PORT:
        if (code == EN_KILLFOCUS)
            TypedTelemetry();
        break;
    case IDC_OUTPUT:
        if (code == CBN_SELCHANGE)
            ChooseOutput(Selected(window, id) == 1);
        break;
    case IDC_UP_KEY:
    case IDC_DOWN_KEY:
        ChooseKey(id, KeyOfItem(window, id, Selected(window, id)), code);
        break;
    case IDC_PLATE:
        if (code == CBN_SELCHANGE)
            ChoosePlate(Selected(window, id));
        break;
    case IDC_USE_LEVER:
        ClickUseLever();
        break;
    case IDC_LEARN:
        ClickLearn();
        break;
    case IDC_SKIP:
        ClickSkip();
        break;
    case IDC_DONE:
        ClickDone();
        break;
    case IDC_SET_GEAR:
        ClickSetGear();
        break;
    case IDC_AUTOSTART:
        ChooseStartWithWindows(IsDlgButtonChecked(window, IDC_AUTOSTART) == BST_CHECKED);
        break;
    case IDC_HIDE:
    case IDCANCEL:  // Escape
        OnClose();
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
        OnTaskbarCreated();
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG:
        InitView(window);
        return FALSE;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *n = reinterpret_cast<const NMHDR *>(lParam);
        if (n->idFrom == IDC_CONTROLLERS && n->code == LVN_ITEMCHANGED)
            ChooseController();
        else if (n->idFrom == IDC_CONTROLLERS && n->code == NM_DBLCLK)
            ClickUseLever();
        return FALSE;
    }
    case WM_SYSCOMMAND: {
        WPARAM command = wParam & 0xFFF0;
        if (command == SC_CLOSE || (command == SC_MINIMIZE && TrayIconShown())) {
            OnClose();
            return Answer(window, 0);
        }
        return FALSE;
    }
    case WM_CLOSE:
        // The close box and Alt+F4 come as SC_CLOSE above: this one comes from another program
        // (End task, taskkill, an installer) that will end this one if it does not end itself.
        QuitTray(0);
        return TRUE;
    case WM_SHOWWINDOW:
        OnShown(wParam != 0);
        return FALSE;
    case WM_ACTIVATE:
        // The dialog would give the focus to its first control, Maximum gear, where an arrow
        // key changes the setting: after its own handling, the focus goes to Hide.
        if (LOWORD(wParam) != WA_INACTIVE && !Activated) {
            Activated = true;
            PostMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_HIDE)), TRUE);
        }
        return FALSE;
    case WM_DPICHANGED:
        ScaleView(window, HIWORD(wParam), *reinterpret_cast<const RECT *>(lParam));
        return TRUE;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            OnDeviceChange();
        return Answer(window, TRUE);
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_APP_NOTIFY_ICON:
        OnIconMessage(lParam);
        return TRUE;
    case WM_APP_SHOW:
        BringForward(window);
        return TRUE;
    case WM_APP_QUIT:
        QuitTray(0);
        return TRUE;
    case WM_APP_REPORTS:
        OnReports();
        return TRUE;
    case WM_QUERYENDSESSION:
        SetPaused(PAUSE_ENDING, true);
        return Answer(window, TRUE);
    case WM_ENDSESSION:
        if (wParam)
            EndSession();
        SetPaused(PAUSE_ENDING, false);
        return Answer(window, 0);
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_LOCK || wParam == WTS_SESSION_UNLOCK)
            SetPaused(PAUSE_LOCKED, wParam == WTS_SESSION_LOCK);
        return TRUE;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND)
            SetPaused(PAUSE_SUSPENDED, true);
        else if (wParam == PBT_APMRESUMESUSPEND || wParam == PBT_APMRESUMEAUTOMATIC)
            SetPaused(PAUSE_SUSPENDED, false);
        return Answer(window, TRUE);
    }
    return FALSE;
}

}  // namespace

bool RegisterTrayClass(HINSTANCE instance)
{
    WNDCLASSEXW c = {};
    c.cbSize = sizeof c;
    c.lpfnWndProc = DefDlgProcW;
    c.cbWndExtra = DLGWINDOWEXTRA;
    c.hInstance = instance;
    c.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TRAY));
    c.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = WindowClass;
    return RegisterClassExW(&c) != 0;
}

HWND CreateTrayWindow(HINSTANCE instance)
{
    TaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_TRAY), nullptr, TrayDialog, 0);
}
