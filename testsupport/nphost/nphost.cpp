#include "nphost.h"

#include <cstdlib>
#include <cstring>

namespace nphost {

namespace {

Browser* g_current = nullptr;

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The arguments as the plug-in sees them; string variants point into the Args' own text.
std::vector<NPVariant> Variants(const std::vector<Arg>& args) {
    std::vector<NPVariant> variants;
    variants.reserve(args.size());
    for (const Arg& a : args) {
        NPVariant v = a.variant;
        if (v.type == NPVariantType_String) {
            v.value.stringValue.UTF8Characters = a.text.data();
            v.value.stringValue.UTF8Length = static_cast<uint32_t>(a.text.size());
        }
        variants.push_back(v);
    }
    return variants;
}

}  // namespace

Arg Arg::String(std::string s) {
    Arg a;
    a.text = std::move(s);
    a.variant.type = NPVariantType_String;
    return a;
}

Arg Arg::Int(int32_t v) {
    Arg a;
    a.variant.type = NPVariantType_Int32;
    a.variant.value.intValue = v;
    return a;
}

Arg Arg::Double(double v) {
    Arg a;
    a.variant.type = NPVariantType_Double;
    a.variant.value.doubleValue = v;
    return a;
}

Arg Arg::Bool(bool v) {
    Arg a;
    a.variant.type = NPVariantType_Bool;
    a.variant.value.boolValue = v;
    return a;
}

Arg Arg::Null() {
    Arg a;
    a.variant.type = NPVariantType_Null;
    return a;
}

Arg Arg::Void() {
    Arg a;
    a.variant.type = NPVariantType_Void;
    return a;
}

std::string Invocation::String() const {
    if (result.type != NPVariantType_String || result.value.stringValue.UTF8Characters == nullptr) {
        return std::string();
    }
    return std::string(result.value.stringValue.UTF8Characters, result.value.stringValue.UTF8Length);
}

// ---- Instance ----

Instance::Instance(Browser* browser) : browser_(browser) {
    npp_.ndata = this;
    hwnd_ = CreateWindowExW(0, Browser::windowClassName(), L"plugin", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

Instance::~Instance() {
    if (hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
}

NPError Instance::New() {
    char mime[] = "application/x-vexsign";
    const NPError e = browser_->pluginFuncs_.newp(mime, &npp_, NP_EMBED, 0, nullptr, nullptr, nullptr);
    created_ = e == NPERR_NO_ERROR;
    return e;
}

NPError Instance::SetWindow(bool withHandle, int width, int height) {
    window_.window = withHandle ? hwnd_ : nullptr;
    window_.x = 0;
    window_.y = 0;
    window_.width = static_cast<uint32_t>(width);
    window_.height = static_cast<uint32_t>(height);
    window_.clipRect = NPRect{0, 0, static_cast<uint16_t>(height), static_cast<uint16_t>(width)};
    window_.type = NPWindowTypeWindow;
    return browser_->pluginFuncs_.setwindow(&npp_, &window_);
}

NPError Instance::Destroy() {
    if (object_ != nullptr) {
        Browser::ReleaseObject(object_);
        object_ = nullptr;
    }
    destroyed_ = true;
    return browser_->pluginFuncs_.destroy(&npp_, nullptr);
}

NPObject* Instance::ScriptObject(NPError* error) {
    NPObject* object = nullptr;
    const NPError e = browser_->pluginFuncs_.getvalue(&npp_, NPPVpluginScriptableNPObject, &object);
    if (error != nullptr) {
        *error = e;
    }
    return e == NPERR_NO_ERROR ? object : nullptr;
}

Invocation Instance::InvokeWithIdentifier(NPIdentifier id, const std::vector<Arg>& args) {
    Invocation call;
    if (object_ == nullptr) {
        object_ = ScriptObject();
        if (object_ == nullptr) {
            return call;
        }
    }
    std::vector<NPVariant> variants = Variants(args);
    browser_->exceptionSet = false;
    browser_->lastException.clear();
    call.result.type = NPVariantType_Void;
    call.ok = object_->_class->invoke(object_, id, variants.data(), static_cast<uint32_t>(variants.size()),
                                      &call.result);
    call.hasException = browser_->exceptionSet;
    call.exception = browser_->lastException;
    return call;
}

Invocation Instance::Invoke(const std::string& method, const std::vector<Arg>& args) {
    return InvokeWithIdentifier(Browser::GetStringIdentifier(method.c_str()), args);
}

Invocation Instance::InvokeDefault(const std::vector<Arg>& args) {
    Invocation call;
    if (object_ == nullptr && (object_ = ScriptObject()) == nullptr) {
        return call;
    }
    std::vector<NPVariant> variants = Variants(args);
    call.result.type = NPVariantType_Void;
    call.ok = object_->_class->invokeDefault(object_, variants.data(), static_cast<uint32_t>(variants.size()),
                                             &call.result);
    return call;
}

// ---- Browser ----

Browser::Browser() {
    g_current = this;
    windowClass();
    funcs_.size = sizeof funcs_;
    funcs_.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
    funcs_.geturl = GetURL;
    funcs_.memalloc = MemAlloc;
    funcs_.memfree = MemFree;
    funcs_.setvalue = SetValue;
    funcs_.getstringidentifier = GetStringIdentifier;
    funcs_.getintidentifier = GetIntIdentifier;
    funcs_.identifierisstring = IdentifierIsString;
    funcs_.utf8fromidentifier = UTF8FromIdentifier;
    funcs_.intfromidentifier = IntFromIdentifier;
    funcs_.createobject = CreateObject;
    funcs_.retainobject = RetainObject;
    funcs_.releaseobject = ReleaseObject;
    funcs_.releasevariantvalue = ReleaseVariantValue;
    funcs_.setexception = SetException;
    pluginFuncs_.size = sizeof pluginFuncs_;
}

Browser::~Browser() {
    for (auto& instance : instances_) {
        if (instance->created_ && !instance->destroyed_) {
            instance->Destroy();
        }
    }
    instances_.clear();
    if (initialized_) {
        Shutdown();
    }
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
    if (g_current == this) {
        g_current = nullptr;
    }
}

Browser* Browser::current() {
    return g_current;
}

ATOM Browser::windowClass() {
    static ATOM atom = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = HostWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = windowClassName();
        return RegisterClassW(&wc);
    }();
    return atom;
}

WNDPROC Browser::hostWindowProc() {
    return HostWindowProc;
}

bool Browser::Load(const std::wstring& path) {
    module_ = LoadLibraryW(WindowsPath(path).c_str());
    if (module_ == nullptr) {
        return false;
    }
    getEntryPoints_ = reinterpret_cast<NP_GetEntryPointsFunc>(
        reinterpret_cast<void*>(GetProcAddress(module_, "NP_GetEntryPoints")));
    initialize_ =
        reinterpret_cast<NP_InitializeFunc>(reinterpret_cast<void*>(GetProcAddress(module_, "NP_Initialize")));
    shutdown_ = reinterpret_cast<NP_ShutdownFunc>(reinterpret_cast<void*>(GetProcAddress(module_, "NP_Shutdown")));
    mime_ = reinterpret_cast<NP_GetMIMEDescriptionFunc>(
        reinterpret_cast<void*>(GetProcAddress(module_, "NP_GetMIMEDescription")));
    if (getEntryPoints_ == nullptr || initialize_ == nullptr || shutdown_ == nullptr || mime_ == nullptr) {
        return false;
    }
    return getEntryPoints_(&pluginFuncs_) == NPERR_NO_ERROR;
}

void Browser::UseEntryPoints(NP_GetEntryPointsFunc getEntryPoints, NP_InitializeFunc initialize,
                             NP_ShutdownFunc shutdown, NP_GetMIMEDescriptionFunc mime) {
    getEntryPoints_ = getEntryPoints;
    initialize_ = initialize;
    shutdown_ = shutdown;
    mime_ = mime;
    getEntryPoints_(&pluginFuncs_);
}

NPError Browser::Initialize() {
    const NPError e = initialize_(&funcs_);
    initialized_ = e == NPERR_NO_ERROR;
    return e;
}

NPError Browser::Shutdown() {
    initialized_ = false;
    return shutdown_();
}

const char* Browser::MimeDescription() {
    return mime_();
}

Instance* Browser::NewInstance(NPError* error) {
    instances_.emplace_back(new Instance(this));
    Instance* instance = instances_.back().get();
    const NPError e = instance->New();
    if (error != nullptr) {
        *error = e;
    }
    return instance;
}

void Browser::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Browser::Release(Invocation& call) {
    ReleaseVariantValue(&call.result);
}

void* Browser::MemAlloc(uint32_t size) {
    Browser* b = g_current;
    if (b->memAllocBudget == 0) {
        return nullptr;
    }
    if (b->memAllocBudget > 0) {
        --b->memAllocBudget;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) {
        ++b->liveAllocations_;
    }
    return p;
}

void Browser::MemFree(void* p) {
    if (p != nullptr) {
        --g_current->liveAllocations_;
        std::free(p);
    }
}

NPError Browser::GetURL(NPP npp, const char* url, const char* target) {
    g_current->urls.push_back(UrlRequest{npp, url != nullptr ? url : "", target != nullptr ? target : ""});
    if (g_current->urlHandler) {
        g_current->urlHandler(g_current->urls.back());
    }
    return NPERR_NO_ERROR;
}

NPError Browser::SetValue(NPP npp, NPPVariable variable, void* value) {
    g_current->valuesSet.push_back(ValueSet{npp, variable, value});
    return NPERR_NO_ERROR;
}

NPIdentifier Browser::Intern(bool isString, const std::string& name, int32_t number) {
    for (auto& id : identifiers_) {
        if (id->isString == isString && (isString ? id->name == name : id->number == number)) {
            return id.get();
        }
    }
    identifiers_.emplace_back(new Identifier{isString, name, number});
    return identifiers_.back().get();
}

NPIdentifier Browser::GetStringIdentifier(const NPUTF8* name) {
    return name != nullptr ? g_current->Intern(true, name, 0) : nullptr;
}

NPIdentifier Browser::GetIntIdentifier(int32_t value) {
    return g_current->Intern(false, std::string(), value);
}

bool Browser::IdentifierIsString(NPIdentifier id) {
    return id != nullptr && static_cast<Identifier*>(id)->isString;
}

NPUTF8* Browser::UTF8FromIdentifier(NPIdentifier id) {
    if (!IdentifierIsString(id)) {
        return nullptr;
    }
    const std::string& name = static_cast<Identifier*>(id)->name;
    auto* copy = static_cast<NPUTF8*>(MemAlloc(static_cast<uint32_t>(name.size() + 1)));
    if (copy != nullptr) {
        std::memcpy(copy, name.c_str(), name.size() + 1);
    }
    return copy;
}

int32_t Browser::IntFromIdentifier(NPIdentifier id) {
    return id != nullptr && !static_cast<Identifier*>(id)->isString ? static_cast<Identifier*>(id)->number : 0;
}

NPObject* Browser::CreateObject(NPP npp, NPClass* cls) {
    if (cls == nullptr) {
        return nullptr;
    }
    NPObject* obj = cls->allocate != nullptr ? cls->allocate(npp, cls)
                                             : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (obj == nullptr) {
        return nullptr;
    }
    obj->_class = cls;
    obj->referenceCount = 1;
    ++g_current->liveObjects_;
    return obj;
}

NPObject* Browser::RetainObject(NPObject* obj) {
    if (obj != nullptr) {
        ++obj->referenceCount;
    }
    return obj;
}

void Browser::ReleaseObject(NPObject* obj) {
    if (obj == nullptr || obj->referenceCount == 0) {
        return;
    }
    if (--obj->referenceCount == 0) {
        --g_current->liveObjects_;
        ++g_current->deallocations_;
        if (obj->_class->deallocate != nullptr) {
            obj->_class->deallocate(obj);
        } else {
            std::free(obj);
        }
    }
}

void Browser::ReleaseVariantValue(NPVariant* v) {
    if (v->type == NPVariantType_String) {
        MemFree(const_cast<NPUTF8*>(v->value.stringValue.UTF8Characters));
    } else if (v->type == NPVariantType_Object) {
        ReleaseObject(v->value.objectValue);
    }
    v->type = NPVariantType_Void;
}

void Browser::SetException(NPObject*, const NPUTF8* message) {
    g_current->exceptionSet = true;
    g_current->lastException = message != nullptr ? message : "";
}

std::string ToUtf8(const std::wstring& w) {
    if (w.empty()) {
        return std::string();
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) {
        return std::wstring();
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::wstring WindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') {
        return path;
    }
    std::wstring w = L"Z:" + path;
    for (wchar_t& c : w) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return w;
}

}  // namespace nphost
