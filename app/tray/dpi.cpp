// Per-monitor DPI. The functions that know a window's DPI came with Windows 10: they are
// looked up, so that the program still starts on Windows 7.
#include "dpi.h"

namespace {

enum { DDC_DISABLE_ALL_ = 1 };

template <typename F> F Find(const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

Layout::~Layout()
{
    if (made)
        DeleteObject(made);
}

UINT WindowDpi(HWND window)
{
    static auto forWindow = Find<UINT(WINAPI *)(HWND)>("GetDpiForWindow");
    if (forWindow)
        return forWindow(window);
    HDC screen = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return dpi;
}

void KeepLayout(Layout *layout, HWND window)
{
    // Windows 10 scales dialogs by itself, but not the fonts that the program made: it does
    // all of it here instead.
    static auto dialogDpi = Find<BOOL(WINAPI *)(HWND, int, int)>("SetDialogDpiChangeBehavior");
    if (dialogDpi)
        dialogDpi(window, DDC_DISABLE_ALL_, DDC_DISABLE_ALL_);
    layout->dpi = WindowDpi(window);
    layout->places.clear();
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        // A drop-down list's height is that of its list, dropped.
        wchar_t kind[16] = L"";
        RECT dropped;
        GetClassNameW(child, kind, 16);
        if (lstrcmpiW(kind, L"ComboBox") == 0 && SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0,
                                                              reinterpret_cast<LPARAM>(&dropped)))
            r.bottom = r.top + (dropped.bottom - dropped.top);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&r), 2);
        layout->places.push_back({child, r});
    }
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof layout->font, &layout->font);
}

HFONT ScaleLayout(Layout *layout, HWND window, UINT dpi, const RECT &suggested)
{
    LOGFONTW font = layout->font;
    font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(layout->dpi));
    HFONT made = CreateFontIndirectW(&font);
    int to = static_cast<int>(dpi), from = static_cast<int>(layout->dpi);
    for (const auto &place : layout->places) {
        const RECT &r = place.second;
        SetWindowPos(place.first, nullptr, MulDiv(r.left, to, from), MulDiv(r.top, to, from),
                     MulDiv(r.right - r.left, to, from), MulDiv(r.bottom - r.top, to, from),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (made)
            SendMessageW(place.first, WM_SETFONT, reinterpret_cast<WPARAM>(made), FALSE);
    }
    if (made) {
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(made), FALSE);
        if (layout->made)
            DeleteObject(layout->made);
        layout->made = made;
    }
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, TRUE);
    return made ? made : reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}
