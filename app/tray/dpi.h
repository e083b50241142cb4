// A dialog that keeps its layout on a monitor of another DPI: its controls' places and its
// font as made at one DPI, scaled from those (never from the last scaling, so nothing drifts)
// when Windows says the window has moved to another one.
#ifndef GEARVANE_TRAY_DPI_H
#define GEARVANE_TRAY_DPI_H

#include <windows.h>

#include <utility>
#include <vector>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

struct Layout {
    UINT dpi = 96;  // that of the places and the font below
    std::vector<std::pair<HWND, RECT>> places;
    LOGFONTW font = {};
    HFONT made = nullptr;  // the font for another DPI, made here
    Layout() = default;
    Layout(const Layout &) = delete;
    Layout &operator=(const Layout &) = delete;
    ~Layout();
};

// The DPI of the monitor the window is on (the system's on Windows before 10).
UINT WindowDpi(HWND window);

// Takes the dialog's layout as it was made, once its controls exist, and keeps Windows'
// own dialog scaling out of it.
void KeepLayout(Layout *layout, HWND window);

// For WM_DPICHANGED: places the controls and sets the font for `dpi`, then the window in
// `suggested`. Returns the font the controls now have.
HFONT ScaleLayout(Layout *layout, HWND window, UINT dpi, const RECT &suggested);

#endif
