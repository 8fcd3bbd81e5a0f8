// nphost PLUGIN.dll METHOD [ARG...]: loads a plug-in as a browser would, calls one script
// method on its object and prints the result exactly (string bytes as they are, Int32 in
// decimal). ARG is a string, or int:N for an Int32.
// Exit codes: 0 result printed, 1 call failed, 2 script exception, 3 plug-in not usable,
// 64 usage error.
//
// nphost PLUGIN.dll --page PAGE.js [--timeout SECONDS] [--instances N] [--window-after-load]:
// runs a page script (UTF-8) in the JScript engine with the plug-in's objects as `plugin`,
// `plugin2`, ... until it calls done() (page_host.h). Exit codes: 0 done, 3 not usable,
// 4 script error, 5 timeout, 64 usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "nphost.h"
#include "page_host.h"

namespace {

void Write(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
}

bool ParseInt(const std::string& text, int32_t* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

std::string ResultText(const NPVariant& v) {
    switch (v.type) {
    case NPVariantType_String:
        return std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length);
    case NPVariantType_Int32:
        return std::to_string(v.value.intValue);
    case NPVariantType_Bool:
        return v.value.boolValue ? "true" : "false";
    case NPVariantType_Double:
        return std::to_string(v.value.doubleValue);
    case NPVariantType_Null:
        return "null";
    default:
        return std::string();
    }
}

// Loads and initialises the plug-in as a browser would; false (message on stderr) when unusable.
bool StartPlugin(nphost::Browser& browser, const std::wstring& path, const std::string& name) {
    if (!browser.Load(path)) {
        std::fprintf(stderr, "cannot load plug-in %s\n", name.c_str());
        return false;
    }
    if (browser.Initialize() != NPERR_NO_ERROR) {
        std::fputs("NP_Initialize failed\n", stderr);
        return false;
    }
    return true;
}

bool ParseSeconds(const std::string& text, double* value) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(v >= 0) || v > 86400) {
        return false;
    }
    *value = v;
    return true;
}

int RunPageMode(const std::wstring& pluginPath, const std::vector<std::string>& argv) {
    nphost::PageOptions options;
    for (size_t i = 2; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        const bool hasValue = i + 1 < argv.size();
        int32_t n = 0;
        if (a == "--page" && hasValue) {
            options.scriptPath = nphost::FromUtf8(argv[++i]);
        } else if (a == "--timeout" && hasValue && ParseSeconds(argv[i + 1], &options.timeoutSeconds)) {
            ++i;
        } else if (a == "--instances" && hasValue && ParseInt(argv[i + 1], &n) && n >= 1 && n <= 16) {
            options.instances = n;
            ++i;
        } else if (a == "--window-after-load") {
            options.windowAfterLoad = true;
        } else {
            std::fprintf(stderr, "usage: bad page option '%s'\n", a.c_str());
            return 64;
        }
    }
    if (options.scriptPath.empty()) {
        std::fputs("usage: nphost PLUGIN.dll --page PAGE.js [--timeout SECONDS] [--instances N] "
                   "[--window-after-load]\n",
                   stderr);
        return 64;
    }
    nphost::Browser browser;
    if (!StartPlugin(browser, pluginPath, argv[1])) {
        return 3;
    }
    const int rc = nphost::RunPage(browser, options);
    std::fflush(stdout);
    return rc;
}

}  // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    LPWSTR* argvW = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> argv;
    for (int i = 0; i < argc; ++i) {
        argv.push_back(nphost::ToUtf8(argvW[i]));
    }
    const std::wstring pluginPath = argc > 1 ? argvW[1] : L"";
    LocalFree(argvW);
    if (argv.size() >= 3 && argv[2] == "--page") {
        return RunPageMode(pluginPath, argv);
    }
    if (argv.size() < 3) {
        std::fputs("usage: nphost PLUGIN.dll METHOD [ARG...]  (ARG: text, or int:N)\n", stderr);
        return 64;
    }
    std::vector<nphost::Arg> args;
    for (size_t i = 3; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a.compare(0, 4, "int:") == 0) {
            int32_t v = 0;
            if (!ParseInt(a.substr(4), &v)) {
                std::fprintf(stderr, "usage: bad integer argument '%s'\n", a.c_str());
                return 64;
            }
            args.push_back(nphost::Arg::Int(v));
        } else {
            args.push_back(nphost::Arg::String(a));
        }
    }

    int rc = 0;
    {
        nphost::Browser browser;
        if (!StartPlugin(browser, pluginPath, argv[1])) {
            return 3;
        }
        nphost::Instance* instance = browser.NewInstance();
        if (instance->SetWindow() != NPERR_NO_ERROR) {
            std::fputs("NPP_SetWindow failed\n", stderr);
            return 3;
        }
        nphost::Invocation call = instance->Invoke(argv[2], args);
        if (call.hasException) {
            Write("exception: " + call.exception + "\n");
            if (call.ok) {
                Write(ResultText(call.result));
            }
            rc = 2;
        } else if (!call.ok) {
            Write("call failed\n");
            rc = 1;
        } else {
            Write(ResultText(call.result));
        }
        browser.Release(call);
        browser.Pump();
    }
    std::fflush(stdout);
    return rc;
}
