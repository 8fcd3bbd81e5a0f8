// The test browser's page host: script values to NPVariants and back, plug-in exceptions as
// script exceptions, javascript: URLs evaluated in the page, and the exit codes of a page run.
#include <windows.h>

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "nphost.h"
#include "page_run.h"
#include "script_bridge.h"

namespace {

// ---- conversions, in-process ----

TEST(ScriptBridge, ScriptValuesBecomeNPVariantsAsInABrowser) {
    nphost::Browser browser;
    struct Case {
        VARTYPE vt;
        double number;  // for numeric and boolean cases
        const wchar_t* text;
        NPVariantType type;
        int32_t intValue;
        const char* utf8;
    } cases[] = {
        {VT_I4, 7, nullptr, NPVariantType_Int32, 7, nullptr},
        {VT_R8, 2.0, nullptr, NPVariantType_Int32, 2, nullptr},  // integral numbers travel as Int32
        {VT_R8, 2.5, nullptr, NPVariantType_Double, 0, nullptr},
        {VT_R8, -2147483648.0, nullptr, NPVariantType_Int32, INT32_MIN, nullptr},
        {VT_R8, 2147483648.0, nullptr, NPVariantType_Double, 0, nullptr},  // out of Int32 range
        {VT_R8, -0.0, nullptr, NPVariantType_Double, 0, nullptr},
        {VT_R8, NAN, nullptr, NPVariantType_Double, 0, nullptr},
        {VT_BOOL, 1, nullptr, NPVariantType_Bool, 1, nullptr},
        {VT_BOOL, 0, nullptr, NPVariantType_Bool, 0, nullptr},
        {VT_NULL, 0, nullptr, NPVariantType_Null, 0, nullptr},
        {VT_EMPTY, 0, nullptr, NPVariantType_Void, 0, nullptr},  // undefined
        {VT_BSTR, 0, L"\x4E2D\x6587 ok", NPVariantType_String, 0, "\xE4\xB8\xAD\xE6\x96\x87 ok"},
        {VT_BSTR, 0, L"", NPVariantType_String, 0, ""},
    };
    for (const Case& k : cases) {
        VARIANT v;
        VariantInit(&v);
        v.vt = k.vt;
        switch (k.vt) {
        case VT_I4: v.lVal = static_cast<LONG>(k.number); break;
        case VT_R8: v.dblVal = k.number; break;
        case VT_BOOL: v.boolVal = k.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_BSTR: v.bstrVal = SysAllocString(k.text); break;
        default: break;
        }
        std::string storage;
        const NPVariant n = nphost::ToNPVariant(browser, v, storage);
        SCOPED_TRACE(testing::Message() << "vt " << k.vt << " value " << k.number);
        ASSERT_EQ(n.type, k.type);
        if (k.type == NPVariantType_Int32) {
            EXPECT_EQ(n.value.intValue, k.intValue);
        }
        if (k.type == NPVariantType_Bool) {
            EXPECT_EQ(n.value.boolValue, k.intValue != 0);
        }
        if (k.type == NPVariantType_Double && !std::isnan(k.number)) {
            EXPECT_EQ(n.value.doubleValue, k.number);
            EXPECT_EQ(std::signbit(n.value.doubleValue), std::signbit(k.number));
        }
        if (k.type == NPVariantType_String) {
            EXPECT_EQ(std::string(n.value.stringValue.UTF8Characters, n.value.stringValue.UTF8Length), k.utf8);
        }
        VariantClear(&v);
    }
}

TEST(ScriptBridge, NPVariantsBecomeScriptValues) {
    nphost::Browser browser;
    NPVariant n;
    VARIANT v;
    n.type = NPVariantType_Int32;
    n.value.intValue = -5;
    ASSERT_EQ(nphost::ToVariant(browser, n, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, -5);
    n.type = NPVariantType_Double;
    n.value.doubleValue = 0.25;
    nphost::ToVariant(browser, n, &v);
    EXPECT_EQ(v.vt, VT_R8);
    EXPECT_EQ(v.dblVal, 0.25);
    n.type = NPVariantType_Bool;
    n.value.boolValue = true;
    nphost::ToVariant(browser, n, &v);
    EXPECT_EQ(v.vt, VT_BOOL);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);
    n.type = NPVariantType_Null;
    nphost::ToVariant(browser, n, &v);
    EXPECT_EQ(v.vt, VT_NULL);
    n.type = NPVariantType_Void;
    nphost::ToVariant(browser, n, &v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    // UTF-8 with a zero byte inside: the length decides, not the zero.
    static const char text[] = "\xE4\xB8\xAD\0\xE6\x96\x87";
    n.type = NPVariantType_String;
    n.value.stringValue.UTF8Characters = text;
    n.value.stringValue.UTF8Length = sizeof text - 1;
    ASSERT_EQ(nphost::ToVariant(browser, n, &v), S_OK);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)), std::wstring(L"\x4E2D\0\x6587", 3));
    VariantClear(&v);
}

// ---- pages with the plug-in ----

TEST(PageHost, ArgumentsAndResultsCrossAsInABrowser) {
    const PageRun r = RunPage("convert",
                              "print(plugin.Base64Encode(\"\\u4e2d\\u6587\"));\n"  // GBK bytes of the text
                              "print(plugin.Base64Decode(\"5Lit5paH\"));\n"          // UTF-8 bytes back as text
                              "print(plugin.HashData(\"abc\", 1));\n"
                              "print(plugin.HashData(\"abc\", 1.0));\n"   // integral: Int32
                              "print(plugin.HashData(\"abc\", 1.5));\n"   // Double: not an integer, MD5
                              "print(plugin.HashData(\"abc\", true));\n"  // Bool: MD5
                              "print(plugin.HashData(\"abc\", \"1\"));\n" // text: MD5
                              "print(plugin.HashData(\"abc\"));\n"        // missing: MD5
                              "print(plugin.HashData(1234, 1));\n"        // number as text: empty text
                              "print(plugin.HashData(null, 1));\n"
                              "print(plugin.HashData(undefined, 1));\n"
                              "var z = plugin.Clear(); print(typeof z + \" \" + z);\n"
                              "var e = plugin.Base64Encode(\"\"); print(typeof e + \" [\" + e + \"]\");\n"
                              "print(typeof plugin2 + \" \" + typeof plugin3 + \" \" + typeof plugin4);\n"
                              "done();\n",
                              L"--instances 3");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out,
              "1tDOxA==\n"
              "\xE4\xB8\xAD\xE6\x96\x87\n"
              "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=\n"
              "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=\n"
              "kAFQmDzST7DWlj99KOF/cg==\n"
              "kAFQmDzST7DWlj99KOF/cg==\n"
              "kAFQmDzST7DWlj99KOF/cg==\n"
              "kAFQmDzST7DWlj99KOF/cg==\n"
              "2jmj7l5rSw0yVb/vlWAYkK/YBwk=\n"
              "2jmj7l5rSw0yVb/vlWAYkK/YBwk=\n"
              "2jmj7l5rSw0yVb/vlWAYkK/YBwk=\n"
              "number 0\n"
              "string []\n"
              "object object undefined\n")
        << r.err;
}

TEST(PageHost, PluginExceptionsAreScriptExceptions) {
    const PageRun r = RunPage("exceptions",
                              "try { plugin.base64encode(\"x\"); print(\"no exception\"); }\n"
                              "catch (e) { print(\"caught: \" + e.message); }\n"
                              "try { plugin.SignData(\"x\", 1); print(\"no exception\"); }\n"
                              "catch (e) { print(\"caught: \" + e.message); }\n"
                              "print(plugin.Base64Encode(\"after\"));\n"
                              "plugin.NoSuchMethod();\n"
                              "print(\"not reached\");\n");
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(r.out, "caught: Unknown method!\ncaught: Error calling method on NPObject.\nYWZ0ZXI=\n");
    EXPECT_NE(r.err.find(":6:"), std::string::npos) << r.err;  // the uncaught one, with its line
    EXPECT_NE(r.err.find("Unknown method!"), std::string::npos) << r.err;
}

TEST(PageHost, ErrorsTimeoutsAndUsageHaveTheirExitCodes) {
    struct Case {
        const char* name;
        const char* script;  // nullptr: no page file
        std::wstring options;
        DWORD exitCode;
        const char* out;
        const char* errPart;
    } cases[] = {
        {"syntax", "print(\"a\"\n", L"", 4, "", ":2:"},
        {"runtime", "print(\"a\");\nnoSuchFunction();\n", L"", 4, "a\n", ":2:"},
        {"in-timer", "setTimeout(function () { null.x; }, 10);\n", L"", 4, "", ":1:"},
        {"code-timer", "setTimeout(\"print('t'); done();\", 10);\n", L"", 0, "t\n", ""},
        {"no-done", "print(\"waiting\");\n", L"--timeout 0.5", 5, "waiting\n", "timeout"},
        {"done-later", "setTimeout(function () { print(\"b\"); done(); }, 50); print(\"a\");\n", L"", 0, "a\nb\n", ""},
        {"bad-timeout", "done();\n", L"--timeout soon", 64, "", "usage"},
        {"bad-instances", "done();\n", L"--instances 0", 64, "", "usage"},
    };
    for (const Case& k : cases) {
        const PageRun r = RunPage(k.name, k.script, k.options);
        EXPECT_EQ(r.exitCode, k.exitCode) << k.name << ": " << r.err;
        EXPECT_EQ(r.out, k.out) << k.name;
        EXPECT_NE(r.err.find(k.errPart), std::string::npos) << k.name << ": " << r.err;
    }
    const PageRun missing = RunNphost(L"--page \"Z:\\no\\such\\page.js\"");
    EXPECT_EQ(missing.exitCode, 3u) << missing.err;
    const PageRun noFile = RunNphost(L"--page");
    EXPECT_EQ(noFile.exitCode, 64u) << noFile.err;
}

// The monitor's javascript: URL is evaluated in the page, a function name in Chinese included
// (UTF-8 in the URL, UTF-16 in the engine); a scripted fake key gives the events. The name is
// written as characters: Wine's JScript takes no \u escapes in identifiers.
TEST(PageHost, JavascriptUrlsRunInThePage) {
    SetEnvironmentVariableA("FAKEP11_MODE", "events");
    SetEnvironmentVariableA("FAKEP11_EVENTS", "..o..i");
    const PageRun r = RunPage("url",
                              "function \xE5\x9B\x9E\xE8\xB0\x83(s) { print(\"\xE5\x9B\x9E\xE8\xB0\x83 \" + s); }\n"
                              "plugin.StartUKeyMonitoring(\"\xE5\x9B\x9E\xE8\xB0\x83\", 10, " +
                                  ScriptPath(FAKEP11_DLL) + ");\n"
                              "setTimeout(function () { done(); }, 1000);\n");
    SetEnvironmentVariableA("FAKEP11_EVENTS", nullptr);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "\xE5\x9B\x9E\xE8\xB0\x83 1\n\xE5\x9B\x9E\xE8\xB0\x83 0\n") << r.err;
}

}  // namespace
