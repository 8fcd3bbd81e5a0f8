// GetCertList cost against the size of "MY": 10, 100 and 1000 certificates (self-signed, one
// key, common names of 24 characters), milliseconds per CoreGetCertList call, with and without
// an issuer filter. Prints figures; removes every certificate it added.
#include <windows.h>

#include <cstdio>

#include "certs.h"
#include "fixture.h"

namespace {

double MillisecondsPerCall(const char* issuer, int calls, int* length) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < calls; ++i) {
        char* text = nullptr;
        if (CoreGetCertList(issuer, &text, length)) delete[] text;
    }
    QueryPerformanceCounter(&end);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) / calls;
}

}  // namespace

int main() {
    if (!certtest::StoreCommonNames().empty()) {
        std::fprintf(stderr, "MY is not empty; the figures would not be about 10, 100, 1000 certificates\n");
        return 1;
    }
    certtest::StoreFixture store;
    size_t have = 0;
    for (size_t target : {10u, 100u, 1000u}) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (!store.AddGenerated(target - have, "Bench Holder " + std::to_string(target) + "-", 24)) {
            std::fprintf(stderr, "cannot fill MY: %s\n", store.lastError.c_str());
            return 1;
        }
        QueryPerformanceCounter(&end);
        have = target;
        const int calls = target >= 1000 ? 5 : 20;
        int allLength = 0, filteredLength = 0;
        const double all = MillisecondsPerCall("", calls, &allLength);
        const double filtered = MillisecondsPerCall("Bench Holder 10-", calls, &filteredLength);
        std::printf("certificates %4zu: GetCertList %8.2f ms/call (%d characters), with issuer filter %8.2f ms/call; "
                    "adding them took %.0f ms\n",
                    target, all, allLength, filtered,
                    1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    store.RemoveAll();
    return certtest::StoreCommonNames().empty() ? 0 : 1;
}
