// The scriptable object of a plug-in instance and its method dispatcher.
#pragma once

#include <cstddef>
#include <cstdint>

#include "npapi.h"

struct CScriptObject : NPObject {
    NPP npp;
};

extern NPClass ScriptObjectClass;

// One prepared text argument: at most 8191 bytes of text and a terminating zero.
constexpr size_t ArgBufferSize = 8192;
struct ArgBuffer {
    char text[ArgBufferSize] = {};
    // Bytes before the first zero byte.
    size_t Length() const;
};

// Argument preparation; a missing argument (index >= argCount) or one that is not a string
// yields empty text, a missing or non-Int32 argument yields 0.
void PrepareConverted(ArgBuffer& buffer, const NPVariant* args, uint32_t argCount, uint32_t index);
void PrepareRaw(ArgBuffer& buffer, const NPVariant* args, uint32_t argCount, uint32_t index);
NPString DirectText(const NPVariant* args, uint32_t argCount, uint32_t index);
int32_t IntegerArg(const NPVariant* args, uint32_t argCount, uint32_t index);

// Per-call result slots.
struct CallResult {
    char* text = nullptr;  // new[], owned by the dispatcher once set
    size_t textLength = 0;
    int32_t integer = 0;
    bool success = true;
};

// Replaces a successful list result (system code page) by its UTF-8 form, cut to 8191 bytes.
void ListResultToUtf8(CallResult& result);

// Number of rows of the method table and the name of row i (0-based), in table order.
size_t MethodCount();
const char* MethodName(size_t i);
