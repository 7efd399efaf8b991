// Resource identifiers shared by the resource scripts and the code.
#pragma once

#define IDS_SERVICENAME         100

#define IDR_APPID_SCRIPT        100
#define IDR_LAUNCH_SCRIPT       102
#define IDR_MODULE_SCRIPT       106

#define IDR_TYPELIB             1

// Notification-area icon, its menu and the Properties dialog.
#define IDD_PROPERTIES              107
#define IDC_ENABLE_LAUNCH           242
#define IDC_RELAUNCH_ON_CONTINUE    243
#define IDC_ENABLE_TRAY_ICON        244
#define IDC_TERMINATE_ON_PAUSE      245
#define IDC_TERMINATE_ON_STOP       246

#define IDR_TRAY_MENU               201
#define IDI_TRAY_PAUSED             207
#define IDI_TRAY_RUNNING            209

#define ID_TRAY_PROPERTIES          32773
#define ID_TRAY_PAUSE               32774
#define ID_TRAY_CONTINUE            32775
#define ID_TRAY_OPEN                32776
