// USB key removal monitor: one process-wide thread that polls the key's PKCS#11 library for
// slot events and posts WM_UKEY_EVENT to the window of the front end that started it.
#pragma once

#include <windows.h>

#include <cstdint>

// Posted to the monitored window: wParam 1 = key pulled out, 0 = key present; lParam 0.
constexpr UINT WM_UKEY_EVENT = WM_USER + 100;

// Once per process: records the delay (milliseconds) and the PKCS#11 library name (an empty
// name stays empty), then starts UKeyMonitorThread with window as its parameter. Does nothing
// when the monitor has already been started, even if that thread has ended since.
void StartUKeyMonitor(HWND window, int32_t delay, const char* libraryName);

// The thread routine: loads TokenLibraryName, initialises it and polls it without end; ends,
// returning 0, only when one of those start-up steps fails.
DWORD WINAPI UKeyMonitorThread(LPVOID window);
