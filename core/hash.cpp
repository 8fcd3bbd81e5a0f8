#include "hash.h"

#include "base64.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <new>

namespace {

// Every call works in its own verification-only context; the guards release the hash object
// before the context (reverse order of declaration) on every path.
struct ProviderGuard {
    HCRYPTPROV handle = 0;
    ~ProviderGuard() { if (handle) CryptReleaseContext(handle, 0); }
};

struct HashGuard {
    HCRYPTHASH handle = 0;
    ~HashGuard() { if (handle) CryptDestroyHash(handle); }
};

struct FileGuard {
    FILE* file = nullptr;
    ~FileGuard() { if (file) fclose(file); }
};

ALG_ID HashAlgorithm(int alg) { return alg == 0 ? CALG_MD5 : CALG_SHA1; }

bool BeginHash(int alg, ProviderGuard& provider, HashGuard& hash)
{
    if (!CryptAcquireContextA(&provider.handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        provider.handle = 0;
        return false;
    }
    if (!CryptCreateHash(provider.handle, HashAlgorithm(alg), 0, 0, &hash.handle)) {
        hash.handle = 0;
        return false;
    }
    return true;
}

// Reads the digest and hands it over as Base64 text; writes the out-parameters only on success.
bool FinishHash(HCRYPTHASH hash, char** text, int* textLength)
{
    unsigned char digest[8192] = {};
    DWORD size = sizeof(digest) - 1;
    if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) || size > sizeof(digest) - 1)
        return false;

    long capacity = Base64EncodedLength(size);
    if (capacity < 0)
        return false;
    char* out = new (std::nothrow) char[capacity + 1];
    if (!out)
        return false;
    size_t written = 0;
    if (!EncodeBase64(digest, size, out, static_cast<size_t>(capacity), &written)) {
        delete[] out;
        return false;
    }
    out[written] = '\0';
    *text = out;
    *textLength = static_cast<int>(written);
    return true;
}

} // namespace

bool CoreHashData(const unsigned char* data, int length, int alg, char** text, int* textLength)
{
    if (!text || !textLength || length < 0 || (!data && length > 0))
        return false;
    static const unsigned char kNothing = 0;

    ProviderGuard provider;
    HashGuard hash;
    if (!BeginHash(alg, provider, hash))
        return false;
    if (!CryptHashData(hash.handle, data ? data : &kNothing, static_cast<DWORD>(length), 0))
        return false;
    return FinishHash(hash.handle, text, textLength);
}

bool CoreHashFile(const char* fileName, int alg, char** text, int* textLength)
{
    if (!fileName || !text || !textLength)
        return false;

    ProviderGuard provider;
    HashGuard hash;
    if (!BeginHash(alg, provider, hash))
        return false;
    {
        FileGuard input;
        input.file = fopen(fileName, "rb");
        if (!input.file)
            return false;
        // A read error ends the loop like the end of the file; so does a failed CryptHashData,
        // after which the provider's value is still read below.
        unsigned char chunk[8192];
        size_t count;
        while ((count = fread(chunk, 1, sizeof(chunk), input.file)) != 0) {
            if (!CryptHashData(hash.handle, chunk, static_cast<DWORD>(count), 0))
                break;
        }
    }
    return FinishHash(hash.handle, text, textLength);
}
