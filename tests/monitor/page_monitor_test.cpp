// Key events reaching a page: the plug-in DLL in the test browser, monitoring the software USB
// key, which the page pulls out and puts back with the softtoken tool. Each page runs in a
// browser process of its own.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "../softtoken/helpers.h"
#include "nphost.h"
#include "page_run.h"

namespace {

const std::string kSoftP11 = ScriptPath(SOFTTOKEN_P11_DLL);

// The page's part: callbacks print themselves; key(action) runs the softtoken tool.
std::string Prelude() {
    std::string tool;
    for (char c : "\"" + ToolPath() + "\"") {
        if (c == '\\' || c == '"') tool += '\\';
        tool += c;
    }
    return "var TOOL = \"" + tool + "\";\n"
           "function key(action) { print(action + \" \" + run(TOOL + \" \" + action)); }\n"
           "function onKey(s) { print(\"onKey(\" + s + \")\"); }\n"
           "function onOther(s) { print(\"onOther(\" + s + \")\"); }\n";
}

class PageMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RunToolCode("insert"), 0); }
    void TearDown() override { RunToolCode("insert"); }
};

// Pull out, put back, then quiet: one call with 1, one with 0, nothing while nothing happens.
const char* kPullOutAndPutBack =
    "setTimeout(function () { key(\"remove\");\n"
    "  setTimeout(function () { key(\"insert\");\n"
    "    setTimeout(function () { print(\"quiet\");\n"
    "      setTimeout(function () { print(\"end\"); done(); }, 800); }, 1200); }, 1200); }, 500);\n";

TEST_F(PageMonitorTest, PullOutCallsOnceWithOneAndPutBackOnceWithZero) {
    const PageRun r = RunPage("pull", Prelude() + "print(\"start \" + plugin.StartUKeyMonitoring(\"onKey\", 50, " +
                                          kSoftP11 + "));\n" + kPullOutAndPutBack);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "start 0\nremove 0\nonKey(1)\ninsert 0\nonKey(0)\nquiet\nend\n") << r.err;
}

TEST_F(PageMonitorTest, NoKeyEventCallsNothing) {
    const PageRun r = RunPage("idle", Prelude() + "plugin.StartUKeyMonitoring(\"onKey\", 20, " + kSoftP11 +
                                          ");\nsetTimeout(function () { print(\"end\"); done(); }, 1500);\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "end\n") << r.err;
}

// The second instance starts; a later start from either instance, with another function,
// library and delay, changes nothing, and events are delivered once.
TEST_F(PageMonitorTest, OnlyTheFirstStartCountsAndItsInstanceCallsBack) {
    const PageRun r = RunPage("two", Prelude() + "plugin2.StartUKeyMonitoring(\"onKey\", 50, " + kSoftP11 +
                                         ");\n"
                                         "plugin.StartUKeyMonitoring(\"onOther\", -1, \"Z:\\\\no\\\\such.dll\");\n"
                                         "plugin2.StartUKeyMonitoring(\"onOther\", 0, \"\");\n" +
                                         kPullOutAndPutBack,
                              L"--instances 2");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "remove 0\nonKey(1)\ninsert 0\nonKey(0)\nquiet\nend\n") << r.err;
}

TEST_F(PageMonitorTest, StartedBeforeTheWindowExistsCallsNothing) {
    const PageRun r = RunPage("early", Prelude() + "plugin.StartUKeyMonitoring(\"onKey\", 50, " + kSoftP11 + ");\n" +
                                           kPullOutAndPutBack,
                              L"--window-after-load");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "remove 0\ninsert 0\nquiet\nend\n") << r.err;
}

// A start whose library cannot be used ends the monitor, and no later start in that browser
// process monitors anything.
TEST_F(PageMonitorTest, UnusableLibraryEndsMonitoringForTheProcess) {
    const char* libraries[] = {"\"\"", "\"Z:\\\\no\\\\such\\\\library.dll\""};
    for (const char* library : libraries) {
        const PageRun r =
            RunPage("unusable", Prelude() + "plugin.StartUKeyMonitoring(\"onKey\", 50, " + library +
                                    ");\n"
                                    "setTimeout(function () { plugin.StartUKeyMonitoring(\"onKey\", 50, " +
                                    kSoftP11 + ");\n" + kPullOutAndPutBack + "}, 300);\n");
        EXPECT_EQ(r.exitCode, 0u) << library << r.err;
        EXPECT_EQ(r.out, "remove 0\ninsert 0\nquiet\nend\n") << library << r.err;
    }
}

// The monitor thread runs code of the plug-in after the browser has unloaded it: the module
// stays loaded and the process keeps running while the key comes and goes.
TEST_F(PageMonitorTest, PluginUnloadedByTheBrowserStaysLoadedForTheMonitor) {
    const std::wstring dll = nphost::WindowsPath(nphost::FromUtf8(QUORVAN_PLUGIN_DLL));
    {
        nphost::Browser browser;
        ASSERT_TRUE(browser.Load(dll));
        ASSERT_EQ(browser.Initialize(), NPERR_NO_ERROR);
        nphost::Instance* instance = browser.NewInstance();
        ASSERT_EQ(instance->SetWindow(), NPERR_NO_ERROR);
        std::string lib = nphost::ToUtf8(nphost::WindowsPath(nphost::FromUtf8(SOFTTOKEN_P11_DLL)));
        nphost::Invocation c = instance->Invoke(
            "StartUKeyMonitoring", {nphost::Arg::String("onKey"), nphost::Arg::Int(10), nphost::Arg::String(lib)});
        ASSERT_TRUE(c.ok);
        Sleep(200);
    }  // NPP_Destroy, NP_Shutdown and FreeLibrary, as a browser unloading the plug-in
    EXPECT_NE(GetModuleHandleW(dll.c_str()), nullptr) << "the module must stay loaded";
    ASSERT_EQ(RunToolCode("remove"), 0);
    Sleep(300);
    ASSERT_EQ(RunToolCode("insert"), 0);
    Sleep(300);
    SUCCEED() << "the monitor thread went on polling in the pinned module";
}

}  // namespace
