// USB key removal monitor: the start rule shared by both front ends.
#pragma once

#include <windows.h>

#include <cstdint>

// Posted to the monitored window: wParam 1 = key pulled out, 0 = key present; lParam 0.
constexpr UINT WM_UKEY_EVENT = WM_USER + 100;

// Once per process: records the window, the delay (milliseconds) and the PKCS#11 library name
// (an empty name stays empty). Does nothing when the monitor has already been started.
void StartUKeyMonitor(HWND window, int32_t delay, const char* libraryName);
