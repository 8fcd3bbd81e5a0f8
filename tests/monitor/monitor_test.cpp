// The monitor thread against scripted PKCS#11 modules, linked into this process. Starting is
// once per process, so every case runs in a process of its own (one ctest test per case).
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared_state.h"
#include "ukey_monitor.h"

namespace {

std::string WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path.size() > 0 && path[0] == '\\' ? "Z:" + path : path;
}

const std::string kFake = WindowsPath(FAKEP11_DLL);
const std::string kNoEntry = WindowsPath(FAKEP11_NOENTRY_DLL);

std::vector<WPARAM> g_events;
std::vector<HWND> g_targets;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_UKEY_EVENT) {
        g_events.push_back(wParam);
        g_targets.push_back(hwnd);
        EXPECT_EQ(lParam, 0);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND NewWindow() {
    static ATOM atom = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = RecordingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "monitor_test_window";
        return RegisterClassA(&wc);
    }();
    return atom ? CreateWindowExA(0, "monitor_test_window", "", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr)
                : nullptr;
}

// Delivers this thread's messages for ms milliseconds, or until count events have arrived.
void PumpFor(DWORD ms, size_t count = SIZE_MAX) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms && g_events.size() < count) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
}

std::string Env(const char* name) {
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

unsigned long Waits() {
    return std::stoul("0" + Env("FAKEP11_WAITS"));
}

void Script(const char* mode, const char* events) {
    SetEnvironmentVariableA("FAKEP11_MODE", mode);
    SetEnvironmentVariableA("FAKEP11_EVENTS", events);
    SetEnvironmentVariableA("FAKEP11_LOG", nullptr);
    SetEnvironmentVariableA("FAKEP11_WAITS", nullptr);
}

bool ThreadEnded(DWORD ms) {
    return SharedState.MonitorThread != nullptr && WaitForSingleObject(SharedState.MonitorThread, ms) == WAIT_OBJECT_0;
}

// A start whose start-up fails: the thread ends with 0 having called the library as log says,
// the library is unloaded again, and no later start does anything in this process.
void ExpectFailedStartUp(const std::string& library, const char* expectedLog) {
    HWND window = NewWindow();
    StartUKeyMonitor(window, 10, library.c_str());
    EXPECT_EQ(SharedState.TokenLibraryName, library);
    ASSERT_TRUE(ThreadEnded(5000));
    DWORD code = 1;
    GetExitCodeThread(SharedState.MonitorThread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Env("FAKEP11_LOG"), expectedLog);
    EXPECT_EQ(Waits(), 0u);
    if (!library.empty()) {
        EXPECT_EQ(GetModuleHandleA(library.c_str()), nullptr) << "library left loaded";
    }

    const HANDLE first = SharedState.MonitorThread;
    Script("events", "o");
    StartUKeyMonitor(window, 20, kFake.c_str());
    EXPECT_EQ(SharedState.MonitorThread, first);
    EXPECT_EQ(SharedState.TokenLibraryName, library);
    EXPECT_EQ(SharedState.MonitorDelay, 10);
    PumpFor(400);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(Env("FAKEP11_LOG"), "");
}

TEST(Monitor, PostsOneMessagePerEventAndStartsOnce) {
    Script("events", "..o..i...");
    HWND window = NewWindow();
    HWND other = NewWindow();
    ASSERT_NE(window, nullptr);
    StartUKeyMonitor(window, 20, kFake.c_str());
    const HANDLE thread = SharedState.MonitorThread;
    ASSERT_NE(thread, nullptr);
    // A second start, with another window, library and delay, changes nothing.
    StartUKeyMonitor(other, 5000, "other.dll");
    EXPECT_EQ(SharedState.MonitorThread, thread);
    EXPECT_EQ(SharedState.MonitorDelay, 20);
    EXPECT_EQ(SharedState.TokenLibraryName, kFake);

    PumpFor(3000, 2);
    PumpFor(300);  // nothing more may follow
    EXPECT_EQ(g_events, (std::vector<WPARAM>{1, 0}));
    EXPECT_EQ(g_targets, (std::vector<HWND>{window, window}));
    EXPECT_EQ(Env("FAKEP11_LOG"), "IO-O+C");  // one library start-up; the session is closed
    EXPECT_GE(Waits(), 9u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the thread must keep running";
}

TEST(Monitor, NoEventPostsNothing) {
    Script("events", "");
    StartUKeyMonitor(NewWindow(), 10, kFake.c_str());
    PumpFor(500);
    EXPECT_TRUE(g_events.empty());
    EXPECT_GE(Waits(), 5u);
    EXPECT_EQ(Env("FAKEP11_LOG"), "I");
}

TEST(Monitor, EmptyLibraryNameStaysEmptyAndEndsTheThread) {
    Script("events", "o");
    ExpectFailedStartUp("", "");
}

TEST(Monitor, UnloadableLibraryEndsTheThread) {
    Script("events", "o");
    ExpectFailedStartUp("Z:\\nonexistent\\nokey.dll", "");
}

TEST(Monitor, LibraryWithoutGetFunctionListEndsTheThread) {
    Script("events", "o");
    ExpectFailedStartUp(kNoEntry, "");
}

TEST(Monitor, FailingGetFunctionListEndsTheThread) {
    Script("getlist-fails", "o");
    ExpectFailedStartUp(kFake, "");
}

TEST(Monitor, FailingInitializeEndsTheThreadAfterFinalize) {
    Script("init-fails", "o");
    ExpectFailedStartUp(kFake, "IF");
}

TEST(Monitor, WaitForSlotEventAlwaysFailingKeepsPollingSilently) {
    Script("wait-fails", "oioi");
    StartUKeyMonitor(NewWindow(), 10, kFake.c_str());
    PumpFor(300);
    const unsigned long before = Waits();
    PumpFor(300);
    EXPECT_GT(Waits(), before);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(Env("FAKEP11_LOG"), "I");
    EXPECT_FALSE(ThreadEnded(0));
}

TEST(Monitor, DelayZeroPollsWithoutPauseAndDelayIsReadEveryCycle) {
    Script("events", "");
    StartUKeyMonitor(NewWindow(), 0, kFake.c_str());
    PumpFor(500);
    EXPECT_GE(Waits(), 100u);
    // A longer delay written now is used from the next pause on.
    SharedState.MonitorDelay = 600000;
    PumpFor(100);
    const unsigned long before = Waits();
    PumpFor(500);
    EXPECT_LE(Waits(), before + 1);
}

TEST(Monitor, DelayMinusOneSleepsForGoodAfterTheFirstCycle) {
    Script("events", "oi");
    StartUKeyMonitor(NewWindow(), -1, kFake.c_str());
    PumpFor(3000, 1);
    PumpFor(700);
    EXPECT_EQ(g_events, std::vector<WPARAM>{1});
    EXPECT_EQ(Waits(), 1u);
    EXPECT_FALSE(ThreadEnded(0));
}

TEST(Monitor, WithoutWindowNothingReachesAWindow) {
    Script("events", "oi");
    HWND bystander = NewWindow();
    StartUKeyMonitor(nullptr, 10, kFake.c_str());
    PumpFor(500);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(Env("FAKEP11_LOG"), "IO-O+C");  // events seen, posts went nowhere
    DestroyWindow(bystander);
}

}  // namespace
