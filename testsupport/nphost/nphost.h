// The browser side of NPAPI for tests: loads a plug-in, gives it a real NPNetscapeFuncs table
// with counted memory, string identifiers, reference-counted objects, and a real window per
// instance, and records what the plug-in asks of the browser (exceptions, URLs, values).
// One Browser at a time per process: the NPN functions have no context pointer.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "npapi.h"

namespace nphost {

struct UrlRequest {
    NPP npp;
    std::string url;
    std::string target;
};

struct ValueSet {
    NPP npp;
    NPPVariable variable;
    void* value;
};

// A script argument: a string (UTF-8 bytes) or another variant kind.
struct Arg {
    NPVariant variant{};
    std::string text;  // backing store of a string argument
    static Arg String(std::string s);
    static Arg Int(int32_t v);
    static Arg Double(double v);
    static Arg Bool(bool v);
    static Arg Null();
    static Arg Void();
};

struct Invocation {
    bool ok = false;          // what invoke returned
    NPVariant result{};       // as the plug-in left it (type Void if untouched)
    std::string exception;    // message of NPN_SetException during the call
    bool hasException = false;

    bool IsString() const { return result.type == NPVariantType_String; }
    std::string String() const;
    bool IsInt() const { return result.type == NPVariantType_Int32; }
};

class Browser;

class Instance {
public:
    ~Instance();
    NPP npp() { return &npp_; }
    HWND hwnd() const { return hwnd_; }
    NPError New();
    NPError SetWindow(bool withHandle = true, int width = 200, int height = 100);
    NPError Destroy();
    // NPP_GetValue(NPPVpluginScriptableNPObject); the browser owns the reference it receives.
    NPObject* ScriptObject(NPError* error = nullptr);
    // Invokes method on the script object (asked for on first use); the result variant is
    // released by the Invocation's owner through Browser::Release.
    Invocation Invoke(const std::string& method, const std::vector<Arg>& args);
    Invocation InvokeWithIdentifier(NPIdentifier id, const std::vector<Arg>& args);
    Invocation InvokeDefault(const std::vector<Arg>& args);
    bool destroyed() const { return destroyed_; }

private:
    friend class Browser;
    explicit Instance(Browser* browser);
    Browser* browser_;
    NPP_t npp_{};
    HWND hwnd_ = nullptr;
    NPWindow window_{};
    NPObject* object_ = nullptr;  // the browser's reference
    bool created_ = false;
    bool destroyed_ = false;
};

class Browser {
public:
    Browser();
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Loads the DLL and calls NP_GetEntryPoints; false when it cannot be loaded or lacks an export.
    bool Load(const std::wstring& path);
    // Uses entry points linked into this process instead of a DLL.
    void UseEntryPoints(NP_GetEntryPointsFunc getEntryPoints, NP_InitializeFunc initialize,
                        NP_ShutdownFunc shutdown, NP_GetMIMEDescriptionFunc mime);
    NPError Initialize();
    NPError Shutdown();
    const char* MimeDescription();

    // Creates an instance and calls NPP_New; the window exists from the start.
    Instance* NewInstance(NPError* error = nullptr);
    // Delivers every message waiting in this thread's queue.
    void Pump();
    void Release(Invocation& call);

    NPNetscapeFuncs& funcs() { return funcs_; }
    NPPluginFuncs& pluginFuncs() { return pluginFuncs_; }
    NP_InitializeFunc initializeEntry() const { return initialize_; }

    // Counters and records.
    long liveAllocations() const { return liveAllocations_; }
    long liveObjects() const { return liveObjects_; }
    long deallocations() const { return deallocations_; }
    std::vector<UrlRequest> urls;
    // Called for every NPN_GetURL after it has been recorded (a page evaluates javascript: URLs).
    std::function<void(const UrlRequest&)> urlHandler;
    std::vector<ValueSet> valuesSet;
    std::string lastException;
    bool exceptionSet = false;
    // When >= 0, that many more NPN_MemAlloc calls succeed, then they fail.
    long memAllocBudget = -1;

    static Browser* current();
    static ATOM windowClass();
    static const wchar_t* windowClassName() { return L"nphost_plugin_window"; }
    static WNDPROC hostWindowProc();

private:
    friend class Instance;
    static void* MemAlloc(uint32_t size);
    static void MemFree(void* p);
    static NPError GetURL(NPP npp, const char* url, const char* target);
    static NPError SetValue(NPP npp, NPPVariable variable, void* value);
    static NPIdentifier GetStringIdentifier(const NPUTF8* name);
    static NPIdentifier GetIntIdentifier(int32_t value);
    static bool IdentifierIsString(NPIdentifier id);
    static NPUTF8* UTF8FromIdentifier(NPIdentifier id);
    static int32_t IntFromIdentifier(NPIdentifier id);
    static NPObject* CreateObject(NPP npp, NPClass* cls);
    static NPObject* RetainObject(NPObject* obj);
    static void ReleaseObject(NPObject* obj);
    static void ReleaseVariantValue(NPVariant* v);
    static void SetException(NPObject* obj, const NPUTF8* message);

    struct Identifier {
        bool isString;
        std::string name;
        int32_t number;
    };
    NPIdentifier Intern(bool isString, const std::string& name, int32_t number);

    HMODULE module_ = nullptr;
    NP_GetEntryPointsFunc getEntryPoints_ = nullptr;
    NP_InitializeFunc initialize_ = nullptr;
    NP_ShutdownFunc shutdown_ = nullptr;
    NP_GetMIMEDescriptionFunc mime_ = nullptr;
    NPNetscapeFuncs funcs_{};
    NPPluginFuncs pluginFuncs_{};
    bool initialized_ = false;
    std::vector<std::unique_ptr<Identifier>> identifiers_;
    std::vector<std::unique_ptr<Instance>> instances_;
    long liveAllocations_ = 0;
    long liveObjects_ = 0;
    long deallocations_ = 0;
};

// UTF-8 ↔ UTF-16 for command lines and paths.
std::string ToUtf8(const std::wstring& w);
std::wstring FromUtf8(const std::string& s);
// A Unix path given under Wine (/x/y) as a Windows path on drive Z:.
std::wstring WindowsPath(const std::wstring& path);

}  // namespace nphost
