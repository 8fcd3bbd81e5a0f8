#include "script_object.h"

#include <cstring>
#include <new>

#include "base64.h"
#include "certs.h"
#include "csplist.h"
#include "hash.h"
#include "p7sign.h"
#include "plugin_instance.h"
#include "plugin_module.h"
#include "shared_state.h"
#include "signing_cache.h"
#include "textconv.h"
#include "ukey_monitor.h"

size_t ArgBuffer::Length() const {
    return strnlen(text, ArgBufferSize);
}

namespace {

const NPString* TextArg(const NPVariant* args, uint32_t argCount, uint32_t index) {
    if (args == nullptr || index >= argCount || args[index].type != NPVariantType_String) {
        return nullptr;
    }
    const NPString* s = &args[index].value.stringValue;
    if (s->UTF8Characters == nullptr || s->UTF8Length == 0) {
        return nullptr;
    }
    return s;
}

}  // namespace

void PrepareConverted(ArgBuffer& buffer, const NPVariant* args, uint32_t argCount, uint32_t index) {
    buffer.text[0] = '\0';
    const NPString* s = TextArg(args, argCount, index);
    if (s == nullptr) {
        return;
    }
    // Utf8ToAnsi cuts at 8191 bytes, leaving out a character that would not fit whole.
    const int length = s->UTF8Length > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(s->UTF8Length);
    Utf8ToAnsi(buffer.text, static_cast<int>(ArgBufferSize), s->UTF8Characters, length);
}

void PrepareRaw(ArgBuffer& buffer, const NPVariant* args, uint32_t argCount, uint32_t index) {
    buffer.text[0] = '\0';
    const NPString* s = TextArg(args, argCount, index);
    if (s == nullptr) {
        return;
    }
    const size_t n = s->UTF8Length < ArgBufferSize - 1 ? s->UTF8Length : ArgBufferSize - 1;
    std::memcpy(buffer.text, s->UTF8Characters, n);
    buffer.text[n] = '\0';
}

NPString DirectText(const NPVariant* args, uint32_t argCount, uint32_t index) {
    const NPString* s = TextArg(args, argCount, index);
    if (s == nullptr) {
        return NPString{"", 0};
    }
    return *s;
}

int32_t IntegerArg(const NPVariant* args, uint32_t argCount, uint32_t index) {
    if (args == nullptr || index >= argCount || args[index].type != NPVariantType_Int32) {
        return 0;
    }
    return args[index].value.intValue;
}

void ListResultToUtf8(CallResult& result) {
    if (!result.success || result.text == nullptr) {
        return;
    }
    ArgBuffer converted;
    if (result.textLength > 0) {
        const int length = result.textLength > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(result.textLength);
        AnsiToUtf8(converted.text, static_cast<int>(ArgBufferSize), result.text, length);
    }
    delete[] result.text;
    result.text = nullptr;
    result.textLength = 0;
    const size_t n = converted.Length();
    char* text = new (std::nothrow) char[n + 1];
    if (text == nullptr) {
        result.success = false;
        return;
    }
    std::memcpy(text, converted.text, n + 1);
    result.text = text;
    result.textLength = n;
}

namespace {

using RowHandler = void (*)(CScriptObject* self, const NPVariant* args, uint32_t argCount, CallResult& r);

void DoBase64Encode(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer data;
    PrepareConverted(data, args, argCount, 0);
    r.success = CoreBase64Encode(reinterpret_cast<const unsigned char*>(data.text), data.Length(), &r.text,
                                 &r.textLength);
}

void DoBase64Decode(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    const NPString data = DirectText(args, argCount, 0);
    char* bytes = nullptr;
    size_t count = 0;
    r.success = CoreBase64Decode(data.UTF8Characters, data.UTF8Length, &bytes, &count);
    r.text = bytes;
    r.textLength = count;
}

// Operations that take ints for their lengths: the converted text is at most 8191 bytes.
void TakeText(bool ok, char* text, int length, CallResult& r) {
    r.success = ok;
    r.text = ok ? text : nullptr;
    r.textLength = ok ? static_cast<size_t>(length) : 0;
}

void DoHashData(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer data;
    PrepareConverted(data, args, argCount, 0);
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreHashData(reinterpret_cast<const unsigned char*>(data.text), static_cast<int>(data.Length()),
                                 IntegerArg(args, argCount, 1), &text, &length);
    TakeText(ok, text, length, r);
}

void DoHashFile(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer fileName;
    PrepareConverted(fileName, args, argCount, 0);
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreHashFile(fileName.text, IntegerArg(args, argCount, 1), &text, &length);
    TakeText(ok, text, length, r);
}

void DoP7SignData(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer cn;
    ArgBuffer data;
    PrepareConverted(cn, args, argCount, 0);
    PrepareConverted(data, args, argCount, 1);
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreP7SignData(cn.text, reinterpret_cast<const unsigned char*>(data.text),
                                   static_cast<int>(data.Length()), &text, &length);
    TakeText(ok, text, length, r);
}

void DoGetCert(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer issuer;
    ArgBuffer cn;
    PrepareConverted(issuer, args, argCount, 0);
    PrepareConverted(cn, args, argCount, 1);
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreGetCert(issuer.text, cn.text, &text, &length);
    TakeText(ok, text, length, r);
}

void DoGetCertList(CScriptObject*, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer issuer;
    PrepareConverted(issuer, args, argCount, 0);
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreGetCertList(issuer.text, &text, &length);
    TakeText(ok, text, length, r);
    ListResultToUtf8(r);
}

void DoGetCSPList(CScriptObject*, const NPVariant*, uint32_t, CallResult& r) {
    char* text = nullptr;
    int length = 0;
    const bool ok = CoreGetCSPList(&text, &length);
    TakeText(ok, text, length, r);
    ListResultToUtf8(r);
}

// Text rows whose operation is not part of this DLL yet answer as that operation's failure:
// the call fails.
void PendingTextOperation(CScriptObject*, const NPVariant*, uint32_t, CallResult& r) {
    r.success = false;
}

// Integer rows whose operation is not part of this DLL yet answer as its failure: Int32 0.
void PendingIntegerOperation(CScriptObject*, const NPVariant*, uint32_t, CallResult& r) {
    r.integer = 0;
}

void DoStartUKeyMonitoring(CScriptObject* self, const NPVariant* args, uint32_t argCount, CallResult& r) {
    ArgBuffer callback;
    ArgBuffer dll;
    PrepareRaw(callback, args, argCount, 0);
    const int32_t delay = IntegerArg(args, argCount, 1);
    PrepareRaw(dll, args, argCount, 2);
    if (SharedState.MonitorThread == nullptr) {
        SharedState.CallbackFunctionName = callback.text;
        auto* instance = self->npp != nullptr ? static_cast<CPluginInstance*>(self->npp->pdata) : nullptr;
        StartUKeyMonitor(instance != nullptr ? instance->hwnd : nullptr, delay, dll.text);
    }
    r.integer = 0;
}

void DoClear(CScriptObject*, const NPVariant*, uint32_t, CallResult& r) {
    CoreClearSigningCache();
    SharedState.LastErrorString.clear();
    SharedState.LastErrorCode = 0;
    r.integer = 0;
}

struct MethodRow {
    const char* name;
    RowHandler handler;
};

const MethodRow MethodTable[] = {
    {"Base64Encode", DoBase64Encode},
    {"Base64Decode", DoBase64Decode},
    {"HashData", DoHashData},
    {"HashFile", DoHashFile},
    {"SignData", PendingTextOperation},
    {"SignFile", PendingTextOperation},
    {"P7SignData", DoP7SignData},
    {"GetCert", DoGetCert},
    {"GetCertList", DoGetCertList},
    {"GetCSPList", DoGetCSPList},
    {"ImportP12Cert", PendingIntegerOperation},
    {"UpdateCert", PendingIntegerOperation},
    {"DelCert", PendingIntegerOperation},
    {"DelContainer", PendingIntegerOperation},
    {"CreatePKCS10", PendingTextOperation},
    {"AcceptPKCS7", PendingIntegerOperation},
    {"InstallPKCS7", PendingIntegerOperation},
    {"StartUKeyMonitoring", DoStartUKeyMonitoring},
    {"Clear", DoClear},
};

NPObject* Allocate(NPP npp, NPClass*) {
    auto* object = new (std::nothrow) CScriptObject();
    if (object == nullptr) {
        return nullptr;
    }
    object->npp = npp;
    return object;
}

void Deallocate(NPObject* object) {
    delete static_cast<CScriptObject*>(object);
}

bool HasMethod(NPObject*, NPIdentifier) {
    return true;
}

bool Invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result) {
    NPUTF8* methodName = BrowserFuncs->utf8fromidentifier(name);
    if (methodName == nullptr) {
        return false;
    }
    CallResult r;
    const MethodRow* row = nullptr;
    for (const MethodRow& candidate : MethodTable) {
        if (std::strcmp(methodName, candidate.name) == 0) {
            row = &candidate;
            break;
        }
    }
    if (row != nullptr) {
        row->handler(static_cast<CScriptObject*>(object), args, argCount, r);
    } else {
        BrowserFuncs->setexception(object, "Unknown method!");
    }
    BrowserFuncs->memfree(methodName);

    if (!r.success) {
        delete[] r.text;
        return false;
    }
    if (r.text != nullptr) {
        const size_t n = r.textLength;
        char* copy = n < 0xFFFFFFFFu ? static_cast<char*>(BrowserFuncs->memalloc(static_cast<uint32_t>(n + 1)))
                                     : nullptr;
        if (copy == nullptr) {
            delete[] r.text;
            return false;
        }
        std::memset(copy, 0, n + 1);
        std::memcpy(copy, r.text, n);
        delete[] r.text;
        result->type = NPVariantType_String;
        result->value.stringValue.UTF8Characters = copy;
        result->value.stringValue.UTF8Length = static_cast<uint32_t>(strnlen(copy, n));
        return true;
    }
    result->type = NPVariantType_Int32;
    result->value.intValue = r.integer;
    return true;
}

bool InvokeDefault(NPObject*, const NPVariant*, uint32_t, NPVariant*) {
    return true;
}

bool HasProperty(NPObject*, NPIdentifier) {
    return false;
}

bool GetProperty(NPObject*, NPIdentifier, NPVariant*) {
    return false;
}

}  // namespace

size_t MethodCount() {
    return sizeof MethodTable / sizeof MethodTable[0];
}

const char* MethodName(size_t i) {
    return i < MethodCount() ? MethodTable[i].name : nullptr;
}

NPClass ScriptObjectClass = {
    NP_CLASS_STRUCT_VERSION_CTOR,
    Allocate,
    Deallocate,
    nullptr,  // invalidate
    HasMethod,
    Invoke,
    InvokeDefault,
    HasProperty,
    GetProperty,
    nullptr,  // setProperty
    nullptr,  // removeProperty
    nullptr,  // enumerate
    nullptr,  // construct
};
