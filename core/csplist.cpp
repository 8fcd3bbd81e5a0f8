#include "csplist.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <new>

namespace {

const size_t kListBufferSize = 8192;
const char kSeparator[] = "||";
const size_t kSeparatorLength = sizeof(kSeparator) - 1;

struct LocalGuard {
    HLOCAL memory = nullptr;
    ~LocalGuard() { if (memory) LocalFree(memory); }
};

} // namespace

bool CoreGetCSPList(char** text, int* length)
{
    if (!text || !length)
        return false;

    char list[kListBufferSize] = {};
    size_t used = 0;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = 0;
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size))
            break;
        // Some platforms report the size in characters rather than bytes; a name in the
        // system code page never needs more than two bytes per character, so twice the
        // reported size always holds it.
        DWORD capacity = size * 2 + 2;
        LocalGuard name;
        name.memory = LocalAlloc(LMEM_ZEROINIT, capacity);
        if (!name.memory)
            break;
        DWORD fetched = capacity;
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, static_cast<char*>(name.memory), &fetched))
            break;
        const char* chars = static_cast<const char*>(name.memory);
        size_t nameLength = strnlen(chars, capacity);

        // Append only what fits whole before the terminator; the list ends at the first name
        // that does not, so it never skips one and lists a later one.
        size_t needed = nameLength + (index ? kSeparatorLength : 0);
        if (needed > kListBufferSize - 1 - used)
            break;
        if (index) {
            memcpy(list + used, kSeparator, kSeparatorLength);
            used += kSeparatorLength;
        }
        memcpy(list + used, chars, nameLength);
        used += nameLength;
    }

    char* out = new (std::nothrow) char[used + 1];
    if (!out)
        return false;
    memcpy(out, list, used);
    out[used] = '\0';
    *text = out;
    *length = static_cast<int>(used);
    return true;
}
