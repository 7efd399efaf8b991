// Resource identifiers shared by the resource scripts and the code.
#pragma once

#define IDS_SERVICENAME         100

#define IDR_APPID_SCRIPT        100
#define IDR_LAUNCH_SCRIPT       102
#define IDR_MODULE_SCRIPT       106

#define IDR_TYPELIB             1
