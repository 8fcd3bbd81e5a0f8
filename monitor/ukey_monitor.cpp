#include "ukey_monitor.h"

#include "pkcs11.h"
#include "shared_state.h"

namespace {

// The thread runs code of this module until the process ends, so the module must outlive any
// FreeLibrary by the host (a browser unloading the plug-in). Pinning is for the process's life.
void PinThisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&PinThisModule), &self);
}

}  // namespace

void StartUKeyMonitor(HWND window, int32_t delay, const char* libraryName) {
    if (SharedState.MonitorThread != nullptr) {
        return;
    }
    SharedState.MonitorDelay = delay;
    SharedState.TokenLibraryName = libraryName != nullptr ? libraryName : "";
    SharedState.MonitorWindow = window;
    PinThisModule();
    DWORD threadId = 0;
    SharedState.MonitorThread = CreateThread(nullptr, 0, UKeyMonitorThread, window, 0, &threadId);
}

namespace {

// A list missing a function the monitor calls is treated as a failed start-up, not called.
bool Usable(const CK_FUNCTION_LIST* f) {
    return f != nullptr && f->C_Initialize != nullptr && f->C_Finalize != nullptr && f->C_OpenSession != nullptr &&
           f->C_CloseSession != nullptr && f->C_WaitForSlotEvent != nullptr;
}

[[noreturn]] void PollForSlotEvents(CK_FUNCTION_LIST* functions, HWND window) {
    CK_SLOT_ID slot = 0;
    for (;;) {
        if (functions->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) {
            WPARAM pullOut = 1;
            CK_SESSION_HANDLE session = 0;
            if (functions->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) ==
                CKR_OK) {
                functions->C_CloseSession(session);
                pullOut = 0;
            }
            PostMessageA(window, WM_UKEY_EVENT, pullOut, 0);
        }
        // Read anew every cycle; a negative delay is an unsigned count (-1 is INFINITE).
        Sleep(static_cast<DWORD>(SharedState.MonitorDelay));
    }
}

}  // namespace

DWORD WINAPI UKeyMonitorThread(LPVOID parameter) {
    const HWND window = static_cast<HWND>(parameter);
    CK_FUNCTION_LIST* functions = nullptr;
    const HMODULE module = LoadLibraryA(SharedState.TokenLibraryName.c_str());
    if (module != nullptr) {
        const auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
            reinterpret_cast<void*>(GetProcAddress(module, "C_GetFunctionList")));
        CK_FUNCTION_LIST* list = nullptr;
        if (getFunctionList != nullptr && getFunctionList(&list) == CKR_OK && Usable(list)) {
            functions = list;
            if (functions->C_Initialize(nullptr) == CKR_OK) {
                PollForSlotEvents(functions, window);
            }
        }
    }
    // Start-up failed.
    if (functions != nullptr) {
        functions->C_Finalize(nullptr);
    }
    if (module != nullptr) {
        FreeLibrary(module);
    }
    return 0;
}
