#!/bin/sh
# Prepares the test desktop's Wine prefix for the end-to-end tests.
set -e
# No window manager runs on the test display: Wine then draws the window frames itself, so
# the caption shows in the screenshots and hiding a window waits for no manager's answer.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Wine draws the caption's close box with the Marlett font (Debian: fonts-wine), which it
# finds only in the prefix's Fonts folder.
marlett=/usr/share/wine/fonts/marlett.ttf
if [ -f "$marlett" ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
fi
