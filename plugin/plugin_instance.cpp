#include "plugin_instance.h"

#include <cstdio>

#include "plugin_module.h"
#include "shared_state.h"
#include "ukey_monitor.h"

namespace {

LONG_PTR GetWindowValue(HWND hwnd, int index) {
#ifdef _WIN64
    return GetWindowLongPtrA(hwnd, index);
#else
    return GetWindowLongA(hwnd, index);
#endif
}

LONG_PTR SetWindowValue(HWND hwnd, int index, LONG_PTR value) {
#ifdef _WIN64
    return SetWindowLongPtrA(hwnd, index, value);
#else
    return SetWindowLongA(hwnd, index, static_cast<LONG>(value));
#endif
}

}  // namespace

void CPluginInstance::TakeOverWindow(NPWindow* npWindow) {
    hwnd = static_cast<HWND>(npWindow->window);
    previousWndProc = SetWindowValue(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PluginWindowProc));
    previousUserData = SetWindowValue(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    window = npWindow;
    initialised = true;
}

void CPluginInstance::ReleaseWindow() {
    if (hwnd != nullptr && IsWindow(hwnd)) {
        // Only undo our own take-over: if somebody subclassed the window after us, leave the
        // chain alone but still detach this instance from it.
        if (GetWindowValue(hwnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) {
            SetWindowValue(hwnd, GWLP_USERDATA, previousUserData);
        }
        if (GetWindowValue(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&PluginWindowProc)) {
            SetWindowValue(hwnd, GWLP_WNDPROC, previousWndProc);
        }
    }
    initialised = false;
    hwnd = nullptr;
    window = nullptr;
}

bool FormatCallbackUrl(char* buffer, size_t size, const char* functionName, int state) {
    const int n = std::snprintf(buffer, size, "javascript:%s(%d)", functionName, state);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_UKEY_EVENT) {
        auto* instance = reinterpret_cast<CPluginInstance*>(GetWindowValue(hwnd, GWLP_USERDATA));
        if (instance != nullptr && BrowserFuncs != nullptr) {
            char url[CallbackUrlSize];
            if (FormatCallbackUrl(url, sizeof url, SharedState.CallbackFunctionName.c_str(),
                                  static_cast<int>(static_cast<INT_PTR>(wParam)))) {
                BrowserFuncs->geturl(instance->npp, url, "_self");
            }
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
