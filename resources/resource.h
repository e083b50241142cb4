// Resource identifiers shared by the dialog template and the code that addresses its controls.
#ifndef GEARVANE_RESOURCE_H
#define GEARVANE_RESOURCE_H

#define IDI_APP             102
#define IDD_MAIN            103

#define IDC_CLOSE           1001
#define IDC_PLATE_STANDARD  1025
#define IDC_PLATE_NASCAR    1026
#define IDC_MAXGEAR_4       1031
#define IDC_MAXGEAR_5       1032
#define IDC_MAXGEAR_6       1033
#define IDC_MAXGEAR_7       1034
#define IDC_DEBUG_TEXT      1041

#endif
