#include "page_host.h"

#include <activscp.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "script_bridge.h"

namespace nphost {

namespace {

void WriteErr(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
}

std::string HexCode(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

// Percent-escapes in a javascript: URL are undone before the code runs, as browsers do.
std::string PercentDecode(const std::string& s) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Timer {
    int id;
    DWORD due;
    VARIANT what;  // a function (VT_DISPATCH) or code (VT_BSTR)
};

class CPage;

// The host's globals, visible to the page as global members.
class CHostGlobals final : public CDispatchObject {
public:
    explicit CHostGlobals(CPage* page) : page_(page) {}
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT*) override;

private:
    CPage* page_;
};

enum HostMember { kPrint = 1, kDone, kSetTimeout, kRun };
const struct {
    const wchar_t* name;
    DISPID id;
} kHostMembers[] = {{L"print", kPrint}, {L"done", kDone}, {L"setTimeout", kSetTimeout}, {L"run", kRun}};

class CPage final : public IActiveScriptSite {
public:
    CPage(Browser& browser, const PageOptions& options) : browser_(browser), options_(options) {}

    int Run();

    // IActiveScriptSite
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(IActiveScriptSite))) {
            *out = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on RunPage's stack; the engine's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unknown, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override;
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

    // For the host globals.
    void Print(const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void Done() { done_ = true; }
    int AddTimer(const VARIANT& what, DWORD ms) {
        Timer t{++lastTimer_, GetTickCount() + ms, {}};
        VariantInit(&t.what);
        VariantCopy(&t.what, const_cast<VARIANT*>(&what));
        timers_.push_back(t);
        return t.id;
    }
    void ScriptFailure(const std::string& message) {
        if (!failed_) WriteErr(message + "\n");
        failed_ = true;
    }

private:
    bool Evaluate(const std::wstring& code, const char* where);
    void RunDueTimers();
    void EvaluateUrls();
    void Pump();

    Browser& browser_;
    const PageOptions& options_;
    IActiveScript* engine_ = nullptr;
    IActiveScriptParse* parser_ = nullptr;
    CHostGlobals* globals_ = nullptr;
    std::vector<Instance*> instances_;
    std::vector<IDispatch*> objects_;
    std::vector<Timer> timers_;
    std::vector<std::string> pendingUrls_;
    int lastTimer_ = 0;
    bool done_ = false;
    bool failed_ = false;
};

HRESULT CHostGlobals::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const auto& m : kHostMembers) {
        if (names[0] != nullptr && std::wcscmp(names[0], m.name) == 0) {
            ids[0] = m.id;
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT CHostGlobals::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                             UINT*) {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    const UINT argc = params != nullptr ? params->cArgs : 0;
    auto arg = [&](UINT i) -> const VARIANT* { return i < argc ? &params->rgvarg[argc - 1 - i] : nullptr; };
    auto text = [&](UINT i) -> std::string {
        const VARIANT* v = arg(i);
        if (v == nullptr) return std::string();
        VARIANT s;
        VariantInit(&s);
        std::string out;
        if (v->vt == VT_EMPTY) {
            out = "undefined";
        } else if (v->vt == VT_NULL) {
            out = "null";
        } else if (SUCCEEDED(VariantChangeType(&s, const_cast<VARIANT*>(v), VARIANT_ALPHABOOL, VT_BSTR))) {
            out = Utf8FromBstr(s.bstrVal);
        }
        VariantClear(&s);
        return out;
    };
    auto number = [&](UINT i) -> long {
        const VARIANT* v = arg(i);
        VARIANT n;
        VariantInit(&n);
        long out = 0;
        if (v != nullptr && SUCCEEDED(VariantChangeType(&n, const_cast<VARIANT*>(v), 0, VT_I4))) out = n.lVal;
        return out;
    };
    if (result != nullptr) VariantInit(result);
    switch (id) {
    case kPrint:
        page_->Print(text(0));
        return S_OK;
    case kDone:
        page_->Done();
        return S_OK;
    case kSetTimeout: {
        const VARIANT* what = arg(0);
        if (what == nullptr || (what->vt != VT_DISPATCH && what->vt != VT_BSTR)) {
            if (info != nullptr) {
                std::memset(info, 0, sizeof *info);
                info->bstrDescription = SysAllocString(L"setTimeout needs a function or code");
                info->scode = E_INVALIDARG;
            }
            return DISP_E_EXCEPTION;
        }
        const long ms = number(1);
        const int timer = page_->AddTimer(*what, static_cast<DWORD>(ms < 0 ? 0 : ms));
        if (result != nullptr) {
            result->vt = VT_I4;
            result->lVal = timer;
        }
        return S_OK;
    }
    case kRun: {
        std::wstring command = FromUtf8(text(0));
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        (void)sa;
        PROCESS_INFORMATION pi = {};
        long code = -1;
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            WaitForSingleObject(pi.hProcess, INFINITE);
            DWORD exitCode = 0;
            GetExitCodeProcess(pi.hProcess, &exitCode);
            code = static_cast<long>(exitCode);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        if (result != nullptr) {
            result->vt = VT_I4;
            result->lVal = code;
        }
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT CPage::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unknown, ITypeInfo** typeInfo) {
    if (typeInfo != nullptr) *typeInfo = nullptr;
    if (!(mask & SCRIPTINFO_IUNKNOWN) || unknown == nullptr) return (mask & SCRIPTINFO_ITYPEINFO) ? TYPE_E_ELEMENTNOTFOUND : E_INVALIDARG;
    *unknown = nullptr;
    const std::wstring item = name != nullptr ? name : L"";
    IDispatch* found = nullptr;
    if (item == L"nphost") {
        found = globals_;
    } else {
        for (size_t i = 0; i < objects_.size(); ++i) {
            const std::wstring expected = i == 0 ? L"plugin" : L"plugin" + std::to_wstring(i + 1);
            if (item == expected) found = objects_[i];
        }
    }
    if (found == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    found->AddRef();
    *unknown = found;
    return S_OK;
}

HRESULT CPage::OnScriptError(IActiveScriptError* error) {
    EXCEPINFO info = {};
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    std::string message = "script error";
    if (error != nullptr && SUCCEEDED(error->GetExceptionInfo(&info))) {
        if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
        if (info.bstrDescription != nullptr && SysStringLen(info.bstrDescription) > 0) {
            message = Utf8FromBstr(info.bstrDescription);
        } else {
            message += " " + HexCode(info.scode != 0 ? info.scode : static_cast<HRESULT>(info.wCode));
        }
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
    if (error != nullptr) error->GetSourcePosition(&context, &line, &column);
    ScriptFailure(ToUtf8(options_.scriptPath) + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) +
                  ": " + message);
    return S_OK;
}

bool CPage::Evaluate(const std::wstring& code, const char* where) {
    EXCEPINFO info = {};
    const HRESULT hr = parser_->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
    if (FAILED(hr)) {
        // The engine reports most errors through OnScriptError; this covers the rest.
        std::string message = std::string(where) + ": script failed " + HexCode(hr);
        if (info.bstrDescription != nullptr) message += ": " + Utf8FromBstr(info.bstrDescription);
        ScriptFailure(message);
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return SUCCEEDED(hr);
}

void CPage::RunDueTimers() {
    const DWORD now = GetTickCount();
    for (size_t i = 0; i < timers_.size() && !done_ && !failed_;) {
        if (static_cast<LONG>(now - timers_[i].due) < 0) {
            ++i;
            continue;
        }
        Timer t = timers_[i];
        timers_.erase(timers_.begin() + static_cast<std::ptrdiff_t>(i));
        if (t.what.vt == VT_BSTR) {
            Evaluate(std::wstring(t.what.bstrVal, SysStringLen(t.what.bstrVal)), "setTimeout");
        } else if (t.what.vt == VT_DISPATCH && t.what.pdispVal != nullptr) {
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            EXCEPINFO info = {};
            VARIANT ignored;
            VariantInit(&ignored);
            const HRESULT hr =
                t.what.pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, &ignored, &info, nullptr);
            if (FAILED(hr)) {
                if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
                std::string message = ToUtf8(options_.scriptPath) + ": error in a setTimeout function: ";
                message += info.bstrDescription != nullptr && SysStringLen(info.bstrDescription) > 0
                               ? Utf8FromBstr(info.bstrDescription)
                               : HexCode(hr);
                ScriptFailure(message);
            }
            VariantClear(&ignored);
            SysFreeString(info.bstrSource);
            SysFreeString(info.bstrDescription);
            SysFreeString(info.bstrHelpFile);
        }
        VariantClear(&t.what);
        i = 0;  // a timer may have added timers
    }
}

void CPage::EvaluateUrls() {
    while (!pendingUrls_.empty() && !done_ && !failed_) {
        const std::string url = pendingUrls_.front();
        pendingUrls_.erase(pendingUrls_.begin());
        Evaluate(FromUtf8(PercentDecode(url.substr(std::strlen("javascript:")))), url.c_str());
    }
}

void CPage::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int CPage::Run() {
    FILE* file = _wfopen(WindowsPath(options_.scriptPath).c_str(), L"rb");
    if (file == nullptr) {
        WriteErr("cannot read page " + ToUtf8(options_.scriptPath) + "\n");
        return kPageNotUsable;
    }
    std::string source;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) source.append(chunk, got);
    std::fclose(file);
    if (source.compare(0, 3, "\xEF\xBB\xBF") == 0) source.erase(0, 3);

    for (int i = 0; i < options_.instances; ++i) {
        NPError e = NPERR_NO_ERROR;
        Instance* instance = browser_.NewInstance(&e);
        if (e != NPERR_NO_ERROR || (!options_.windowAfterLoad && instance->SetWindow() != NPERR_NO_ERROR)) {
            WriteErr("plug-in instance could not be set up\n");
            return kPageNotUsable;
        }
        NPObject* object = instance->ScriptObject();
        if (object == nullptr) {
            WriteErr("plug-in gives no scriptable object\n");
            return kPageNotUsable;
        }
        objects_.push_back(WrapNPObject(browser_, object));
        browser_.funcs().releaseobject(object);  // the wrapper holds its own reference
        instances_.push_back(instance);
    }
    browser_.urlHandler = [this](const UrlRequest& r) {
        if (r.url.compare(0, 11, "javascript:") == 0 && r.target == "_self") pendingUrls_.push_back(r.url);
    };

    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"JScript", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                reinterpret_cast<void**>(&engine_))) ||
        FAILED(engine_->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&parser_)))) {
        WriteErr("the JScript engine is not available\n");
        return kPageNotUsable;
    }
    globals_ = new CHostGlobals(this);
    bool ready = SUCCEEDED(parser_->InitNew()) && SUCCEEDED(engine_->SetScriptSite(this)) &&
                 SUCCEEDED(engine_->AddNamedItem(L"nphost", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS));
    for (size_t i = 0; ready && i < objects_.size(); ++i) {
        const std::wstring name = i == 0 ? L"plugin" : L"plugin" + std::to_wstring(i + 1);
        ready = SUCCEEDED(engine_->AddNamedItem(name.c_str(), SCRIPTITEM_ISVISIBLE));
    }
    ready = ready && SUCCEEDED(engine_->SetScriptState(SCRIPTSTATE_CONNECTED));
    int rc = kPageNotUsable;
    if (!ready) {
        WriteErr("the JScript engine could not be started\n");
    } else {
        const DWORD start = GetTickCount();
        const double limitMs = options_.timeoutSeconds * 1000.0;
        const DWORD limit = limitMs >= 4e9 ? 4000000000u : static_cast<DWORD>(limitMs < 0 ? 0 : limitMs);
        Evaluate(FromUtf8(source), ToUtf8(options_.scriptPath).c_str());
        if (options_.windowAfterLoad) {
            for (Instance* instance : instances_) instance->SetWindow();
        }
        bool timedOut = false;
        while (!done_ && !failed_) {
            Pump();
            EvaluateUrls();
            RunDueTimers();
            if (done_ || failed_) break;
            const DWORD now = GetTickCount();
            if (now - start >= limit) {
                timedOut = true;
                break;
            }
            DWORD wait = limit - (now - start);
            for (const Timer& t : timers_) {
                const LONG left = static_cast<LONG>(t.due - now);
                wait = left <= 0 ? 0 : (static_cast<DWORD>(left) < wait ? static_cast<DWORD>(left) : wait);
            }
            if (pendingUrls_.empty() && wait > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
        }
        if (failed_) {
            rc = kPageScriptError;
        } else if (timedOut) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", options_.timeoutSeconds);
            WriteErr(std::string("timeout: the page did not call done() within ") + seconds + " s\n");
            rc = kPageTimeout;
        } else {
            rc = kPageDone;
        }
    }
    browser_.urlHandler = nullptr;
    for (Timer& t : timers_) VariantClear(&t.what);
    timers_.clear();
    if (engine_ != nullptr) engine_->Close();
    if (parser_ != nullptr) parser_->Release();
    if (engine_ != nullptr) engine_->Release();
    if (globals_ != nullptr) globals_->Release();
    for (IDispatch* object : objects_) object->Release();
    objects_.clear();
    return rc;
}

}  // namespace

int RunPage(Browser& browser, const PageOptions& options) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc;
    {
        CPage page(browser, options);
        rc = page.Run();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return rc;
}

}  // namespace nphost
