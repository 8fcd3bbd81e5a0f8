#include "script_bridge.h"

#include <cmath>
#include <cstring>

namespace nphost {

namespace {

// Lets the bridge recognise its own wrappers when the script hands one back.
// {5A0C7E52-3B0E-4C69-9E0B-6B3C1D0A7F11}
const IID IID_NPObjectWrapper = {0x5a0c7e52, 0x3b0e, 0x4c69, {0x9e, 0x0b, 0x6b, 0x3c, 0x1d, 0x0a, 0x7f, 0x11}};

class CNPObjectDispatch final : public CDispatchObject {
public:
    CNPObjectDispatch(Browser& browser, NPObject* object) : browser_(browser), object_(object) {
        browser_.funcs().retainobject(object_);
    }

    NPObject* object() const { return object_; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        const std::string name = ToUtf8(names[0] != nullptr ? names[0] : L"");
        NPIdentifier id = browser_.funcs().getstringidentifier(name.c_str());
        NPClass* cls = object_->_class;
        const bool known = (cls->hasMethod != nullptr && cls->hasMethod(object_, id)) ||
                           (cls->hasProperty != nullptr && cls->hasProperty(object_, id));
        if (!known) return DISP_E_UNKNOWNNAME;
        size_t index = 0;
        while (index < ids_.size() && ids_[index] != id) ++index;
        if (index == ids_.size()) ids_.push_back(id);
        ids[0] = static_cast<DISPID>(index + 1);
        if (count > 1) hr = DISP_E_UNKNOWNNAME;  // named arguments are not taken
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT*) override {
        NPIdentifier id = nullptr;
        if (dispid != DISPID_VALUE) {
            if (dispid < 1 || static_cast<size_t>(dispid) > ids_.size()) return DISP_E_MEMBERNOTFOUND;
            id = ids_[static_cast<size_t>(dispid) - 1];
        }
        const UINT argCount = params != nullptr ? params->cArgs - params->cNamedArgs : 0;
        // Script arguments arrive last first.
        std::vector<std::string> storage(argCount);
        std::vector<NPVariant> args(argCount);
        for (UINT i = 0; i < argCount; ++i) {
            args[i] = ToNPVariant(browser_, params->rgvarg[params->cArgs - 1 - i], storage[i]);
        }
        NPClass* cls = object_->_class;
        NPVariant out;
        out.type = NPVariantType_Void;
        browser_.exceptionSet = false;
        browser_.lastException.clear();
        bool ok = false;
        if (flags & DISPATCH_METHOD) {
            if (id == nullptr) {
                ok = cls->invokeDefault != nullptr && cls->invokeDefault(object_, args.data(), argCount, &out);
            } else if (cls->hasMethod != nullptr && cls->hasMethod(object_, id)) {
                ok = cls->invoke != nullptr && cls->invoke(object_, id, args.data(), argCount, &out);
            } else if (flags & DISPATCH_PROPERTYGET) {
                ok = cls->getProperty != nullptr && cls->getProperty(object_, id, &out);
            }
        } else if ((flags & DISPATCH_PROPERTYGET) && id != nullptr) {
            ok = cls->getProperty != nullptr && cls->getProperty(object_, id, &out);
        } else if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && id != nullptr && params != nullptr &&
                   params->cArgs > 0) {
            std::string text;
            NPVariant value = ToNPVariant(browser_, params->rgvarg[0], text);
            ok = cls->setProperty != nullptr && cls->setProperty(object_, id, &value);
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (browser_.exceptionSet || !ok) {
            browser_.funcs().releasevariantvalue(&out);
            if (info != nullptr) {
                std::memset(info, 0, sizeof *info);
                info->bstrSource = SysAllocString(L"nphost");
                info->bstrDescription =
                    browser_.exceptionSet
                        ? BstrFromUtf8(browser_.lastException.data(), browser_.lastException.size())
                        : SysAllocString(kFailedCallMessage);
                info->scode = DISP_E_EXCEPTION;
            }
            browser_.exceptionSet = false;
            return DISP_E_EXCEPTION;
        }
        HRESULT hr = S_OK;
        if (result != nullptr) {
            hr = ToVariant(browser_, out, result);
        }
        browser_.funcs().releasevariantvalue(&out);
        return hr;
    }

private:
    ~CNPObjectDispatch() override { browser_.funcs().releaseobject(object_); }
    bool Answers(REFIID riid) const override { return IsEqualIID(riid, IID_NPObjectWrapper); }
    Browser& browser_;
    NPObject* object_;
    std::vector<NPIdentifier> ids_;
};

}  // namespace

HRESULT CDispatchObject::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || Answers(riid)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CDispatchObject::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT CDispatchObject::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

IDispatch* WrapNPObject(Browser& browser, NPObject* object) {
    return object != nullptr ? new CNPObjectDispatch(browser, object) : nullptr;
}

std::string Utf8FromBstr(BSTR s) {
    return s != nullptr ? ToUtf8(std::wstring(s, SysStringLen(s))) : std::string();
}

BSTR BstrFromUtf8(const char* s, size_t length) {
    const std::wstring w = FromUtf8(std::string(s != nullptr ? s : "", s != nullptr ? length : 0));
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

NPVariant ToNPVariant(Browser& browser, const VARIANT& in, std::string& storage) {
    (void)browser;
    NPVariant v;
    v.type = NPVariantType_Void;
    const VARIANT* value = &in;
    if (value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal != nullptr) value = value->pvarVal;
    switch (value->vt) {
    case VT_NULL:
        v.type = NPVariantType_Null;
        break;
    case VT_BOOL:
        v.type = NPVariantType_Bool;
        v.value.boolValue = value->boolVal != VARIANT_FALSE;
        break;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
    case VT_R4: case VT_R8: {
        VARIANT d;
        VariantInit(&d);
        if (FAILED(VariantChangeType(&d, const_cast<VARIANT*>(value), 0, VT_R8))) break;
        const double n = d.dblVal;
        // Integral numbers in range travel as Int32, as browsers pass them.
        if (std::isfinite(n) && n == std::floor(n) && n >= -2147483648.0 && n <= 2147483647.0 &&
            !(n == 0 && std::signbit(n))) {
            v.type = NPVariantType_Int32;
            v.value.intValue = static_cast<int32_t>(n);
        } else {
            v.type = NPVariantType_Double;
            v.value.doubleValue = n;
        }
        break;
    }
    case VT_BSTR:
        storage = Utf8FromBstr(value->bstrVal);
        v.type = NPVariantType_String;
        v.value.stringValue.UTF8Characters = storage.data();
        v.value.stringValue.UTF8Length = static_cast<uint32_t>(storage.size());
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        IUnknown* unknown = value->punkVal;
        IDispatch* wrapper = nullptr;
        if (unknown != nullptr && SUCCEEDED(unknown->QueryInterface(IID_NPObjectWrapper, reinterpret_cast<void**>(&wrapper)))) {
            v.type = NPVariantType_Object;
            v.value.objectValue = static_cast<CNPObjectDispatch*>(wrapper)->object();
            wrapper->Release();  // the script keeps the object alive for the call
        }
        break;
    }
    default:
        break;  // undefined and everything else: void
    }
    return v;
}

HRESULT ToVariant(Browser& browser, const NPVariant& value, VARIANT* out) {
    VariantInit(out);
    switch (value.type) {
    case NPVariantType_Null:
        out->vt = VT_NULL;
        break;
    case NPVariantType_Bool:
        out->vt = VT_BOOL;
        out->boolVal = value.value.boolValue ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case NPVariantType_Int32:
        out->vt = VT_I4;
        out->lVal = value.value.intValue;
        break;
    case NPVariantType_Double:
        out->vt = VT_R8;
        out->dblVal = value.value.doubleValue;
        break;
    case NPVariantType_String:
        out->bstrVal = BstrFromUtf8(value.value.stringValue.UTF8Characters, value.value.stringValue.UTF8Length);
        if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        break;
    case NPVariantType_Object:
        out->pdispVal = WrapNPObject(browser, value.value.objectValue);
        out->vt = out->pdispVal != nullptr ? VT_DISPATCH : VT_NULL;
        break;
    default:
        break;  // void: undefined
    }
    return S_OK;
}

}  // namespace nphost
