// Calls per second of Base64Encode on 3 bytes through the test browser, in one process.
#include <windows.h>

#include <chrono>
#include <cstdio>

#include "nphost.h"

int main(int argc, char** argv) {
    nphost::Browser browser;
    const std::wstring path = nphost::FromUtf8(argc > 1 ? argv[1] : QUORVAN_PLUGIN_DLL);
    if (!browser.Load(path) || browser.Initialize() != NPERR_NO_ERROR) {
        std::fprintf(stderr, "cannot load the plug-in\n");
        return 1;
    }
    nphost::Instance* instance = browser.NewInstance();
    instance->SetWindow();
    const std::vector<nphost::Arg> args = {nphost::Arg::String("abc")};
    const int calls = 200000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
        nphost::Invocation c = instance->Invoke("Base64Encode", args);
        browser.Release(c);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Base64Encode(3 bytes): %d calls in %.3f s = %.0f calls/s\n", calls, seconds, calls / seconds);
    return 0;
}
