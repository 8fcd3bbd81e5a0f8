// One plug-in instance per NPP, owned through the instance's pdata, and its callback window.
#pragma once

#include <windows.h>

#include "npapi.h"

struct CPluginInstance {
    NPP npp = nullptr;
    NPWindow* window = nullptr;
    bool initialised = false;
    NPObject* scriptObject = nullptr;
    HWND hwnd = nullptr;
    // What the window had before it was taken over; put back when the instance goes away so
    // that a late WM_UKEY_EVENT never reaches a freed instance.
    LONG_PTR previousWndProc = 0;
    LONG_PTR previousUserData = 0;

    void TakeOverWindow(NPWindow* npWindow);
    void ReleaseWindow();
};

LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Formats the page callback URL "javascript:NAME(STATE)" into buffer. Returns false, leaving
// an empty text, when the URL would not fit: a cut URL would call some other script.
bool FormatCallbackUrl(char* buffer, size_t size, const char* functionName, int state);

constexpr size_t CallbackUrlSize = 8192;
