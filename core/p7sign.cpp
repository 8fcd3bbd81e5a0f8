#include "p7sign.h"

#include "certs.h"

#include <cstring>
#include <new>

namespace {

struct ByteGuard {
    BYTE* bytes = nullptr;
    ~ByteGuard() { delete[] bytes; }
};

} // namespace

bool CoreP7SignData(const char* cn, const unsigned char* data, int length, char** text, int* textLength)
{
    if (!cn || length < 0 || (!data && length > 0) || !text || !textLength)
        return false;
    // The signed content is a private copy; the caller's buffer is only read.
    ByteGuard copy;
    copy.bytes = new (std::nothrow) BYTE[static_cast<size_t>(length) + 1]();
    if (!copy.bytes)
        return false;
    if (length)
        std::memcpy(copy.bytes, data, static_cast<size_t>(length));

    StoreGuard store;
    store.store = OpenMyStore();
    if (!store.store)
        return false;
    std::wstring wideCn;
    if (!AnsiToWideString(cn, wideCn))
        return false;
    CertGuard cert;
    cert.cert = FindBySubjectText(store.store, wideCn, nullptr);
    if (!cert.cert)
        return false;
    return BuildSignedMessage(cert.cert, copy.bytes, static_cast<DWORD>(length), text, textLength);
}
