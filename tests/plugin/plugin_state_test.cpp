// The front end linked into the test process, so that the monitor's recorded settings and the
// list conversion can be seen directly.
#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

#include "nphost.h"
#include "plugin_module.h"
#include "script_object.h"
#include "shared_state.h"
#include "ukey_monitor.h"

namespace {

class InProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Every case starts as a process that has not started the monitor yet. The libraries
        // named here do not exist, so the thread of an earlier case has already ended.
        SharedState.MonitorThread = nullptr;
        browser.UseEntryPoints(NP_GetEntryPoints, NP_Initialize, NP_Shutdown, NP_GetMIMEDescription);
        ASSERT_EQ(browser.Initialize(), NPERR_NO_ERROR);
        a = browser.NewInstance();
        b = browser.NewInstance();
        ASSERT_EQ(a->SetWindow(), NPERR_NO_ERROR);
        ASSERT_EQ(b->SetWindow(), NPERR_NO_ERROR);
    }
    nphost::Browser browser;
    nphost::Instance* a = nullptr;
    nphost::Instance* b = nullptr;
};

TEST_F(InProcessTest, MethodTableOrder) {
    const char* expected[] = {"Base64Encode", "Base64Decode", "HashData", "HashFile", "SignData",
                              "SignFile", "P7SignData", "GetCert", "GetCertList", "GetCSPList",
                              "ImportP12Cert", "UpdateCert", "DelCert", "DelContainer", "CreatePKCS10",
                              "AcceptPKCS7", "InstallPKCS7", "StartUKeyMonitoring", "Clear"};
    ASSERT_EQ(MethodCount(), 19u);
    for (size_t i = 0; i < 19; ++i) EXPECT_STREQ(MethodName(i), expected[i]);
}

TEST_F(InProcessTest, OnlyTheStartingInstanceCallsBack) {
    nphost::Invocation c = a->Invoke("StartUKeyMonitoring",
                                     {nphost::Arg::String("onA"), nphost::Arg::Int(250), nphost::Arg::String("k.dll")});
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(SharedState.MonitorWindow, a->hwnd());
    EXPECT_EQ(SharedState.MonitorDelay, 250);
    EXPECT_EQ(SharedState.TokenLibraryName, "k.dll");
    EXPECT_EQ(SharedState.CallbackFunctionName, "onA");
    // The monitor posts to the window it was given.
    PostMessageW(SharedState.MonitorWindow, WM_UKEY_EVENT, 1, 0);
    browser.Pump();
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].npp, a->npp());
    EXPECT_EQ(browser.urls[0].url, "javascript:onA(1)");

    // A second start from the other instance changes nothing; events still go to a.
    c = b->Invoke("StartUKeyMonitoring", {nphost::Arg::String("onB"), nphost::Arg::Int(9), nphost::Arg::String("")});
    ASSERT_TRUE(c.ok && c.IsInt());
    EXPECT_EQ(SharedState.MonitorWindow, a->hwnd());
    EXPECT_EQ(SharedState.TokenLibraryName, "k.dll");
    EXPECT_EQ(SharedState.CallbackFunctionName, "onA");
}

TEST_F(InProcessTest, MissingMonitoringArgumentsAreEmptyAndZero) {
    // Empty callback and library, delay 0; an empty library stays empty.
    nphost::Invocation c = b->Invoke("StartUKeyMonitoring", {});
    ASSERT_TRUE(c.ok);
    EXPECT_NE(SharedState.MonitorThread, nullptr);
    EXPECT_EQ(SharedState.TokenLibraryName, "");
    EXPECT_EQ(SharedState.MonitorDelay, 0);
    EXPECT_EQ(SharedState.CallbackFunctionName, "");
}

TEST_F(InProcessTest, ClearResetsErrorStateOnly) {
    a->Invoke("StartUKeyMonitoring", {nphost::Arg::String("cb"), nphost::Arg::Int(5), nphost::Arg::String("m.dll")});
    SharedState.LastErrorCode = 7;
    SharedState.LastErrorString = "x";
    nphost::Invocation c = a->Invoke("Clear", {});
    ASSERT_TRUE(c.ok && c.IsInt());
    EXPECT_EQ(SharedState.LastErrorCode, 0);
    EXPECT_EQ(SharedState.LastErrorString, "");
    EXPECT_EQ(SharedState.CallbackFunctionName, "cb");
    EXPECT_EQ(SharedState.MonitorDelay, 5);
    EXPECT_EQ(SharedState.TokenLibraryName, "m.dll");
}

TEST_F(InProcessTest, StartBeforeWindowGivesMonitorNoWindow) {
    nphost::Instance* c = browser.NewInstance();
    c->Invoke("StartUKeyMonitoring", {nphost::Arg::String("cb"), nphost::Arg::Int(1), nphost::Arg::String("")});
    EXPECT_EQ(SharedState.MonitorWindow, nullptr);
}

TEST(ListResult, ConvertsToUtf8AndCutsAt8191Bytes) {
    struct Case {
        std::string ansi;
        std::string utf8;
    } cases[] = {{"", ""}, {"CN=a", "CN=a"}, {"\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"}};
    for (const Case& k : cases) {
        CallResult r;
        r.text = new char[k.ansi.size() + 1];
        std::memcpy(r.text, k.ansi.c_str(), k.ansi.size() + 1);
        r.textLength = k.ansi.size();
        ListResultToUtf8(r);
        ASSERT_TRUE(r.success);
        ASSERT_NE(r.text, nullptr);
        EXPECT_EQ(std::string(r.text, r.textLength), k.utf8);
        delete[] r.text;
    }
    // 3000 GBK characters are 9000 UTF-8 bytes: cut to whole characters within 8191 bytes.
    std::string ansi;
    for (int i = 0; i < 3000; ++i) ansi += "\xD6\xD0";
    CallResult r;
    r.text = new char[ansi.size() + 1];
    std::memcpy(r.text, ansi.c_str(), ansi.size() + 1);
    r.textLength = ansi.size();
    ListResultToUtf8(r);
    EXPECT_EQ(r.textLength, 8190u);
    EXPECT_EQ(r.text[r.textLength], '\0');
    delete[] r.text;
}

}  // namespace
