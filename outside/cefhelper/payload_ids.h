// Resource ids of the files CefHelper.dll and the engine resource files carry.
// Plain #defines only: windres reads this file too.
#pragma once

// In CefHelper.dll: the runtime of each kernel and the Flash plug-in.
#define IDR_RUNTIME_NEW_KERNEL 101
#define IDR_RUNTIME_OLD_KERNEL 102
#define IDR_FLASH_PLUGIN 103

// In CefRes.dll / CefRes69.dll: the runtime of the kernel the file is named for.
#define IDR_CEFRES_RUNTIME 1
