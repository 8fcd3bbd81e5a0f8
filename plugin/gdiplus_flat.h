// The two GDI+ flat-API entry points the plug-in uses (start-up and shut-down), declared here
// because MinGW's GDI+ headers pull in the whole C++ wrapper.
#pragma once

#include <windows.h>

extern "C" {

struct QuorvanGdiplusStartupInput {
    UINT32 GdiplusVersion;
    void* DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};

int WINAPI GdiplusStartup(ULONG_PTR* token, const QuorvanGdiplusStartupInput* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
}
