// The script side of the test browser: an IDispatch that stands for a plug-in's NPObject in a
// page's script engine, and the value conversions a browser makes between script values and
// NPVariants (strings as UTF-16 <-> UTF-8, integral numbers as Int32, other numbers as Double,
// booleans, null and undefined).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "nphost.h"

namespace nphost {

// The IUnknown and type-information part of the test browser's script objects: reference
// counted, no type information.
class CDispatchObject : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

protected:
    virtual ~CDispatchObject() = default;
    // Another interface the object answers to besides IUnknown and IDispatch.
    virtual bool Answers(REFIID) const { return false; }

private:
    ULONG refs_ = 1;
};

// Holds one reference to the NPObject for as long as the script holds the IDispatch.
// Named methods map to DISPIDs through NPIdentifiers; an exception that the plug-in raises
// with NPN_SetException during a call comes back as DISP_E_EXCEPTION with its message, and a
// call that the plug-in fails without a message as DISP_E_EXCEPTION with the browser's text.
IDispatch* WrapNPObject(Browser& browser, NPObject* object);

// Script value -> NPVariant. A string's UTF-8 bytes are kept in storage, which must outlive
// the variant. Objects other than wrapped NPObjects become void (the plug-in takes none).
NPVariant ToNPVariant(Browser& browser, const VARIANT& value, std::string& storage);

// NPVariant -> script value (S_OK), or E_OUTOFMEMORY. The NPVariant is left to its owner.
HRESULT ToVariant(Browser& browser, const NPVariant& value, VARIANT* out);

// The message a browser raises for a plug-in call that failed without an exception.
constexpr const wchar_t* kFailedCallMessage = L"Error calling method on NPObject.";

// UTF-16 -> UTF-8 and back for BSTRs.
std::string Utf8FromBstr(BSTR s);
BSTR BstrFromUtf8(const char* s, size_t length);

}  // namespace nphost
