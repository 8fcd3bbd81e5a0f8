#include "ukey_monitor.h"

#include "shared_state.h"

void StartUKeyMonitor(HWND window, int32_t delay, const char* libraryName) {
    if (SharedState.MonitorThread != nullptr) {
        return;
    }
    SharedState.MonitorDelay = delay;
    SharedState.TokenLibraryName = libraryName != nullptr ? libraryName : "";
    SharedState.MonitorWindow = window;
    // The polling thread (UKeyMonitorThread) is created here once it exists; until then the
    // settings are only recorded and MonitorThread stays unset.
}
