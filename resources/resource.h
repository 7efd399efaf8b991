// Resource identifiers shared by the resource scripts and the code.
#pragma once

#define IDS_SERVICENAME         100

#define IDR_APPID_SCRIPT        100
#define IDR_LAUNCH_SCRIPT       102
#define IDR_MODULE_SCRIPT       106

#define IDR_TYPELIB             1

// The Manage Applications dialog.
#define IDD_MANAGE_APPS         108
#define IDC_NAME                202
#define IDC_NAME_LABEL          203
#define IDC_PATH                204
#define IDC_PATH_LABEL          205
#define IDC_WINDOW              206
#define IDC_WINDOW_LABEL        208
#define IDC_PROGID              210
#define IDC_PROGID_LABEL        212
#define IDC_REMOVE              213
#define IDC_INSTANCES           215
#define IDC_INSTANCES_LABEL     216
#define IDC_OPEN                221
#define IDC_ARGUMENTS           231
#define IDC_ARGUMENTS_LABEL     232
#define IDC_START_IN            233
#define IDC_START_IN_LABEL      234
#define IDC_METHOD              248
#define IDC_SAVE                271

// The bitmap on the Open button: an open folder.
#define IDB_OPEN_FOLDER         226

// The Method dialog. Its name label shares id 203 with the Name label above.
#define IDD_METHOD              111
#define IDC_METHOD_NAME         250
#define IDC_METHOD_NAME_LABEL   203
#define IDC_RETURNS             254
#define IDC_RETURNS_LABEL       255
#define IDC_FUNCTION_GROUP      256
#define IDC_PARAMETERS_GROUP    257
#define IDC_PARAM1_LABEL        258
#define IDC_PARAM2_LABEL        259
#define IDC_PARAM3_LABEL        260
#define IDC_PARAM4_LABEL        261
#define IDC_PARAM1              262
#define IDC_PARAM2              263
#define IDC_PARAM3              264
#define IDC_PARAM4              265
#define IDC_PARAM1_TYPE         266
#define IDC_PARAM2_TYPE         267
#define IDC_PARAM3_TYPE         268
#define IDC_PARAM4_TYPE         269
#define IDC_PARAM1_TYPE_LABEL   272
#define IDC_PARAM2_TYPE_LABEL   273
#define IDC_PARAM3_TYPE_LABEL   274
#define IDC_PARAM4_TYPE_LABEL   275

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
