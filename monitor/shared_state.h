// Process-wide values shared by every plug-in instance and every control in the process.
// Every script call arrives on the host's one script thread, and the monitor thread reads only
// values written before it exists, so nothing here is locked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct QuorvanSharedState {
    int32_t LastErrorCode = 0;
    std::string LastErrorString;
    // Set once, when the monitor thread is created; never cleared.
    HANDLE MonitorThread = nullptr;
    std::string TokenLibraryName = "ShuttleCsp11_3003.dll";
    int32_t MonitorDelay = 1000;
    // The window the monitor posts WM_UKEY_EVENT to (the thread's parameter).
    HWND MonitorWindow = nullptr;
    // Name of the page function the NPAPI window procedure calls back.
    std::string CallbackFunctionName;
};

extern QuorvanSharedState SharedState;
