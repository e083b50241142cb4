// Resource identifiers of gearvane-tray.exe: its windows and their controls.
#ifndef GEARVANE_TRAY_RESOURCE_H
#define GEARVANE_TRAY_RESOURCE_H

#define IDI_TRAY            201
#define IDD_TRAY            202
#define IDD_CONFIG_MISTAKES 203

#define IDC_LEVER_NAME      2001
#define IDC_LEVER_GEAR      2002
#define IDC_GAME_GEAR       2003
#define IDC_SET_GEAR        2004
#define IDC_NEXT_STEP       2005
#define IDC_MAX_GEAR        2011
#define IDC_HOLD            2012
#define IDC_GAP             2013
#define IDC_UP_KEY          2014
#define IDC_DOWN_KEY        2015
#define IDC_OUTPUT          2016
#define IDC_OUTPUT_STATE    2017
#define IDC_TELEMETRY_PORT  2018
#define IDC_TELEMETRY_STATE 2019
#define IDC_PLATE           2021
#define IDC_GATES           2022
#define IDC_LEARN_PROMPT    2023
#define IDC_LEARN           2024
#define IDC_SKIP            2025
#define IDC_DONE            2026
#define IDC_STATUS          2031
#define IDC_CONTROLLERS     2035
#define IDC_USE_LEVER       2036
#define IDC_CONTROLLERS_NOTE 2037
#define IDC_AUTOSTART       2041
#define IDC_HIDE            2042
#define IDC_QUIT            2043

#define IDC_CONFIG_PATH     2051
#define IDC_MISTAKES        2052
#define IDC_OPEN_CONFIG     2053
#define IDC_USE_DEFAULTS    2054

#endif
