// The npQuorvan DLL as a browser sees it, loaded by path through the test browser.
#include <windows.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "nphost.h"

#ifndef QUORVAN_PLUGIN_DLL
#error QUORVAN_PLUGIN_DLL names the plug-in under test
#endif

namespace {

constexpr UINT kUKeyEvent = WM_USER + 100;

std::wstring PluginPath() {
    return nphost::FromUtf8(QUORVAN_PLUGIN_DLL);
}

// A copy of the plug-in under a name of its own. Once a page has started the key monitor, the
// module stays loaded for the life of the process and keeps its monitor state; a copy gives a
// case the state of a freshly started browser.
std::wstring FreshPluginCopy() {
    static int serial = 0;
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring copy = std::wstring(folder) + L"npQuorvan-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++serial) + L".dll";
    return CopyFileW(nphost::WindowsPath(PluginPath()).c_str(), copy.c_str(), FALSE) ? copy : std::wstring();
}

// A loaded, initialised plug-in with one windowed instance.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(browser.Load(FreshPluginCopy()));
        ASSERT_EQ(browser.Initialize(), NPERR_NO_ERROR);
        NPError e = -1;
        instance = browser.NewInstance(&e);
        ASSERT_EQ(e, NPERR_NO_ERROR);
        ASSERT_EQ(instance->SetWindow(), NPERR_NO_ERROR);
    }
    std::string CallText(const std::string& method, const std::vector<nphost::Arg>& args) {
        nphost::Invocation c = instance->Invoke(method, args);
        EXPECT_TRUE(c.ok) << method;
        EXPECT_TRUE(c.IsString()) << method;
        std::string s = c.String();
        browser.Release(c);
        return s;
    }
    std::string Decode(const std::string& b64) {
        return CallText("Base64Decode", {nphost::Arg::String(b64)});
    }
    nphost::Browser browser;
    nphost::Instance* instance = nullptr;
};

TEST(PluginModule, InitializeRejectsMissingTableAndNewerMajorVersion) {
    nphost::Browser browser;
    ASSERT_TRUE(browser.Load(PluginPath()));
    EXPECT_EQ(browser.initializeEntry()(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);
    browser.funcs().version = (1 << 8) | 27;
    EXPECT_EQ(browser.Initialize(), NPERR_INCOMPATIBLE_VERSION_ERROR);
    browser.funcs().version = 27;
    EXPECT_EQ(browser.Initialize(), NPERR_NO_ERROR);
    EXPECT_STREQ(browser.MimeDescription(), "application/x-vexsign::\xC7\xA9\xC3\xFB\xBF\xD8\xBC\xFE");
    EXPECT_EQ(browser.pluginFuncs().version, 27);
    EXPECT_EQ(browser.pluginFuncs().size, sizeof(NPPluginFuncs)) << "size is the browser's";
    EXPECT_EQ(browser.pluginFuncs().print, nullptr);
}

TEST(PluginModule, NullInstanceAndMissingDataAnswers) {
    nphost::Browser browser;
    ASSERT_TRUE(browser.Load(PluginPath()));
    ASSERT_EQ(browser.Initialize(), NPERR_NO_ERROR);
    NPPluginFuncs& f = browser.pluginFuncs();
    NPWindow w{};
    EXPECT_EQ(f.newp(nullptr, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.destroy(nullptr, nullptr), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.setwindow(nullptr, &w), NPERR_INVALID_INSTANCE_ERROR);
    NPP_t empty{};
    EXPECT_EQ(f.setwindow(&empty, &w), NPERR_GENERIC_ERROR);
    NPObject* o = nullptr;
    EXPECT_EQ(f.getvalue(nullptr, NPPVpluginScriptableNPObject, &o), NPERR_INVALID_INSTANCE_ERROR);
    EXPECT_EQ(f.getvalue(&empty, NPPVpluginScriptableNPObject, &o), NPERR_GENERIC_ERROR);
    EXPECT_EQ(f.destroy(&empty, nullptr), NPERR_NO_ERROR);
    EXPECT_EQ(f.newstream(&empty, nullptr, nullptr, 0, nullptr), NPERR_GENERIC_ERROR);
    EXPECT_EQ(f.destroystream(&empty, nullptr, 0), NPERR_GENERIC_ERROR);
    EXPECT_EQ(f.event(&empty, nullptr), 0);
}

TEST_F(PluginTest, NewAsksForWindowedMode) {
    ASSERT_FALSE(browser.valuesSet.empty());
    EXPECT_EQ(browser.valuesSet[0].variable, NPPVpluginWindowBool);
    EXPECT_NE(browser.valuesSet[0].value, nullptr);
    EXPECT_EQ(instance->SetWindow(true, 10, 10), NPERR_NO_ERROR);
    NPP_t p{};
    EXPECT_EQ(browser.pluginFuncs().setwindow(instance->npp(), nullptr), NPERR_GENERIC_ERROR);
    (void)p;
}

TEST_F(PluginTest, GetValueTable) {
    NPPluginFuncs& f = browser.pluginFuncs();
    const char* text = nullptr;
    ASSERT_EQ(f.getvalue(instance->npp(), NPPVpluginNameString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "\xC7\xA9\xC3\xFB\xBF\xD8\xBC\xFE");
    ASSERT_EQ(f.getvalue(instance->npp(), NPPVpluginDescriptionString, &text), NPERR_NO_ERROR);
    EXPECT_STREQ(text, "Chrome/FireFox\xD2\xB3\xC3\xE6\xC7\xA9\xC3\xFB\xBF\xD8\xBC\xFE.");
    bool xembed = false;
    ASSERT_EQ(f.getvalue(instance->npp(), NPPVpluginNeedsXEmbed, &xembed), NPERR_NO_ERROR);
    EXPECT_TRUE(xembed);
    for (NPPVariable v : {NPPVpluginWindowBool, NPPVpluginTransparentBool, NPPVformValue}) {
        int dummy = 0;
        EXPECT_EQ(f.getvalue(instance->npp(), v, &dummy), NPERR_GENERIC_ERROR) << v;
    }
}

TEST_F(PluginTest, ScriptObjectHandedOutTwiceWithOwnReferencesThenDeallocated) {
    NPObject* a = instance->ScriptObject();
    NPObject* b = instance->ScriptObject();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->referenceCount, 3u) << "instance + two handed out";
    EXPECT_EQ(browser.liveObjects(), 1);
    browser.funcs().releaseobject(a);
    browser.funcs().releaseobject(b);
    EXPECT_EQ(browser.liveObjects(), 1);
    EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
    EXPECT_EQ(browser.liveObjects(), 0);
    EXPECT_EQ(browser.deallocations(), 1);
}

TEST_F(PluginTest, UnknownNamesRaiseExceptionAndYieldZero) {
    for (const char* name : {"base64encode", "", "Clear ", "Base64Encodex", "GetLastErrorCode"}) {
        nphost::Invocation c = instance->Invoke(name, {nphost::Arg::String("x")});
        EXPECT_TRUE(c.ok) << name;
        EXPECT_TRUE(c.hasException) << name;
        EXPECT_EQ(c.exception, "Unknown method!");
        ASSERT_TRUE(c.IsInt()) << name;
        EXPECT_EQ(c.result.value.intValue, 0);
    }
    // An identifier with no name (an integer one) fails the call.
    nphost::Invocation c = instance->InvokeWithIdentifier(browser.funcs().getintidentifier(7), {});
    EXPECT_FALSE(c.ok);
    EXPECT_FALSE(c.hasException);
}

TEST_F(PluginTest, InvokeDefaultSucceedsWithoutValue) {
    nphost::Invocation c = instance->InvokeDefault({nphost::Arg::Int(1)});
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.result.type, NPVariantType_Void);
}

TEST_F(PluginTest, Base64EncodeUsesSystemCodePage) {
    EXPECT_EQ(CallText("Base64Encode", {nphost::Arg::String("")}), "");
    EXPECT_EQ(CallText("Base64Encode", {nphost::Arg::String("\xE4\xB8\xAD\xE6\x96\x87")}), "1tDOxA==");  // 中文
    EXPECT_EQ(CallText("Base64Encode", {nphost::Arg::String("abc")}), "YWJj");
}

TEST_F(PluginTest, Base64DecodeStopsAtZeroByte) {
    EXPECT_EQ(Decode("YWJj"), "abc");
    EXPECT_EQ(Decode("YQBi"), "a") << "61 00 62";
    EXPECT_EQ(Decode("AGFi"), "");
    EXPECT_EQ(Decode("1tDOxA=="), "\xD6\xD0\xCE\xC4") << "bytes come back as they are";
}

TEST_F(PluginTest, ConvertedArgumentIsCutAt8191Bytes) {
    for (size_t n : {8190u, 8191u, 8192u, 20000u}) {
        const std::string encoded = CallText("Base64Encode", {nphost::Arg::String(std::string(n, 'q'))});
        EXPECT_EQ(Decode(encoded), std::string(n < 8191 ? n : 8191, 'q')) << n;
    }
    // A two-byte GBK character that would straddle the limit is left out whole.
    std::string text(8190, 'q');
    text += "\xE4\xB8\xAD";  // 中, two bytes in GBK
    EXPECT_EQ(Decode(CallText("Base64Encode", {nphost::Arg::String(text)})), std::string(8190, 'q'));
}

// Missing arguments and arguments of other kinds read as empty text and 0.
TEST_F(PluginTest, MissingOrMistypedArgumentsReadAsEmpty) {
    const std::vector<std::vector<nphost::Arg>> cases = {
        {}, {nphost::Arg::Int(5)}, {nphost::Arg::Null()}, {nphost::Arg::Double(1.5)},
        {nphost::Arg::Bool(true)}, {nphost::Arg::Void()}};
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(CallText("Base64Encode", cases[i]), "") << i;
        EXPECT_EQ(CallText("Base64Decode", cases[i]), "") << i;
    }
}

TEST_F(PluginTest, LaterOperationsAnswerAsTheirFailure) {
    const char* textRows[] = {"SignData", "SignFile", "P7SignData", "GetCert", "GetCertList", "CreatePKCS10"};
    const char* intRows[] = {"ImportP12Cert", "UpdateCert", "DelCert", "DelContainer", "AcceptPKCS7",
                             "InstallPKCS7", "Clear"};
    const std::vector<nphost::Arg> args = {nphost::Arg::String("a"), nphost::Arg::Int(1), nphost::Arg::String("b")};
    for (const char* m : textRows) {
        nphost::Invocation c = instance->Invoke(m, args);
        EXPECT_FALSE(c.ok) << m;
        EXPECT_FALSE(c.hasException) << m;
        EXPECT_EQ(c.result.type, NPVariantType_Void) << m << ": result left untouched";
    }
    for (const char* m : intRows) {
        nphost::Invocation c = instance->Invoke(m, args);
        EXPECT_TRUE(c.ok) << m;
        ASSERT_TRUE(c.IsInt()) << m;
        EXPECT_EQ(c.result.value.intValue, 0) << m;
    }
}

// The rows of the hashing and provider-list operations reach them with their arguments
// prepared as the table says (data converted to GBK, alg as an integer, missing alg is MD5).
TEST_F(PluginTest, HashAndProviderRowsReachTheirOperations) {
    struct Case {
        std::vector<nphost::Arg> args;
        const char* digest;
    } cases[] = {
        {{nphost::Arg::String("abc"), nphost::Arg::Int(0)}, "kAFQmDzST7DWlj99KOF/cg=="},
        {{nphost::Arg::String("abc"), nphost::Arg::Int(1)}, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {{nphost::Arg::String("abc")}, "kAFQmDzST7DWlj99KOF/cg=="},
        // 中文 hashes as its GBK bytes D6 D0 CE C4.
        {{nphost::Arg::String("\xE4\xB8\xAD\xE6\x96\x87"), nphost::Arg::Int(0)}, "vM4Ql3Xo4Zcun1/No+EolQ=="},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(CallText("HashData", k.args), k.digest);
    }
    nphost::Invocation missing = instance->Invoke("HashFile", {nphost::Arg::String("C:\\no\\such.file"), nphost::Arg::Int(1)});
    EXPECT_FALSE(missing.ok);
    const std::string list = CallText("GetCSPList", {});
    EXPECT_NE(list.find("Microsoft Base Cryptographic Provider v1.0"), std::string::npos) << list;
}

TEST_F(PluginTest, TextResultFailsWhenBrowserGivesNoMemory) {
    const long before = browser.liveAllocations();
    browser.memAllocBudget = 1;  // the method name succeeds, the result copy does not
    nphost::Invocation c = instance->Invoke("Base64Encode", {nphost::Arg::String("abc")});
    browser.memAllocBudget = -1;
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(browser.liveAllocations(), before);
}

// ---- key events and the callback URL ----

class CallbackTest : public PluginTest {
protected:
    void Start(const std::string& name, nphost::Instance* who = nullptr) {
        nphost::Invocation c = (who ? who : instance)
                                   ->Invoke("StartUKeyMonitoring", {nphost::Arg::String(name), nphost::Arg::Int(10),
                                                                    nphost::Arg::String("none.dll")});
        ASSERT_TRUE(c.ok);
        ASSERT_TRUE(c.IsInt());
        EXPECT_EQ(c.result.value.intValue, 0);
    }
    void Post(HWND hwnd, WPARAM state) {
        browser.urls.clear();
        ASSERT_TRUE(PostMessageW(hwnd, kUKeyEvent, state, 0));
        browser.Pump();
    }
};

TEST_F(CallbackTest, KeyEventsOpenJavascriptUrlInSelf) {
    Start("onKeyOut");
    struct Case {
        WPARAM state;
        const char* url;
    } cases[] = {{1, "javascript:onKeyOut(1)"}, {0, "javascript:onKeyOut(0)"},
                 {static_cast<WPARAM>(-1), "javascript:onKeyOut(-1)"}};
    for (const Case& k : cases) {
        Post(instance->hwnd(), k.state);
        ASSERT_EQ(browser.urls.size(), 1u) << k.url;
        EXPECT_EQ(browser.urls[0].url, k.url);
        EXPECT_EQ(browser.urls[0].target, "_self");
        EXPECT_EQ(browser.urls[0].npp, instance->npp());
    }
}

TEST_F(CallbackTest, EmptyNameCallsNothing) {
    Start("");
    Post(instance->hwnd(), 1);
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].url, "javascript:(1)");
}

// "javascript:" + name + "(1)" + zero must fit 8192 bytes: 8177 fits, 8178 does not.
TEST_F(CallbackTest, LongNameThatFitsIsCalled) {
    std::string fits(8177, 'f');
    Start(fits);
    Post(instance->hwnd(), 1);
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].url, "javascript:" + fits + "(1)");
}

TEST_F(CallbackTest, LongNameThatDoesNotFitIsSkipped) {
    Start(std::string(8178, 'f'));
    Post(instance->hwnd(), 1);
    EXPECT_TRUE(browser.urls.empty()) << "a URL that does not fit is skipped";
}

TEST_F(CallbackTest, OverlongRawNameIsCutAndSkipped) {
    // A raw argument longer than its buffer is cut at 8191 bytes; the URL is then skipped.
    Start(std::string(70000, 'g'));
    Post(instance->hwnd(), 0);
    EXPECT_TRUE(browser.urls.empty());
}

TEST_F(CallbackTest, OtherMessagesAndOtherWindowsCallNothing) {
    Start("onKeyOut");
    browser.urls.clear();
    PostMessageW(instance->hwnd(), WM_USER + 101, 1, 0);
    PostMessageW(instance->hwnd(), WM_NULL, 1, 0);
    browser.Pump();
    EXPECT_TRUE(browser.urls.empty());
}

TEST_F(CallbackTest, EventAfterDestroyIsHarmless) {
    Start("onKeyOut");
    HWND hwnd = instance->hwnd();
    ASSERT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(nphost::Browser::hostWindowProc()),
              false)
        << "window taken over";
    ASSERT_EQ(instance->Destroy(), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(nphost::Browser::hostWindowProc()))
        << "previous procedure restored";
    EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0);
    Post(hwnd, 1);
    EXPECT_TRUE(browser.urls.empty());
}

TEST_F(PluginTest, SecondSetWindowChangesNothingAndNullHandleWaits) {
    HWND first = instance->hwnd();
    const LONG_PTR proc = GetWindowLongPtrW(first, GWLP_WNDPROC);
    EXPECT_EQ(instance->SetWindow(true, 640, 480), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrW(first, GWLP_WNDPROC), proc);

    nphost::Instance* late = browser.NewInstance();
    const LONG_PTR hostProc = reinterpret_cast<LONG_PTR>(nphost::Browser::hostWindowProc());
    EXPECT_EQ(late->SetWindow(false), NPERR_NO_ERROR);
    EXPECT_EQ(GetWindowLongPtrW(late->hwnd(), GWLP_WNDPROC), hostProc) << "not initialised yet";
    EXPECT_EQ(late->SetWindow(true), NPERR_NO_ERROR);
    EXPECT_NE(GetWindowLongPtrW(late->hwnd(), GWLP_WNDPROC), hostProc);
    EXPECT_EQ(GetWindowLongPtrW(late->hwnd(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(late->npp()->pdata));
}

// ---- random calls ----

TEST_F(PluginTest, RandomCallsNeverCrashAndLeaveNoAllocation) {
    std::mt19937 rng(20261211);
    const long before = browser.liveAllocations();
    const char* names[] = {"Base64Encode", "Base64Decode", "HashData", "HashFile", "SignData", "SignFile",
                           "P7SignData", "GetCert", "GetCertList", "GetCSPList", "ImportP12Cert", "UpdateCert",
                           "DelCert", "DelContainer", "CreatePKCS10", "AcceptPKCS7", "InstallPKCS7",
                           "StartUKeyMonitoring", "Clear", "clear", "Base64", "", "SignDat", "X"};
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n\0\x80\xE4\xB8\xAD\xFF";
    for (int i = 0; i < 3000; ++i) {
        std::vector<nphost::Arg> args;
        const int count = static_cast<int>(rng() % 12);
        for (int a = 0; a < count; ++a) {
            switch (rng() % 5) {
            case 0: {
                const size_t len = rng() % 8 == 0 ? rng() % 65537 : rng() % 64;
                std::string s(len, '\0');
                for (char& ch : s) ch = alphabet[rng() % (sizeof alphabet - 1)];
                args.push_back(nphost::Arg::String(s));
                break;
            }
            case 1: args.push_back(nphost::Arg::Int(static_cast<int32_t>(rng()))); break;
            case 2: args.push_back(nphost::Arg::Double(1.0 / (1 + rng() % 7))); break;
            case 3: args.push_back(nphost::Arg::Bool(rng() % 2)); break;
            default: args.push_back(nphost::Arg::Null()); break;
            }
        }
        nphost::Invocation c = instance->Invoke(names[rng() % (sizeof names / sizeof names[0])], args);
        if (c.ok) {
            ASSERT_TRUE(c.IsString() || c.IsInt());
        }
        browser.Release(c);
        if (i % 100 == 0) {
            PostMessageW(instance->hwnd(), kUKeyEvent, rng() % 2, 0);
            browser.Pump();
        }
    }
    EXPECT_EQ(browser.liveAllocations(), before);
}

}  // namespace
