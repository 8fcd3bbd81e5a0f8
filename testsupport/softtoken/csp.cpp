// QuorvanSoftCsp.dll: a PROV_RSA_FULL provider that behaves like a USB key's CSP. Keys and
// certificates live on the soft token (store.h); the RSA arithmetic and the hashes are done by
// the platform's enhanced RSA provider in containers named after ours.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "pinprompt.h"
#include "store.h"

using namespace softtoken;

// The table the platform hands to CPAcquireContext (declared here: not all SDK headers have it).
struct QvProvVTable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE* pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

namespace {

struct Context {
    HCRYPTPROV backing = 0;
    std::string container;  // empty: a verification context without a default container
    bool silent = false;
    bool authorised = false;
    std::vector<std::string> enumeration;
    size_t enumIndex = 0;
    bool enumerating = false;
};

struct Key {
    HCRYPTKEY backing = 0;
    DWORD keySpec = 0;  // AT_KEYEXCHANGE or AT_SIGNATURE for the container's own keys, else 0
    std::string container;
};

// The handles this provider gave out and has not yet seen released: anything else is refused
// rather than followed.
std::mutex g_handleLock;
std::set<const Context*> g_contexts;
std::set<const Key*> g_keys;

template <class T>
T* Lookup(const std::set<const T*>& live, ULONG_PTR h) {
    std::lock_guard<std::mutex> hold(g_handleLock);
    auto it = live.find(reinterpret_cast<const T*>(h));
    return it == live.end() ? nullptr : const_cast<T*>(*it);
}
Context* Ctx(HCRYPTPROV h) { return Lookup(g_contexts, h); }
Key* K(HCRYPTKEY h) { return Lookup(g_keys, h); }

template <class T>
void Track(std::set<const T*>& live, const T* p, bool add) {
    std::lock_guard<std::mutex> hold(g_handleLock);
    if (add) live.insert(p);
    else live.erase(p);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}
BOOL Fail(HRESULT error) { return Fail(static_cast<DWORD>(error)); }

// Keeps the backing provider's error (which may be 0 under some platforms) meaningful.
BOOL FailFromBacking() {
    DWORD e = GetLastError();
    return Fail(e ? e : static_cast<DWORD>(NTE_FAIL));
}

BOOL PutBytes(const void* data, DWORD size, BYTE* out, DWORD* outSize) {
    if (!outSize) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (!out) {
        *outSize = size;
        return TRUE;
    }
    if (*outSize < size) {
        *outSize = size;
        return Fail(static_cast<DWORD>(ERROR_MORE_DATA));
    }
    if (size) std::memcpy(out, data, size);
    *outSize = size;
    return TRUE;
}

BOOL PutString(const std::string& s, BYTE* out, DWORD* outSize) {
    return PutBytes(s.c_str(), static_cast<DWORD>(s.size() + 1), out, outSize);
}

BOOL PutDword(DWORD value, BYTE* out, DWORD* outSize) {
    return PutBytes(&value, sizeof(value), out, outSize);
}

// A private-key operation needs a PIN given to this context, a pre-authorised token, or the
// PIN typed into the prompt.
DWORD Authorise(Context* c) {
    DWORD e = NeedToken();
    if (e) return e;
    if (c->authorised || IsPreauthorised()) return 0;
    if (c->silent) return static_cast<DWORD>(NTE_SILENT_CONTEXT);
    // A locked PIN cannot be accepted: no point in asking for it.
    TokenState token;
    ReadToken(token);
    if (token.retriesLeft == 0) return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
    std::string pin;
    if (!PromptForPin(pin)) return static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER);
    e = CheckPin(pin);
    SecureZeroMemory(&pin[0], pin.size());
    if (e) return e;
    c->authorised = true;
    return 0;
}

Key* NewKey(HCRYPTKEY backing, DWORD keySpec, const std::string& container) {
    Key* k = new Key;
    k->backing = backing;
    k->keySpec = keySpec;
    k->container = container;
    Track(g_keys, static_cast<const Key*>(k), true);
    return k;
}

DWORD OpenBackingContext(const std::string& container, HCRYPTPROV& backing) {
    std::string backingName = container.empty() ? std::string() : BackingContainerName(container);
    const char* name = container.empty() ? nullptr : backingName.c_str();
    DWORD flags = CRYPT_SILENT | (container.empty() ? CRYPT_VERIFYCONTEXT : 0);
    if (CryptAcquireContextA(&backing, name, kBackingProvider, PROV_RSA_FULL, flags)) return 0;
    DWORD e = GetLastError();
    if (e == static_cast<DWORD>(NTE_BAD_KEYSET) && !container.empty()) {
        // Our container exists but its backing was lost: recreate an empty one.
        if (CryptAcquireContextA(&backing, name, kBackingProvider, PROV_RSA_FULL,
                                 CRYPT_SILENT | CRYPT_NEWKEYSET))
            return 0;
        e = GetLastError();
    }
    return e ? e : static_cast<DWORD>(NTE_FAIL);
}

std::string NewContainerName() {
    BYTE random[8] = {};
    HCRYPTPROV p = 0;
    if (CryptAcquireContextA(&p, nullptr, kBackingProvider, PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        CryptGenRandom(p, sizeof(random), random);
        CryptReleaseContext(p, 0);
    }
    static const char hex[] = "0123456789abcdef";
    std::string name = "container-";
    for (BYTE b : random) {
        name += hex[b >> 4];
        name += hex[b & 15];
    }
    return name;
}

}  // namespace

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags,
                             QvProvVTable* /*pVTable*/) {
    if (!phProv) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    *phProv = 0;
    const DWORD known = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                        CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    if (dwFlags & ~known) return Fail(NTE_BAD_FLAGS);
    std::string name = szContainer ? szContainer : "";
    if (!name.empty() && !IsValidContainerName(name)) return Fail(NTE_BAD_KEYSET_PARAM);
    DWORD e = NeedToken();
    if (e) return Fail(e);
    TokenState token;
    ReadToken(token);

    if (dwFlags & CRYPT_DELETEKEYSET) {
        if (name.empty()) name = token.defaultContainer;
        if (name.empty()) return Fail(NTE_BAD_KEYSET);
        e = DeleteContainer(name);
        return e ? Fail(e) : TRUE;
    }
    if (dwFlags & CRYPT_VERIFYCONTEXT) {
        if (dwFlags & CRYPT_NEWKEYSET) return Fail(NTE_BAD_FLAGS);
        // A key's verification context reaches the token's default container.
        name = token.defaultContainer;
    } else if (dwFlags & CRYPT_NEWKEYSET) {
        if (name.empty()) name = NewContainerName();
        if ((e = CreateContainer(name))) return Fail(e);
    } else {
        if (name.empty()) name = token.defaultContainer;
        if (name.empty() || !ContainerExists(name)) return Fail(NTE_BAD_KEYSET);
    }
    Context* c = new Context;
    c->container = name;
    c->silent = (dwFlags & CRYPT_SILENT) != 0;
    if ((e = OpenBackingContext(name, c->backing))) {
        delete c;
        return Fail(e);
    }
    Track(g_contexts, static_cast<const Context*>(c), true);
    *phProv = reinterpret_cast<HCRYPTPROV>(c);
    return TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (dwFlags) return Fail(NTE_BAD_FLAGS);
    Track(g_contexts, static_cast<const Context*>(c), false);
    CryptReleaseContext(c->backing, 0);
    delete c;
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                           DWORD dwFlags) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    switch (dwParam) {
    case PP_NAME:
        return PutString(kProviderName, pbData, pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
        if (c->container.empty()) return Fail(NTE_BAD_KEYSET);
        return PutString(c->container, pbData, pdwDataLen);
    case PP_PROVTYPE:
        return PutDword(PROV_RSA_FULL, pbData, pdwDataLen);
    case PP_IMPTYPE:
        return PutDword(CRYPT_IMPL_HARDWARE, pbData, pdwDataLen);
    case PP_VERSION:
        return PutDword(0x200, pbData, pdwDataLen);
    case PP_ENUMCONTAINERS: {
        DWORD e = NeedToken();
        if (e) return Fail(e);
        if ((dwFlags & CRYPT_FIRST) || !c->enumerating) {
            c->enumeration = ListContainers();
            c->enumIndex = 0;
            c->enumerating = true;
        }
        if (!pbData) {
            // The size of the longest name, so that one buffer serves the whole enumeration.
            size_t longest = 0;
            for (const std::string& n : c->enumeration) longest = std::max(longest, n.size());
            if (!pdwDataLen) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            *pdwDataLen = static_cast<DWORD>(longest + 1);
            return TRUE;
        }
        if (c->enumIndex >= c->enumeration.size())
            return Fail(static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        if (!PutString(c->enumeration[c->enumIndex], pbData, pdwDataLen)) return FALSE;
        ++c->enumIndex;
        return TRUE;
    }
    default:
        // Algorithm lists and the like come from the provider that does the work.
        if (CryptGetProvParam(c->backing, dwParam, pbData, pdwDataLen, dwFlags)) return TRUE;
        return FailFromBacking();
    }
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    switch (dwParam) {
    case PP_KEYEXCHANGE_PIN:
    case PP_SIGNATURE_PIN: {
        if (!pbData) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        const char* text = reinterpret_cast<const char*>(pbData);
        size_t length = strnlen(text, kMaxPinLength + 1);
        if (length > kMaxPinLength) return Fail(SCARD_W_WRONG_CHV);
        DWORD e = CheckPin(std::string(text, length));
        if (e) {
            c->authorised = false;
            return Fail(e);
        }
        c->authorised = true;
        return TRUE;
    }
    default:
        if (CryptSetProvParam(c->backing, dwParam, pbData, dwFlags)) return TRUE;
        return FailFromBacking();
    }
}

BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (!phKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD keySpec = 0;
    if (Algid == AT_KEYEXCHANGE || Algid == CALG_RSA_KEYX) keySpec = AT_KEYEXCHANGE;
    if (Algid == AT_SIGNATURE || Algid == CALG_RSA_SIGN) keySpec = AT_SIGNATURE;
    DWORD e = NeedToken();
    if (e) return Fail(e);
    if (keySpec) {
        if (c->container.empty()) return Fail(NTE_BAD_KEYSET);
        DWORD bits = dwFlags >> 16;
        if (bits == 0) bits = 1024;
        if (bits < kMinBits || bits > kMaxBits) return Fail(NTE_BAD_FLAGS);
        if ((e = Authorise(c))) return Fail(e);
    }
    HCRYPTKEY key = 0;
    if (!CryptGenKey(c->backing, keySpec ? keySpec : Algid, dwFlags, &key)) return FailFromBacking();
    if (keySpec) ClearCertificate(c->container, keySpec);  // the old key's certificate goes with it
    *phKey = reinterpret_cast<HCRYPTKEY>(NewKey(key, keySpec, c->container));
    return TRUE;
}

BOOL WINAPI CPDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    HCRYPTKEY key = 0;
    if (!phKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (!CryptDeriveKey(c->backing, Algid, hBaseData, dwFlags, &key))
        return FailFromBacking();
    *phKey = reinterpret_cast<HCRYPTKEY>(NewKey(key, 0, ""));
    return TRUE;
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV /*hProv*/, HCRYPTKEY hKey) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    Track(g_keys, static_cast<const Key*>(k), false);
    CryptDestroyKey(k->backing);
    delete k;
    return TRUE;
}

BOOL WINAPI CPDuplicateKey(HCRYPTPROV /*hProv*/, HCRYPTKEY hKey, DWORD* pdwReserved,
                           DWORD dwFlags, HCRYPTKEY* phKey) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (!phKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HCRYPTKEY copy = 0;
    if (!CryptDuplicateKey(k->backing, pdwReserved, dwFlags, &copy)) return FailFromBacking();
    *phKey = reinterpret_cast<HCRYPTKEY>(NewKey(copy, k->keySpec, k->container));
    return TRUE;
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (!phUserKey) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD e = NeedToken();
    if (e) return Fail(e);
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE) return Fail(NTE_BAD_KEY);
    if (c->container.empty()) return Fail(NTE_NO_KEY);
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(c->backing, dwKeySpec, &key)) return FailFromBacking();
    *phUserKey = reinterpret_cast<HCRYPTKEY>(NewKey(key, dwKeySpec, c->container));
    return TRUE;
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV /*hProv*/, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData,
                          DWORD* pdwDataLen, DWORD dwFlags) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (dwParam == KP_CERTIFICATE) {
        if (!k->keySpec) return Fail(NTE_BAD_KEY);
        DWORD e = NeedToken();
        if (e) return Fail(e);
        std::vector<BYTE> der;
        if ((e = GetCertificate(k->container, k->keySpec, der))) return Fail(e);
        return PutBytes(der.data(), static_cast<DWORD>(der.size()), pbData, pdwDataLen);
    }
    if (CryptGetKeyParam(k->backing, dwParam, pbData, pdwDataLen, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPSetKeyParam(HCRYPTPROV /*hProv*/, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData,
                          DWORD dwFlags) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (dwParam == KP_CERTIFICATE) {
        if (!k->keySpec) return Fail(NTE_BAD_KEY);
        if (!pbData) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        DWORD e = NeedToken();
        if (e) return Fail(e);
        // The certificate's length comes from its own DER header: CryptSetKeyParam passes none.
        DWORD size = 0;
        if (pbData[0] == 0x30 && (pbData[1] & 0x80) == 0) {
            size = 2 + pbData[1];
        } else if (pbData[0] == 0x30 && pbData[1] > 0x80 && pbData[1] <= 0x83) {
            DWORD n = pbData[1] & 0x7F;
            for (DWORD i = 0; i < n; ++i) size = (size << 8) | pbData[2 + i];
            size += 2 + n;
        }
        if (size < 16 || size > 64 * 1024) return Fail(NTE_BAD_DATA);
        if ((e = SetCertificate(k->container, k->keySpec, pbData, size))) return Fail(e);
        return TRUE;
    }
    if (CryptSetKeyParam(k->backing, dwParam, pbData, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType,
                        DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (k->keySpec) {
        DWORD e = NeedToken();
        if (e) return Fail(e);
        Context* c = Ctx(hProv);
        if (!c) return Fail(NTE_BAD_UID);
        if (dwBlobType == PRIVATEKEYBLOB && pbData && (e = Authorise(c))) return Fail(e);
    }
    HCRYPTKEY wrap = 0;
    if (hPubKey) {
        Key* w = K(hPubKey);
        if (!w) return Fail(NTE_BAD_PUBLIC_KEY);
        wrap = w->backing;
    }
    if (CryptExportKey(k->backing, wrap, dwBlobType, dwFlags, pbData, pdwDataLen)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                        DWORD dwFlags, HCRYPTKEY* phKey) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (!pbData || !phKey || dwDataLen < sizeof(BLOBHEADER))
        return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const BLOBHEADER* header = reinterpret_cast<const BLOBHEADER*>(pbData);
    DWORD keySpec = 0;
    DWORD e = NeedToken();
    if (e) return Fail(e);
    if (header->bType == PRIVATEKEYBLOB) {
        if (c->container.empty()) return Fail(NTE_BAD_KEYSET);
        keySpec = header->aiKeyAlg == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
        if ((e = Authorise(c))) return Fail(e);
    }
    HCRYPTKEY key = 0;
    HCRYPTKEY unwrap = 0;
    if (hPubKey) {
        Key* w = K(hPubKey);
        if (!w) return Fail(NTE_BAD_PUBLIC_KEY);
        unwrap = w->backing;
    }
    if (!CryptImportKey(c->backing, pbData, dwDataLen, unwrap, dwFlags, &key))
        return FailFromBacking();
    if (keySpec) ClearCertificate(c->container, keySpec);
    *phKey = reinterpret_cast<HCRYPTKEY>(NewKey(key, keySpec, c->container));
    return TRUE;
}

BOOL WINAPI CPEncrypt(HCRYPTPROV /*hProv*/, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final,
                      DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen, DWORD dwBufLen) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (CryptEncrypt(k->backing, hHash, Final, dwFlags, pbData, pdwDataLen, dwBufLen))
        return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final,
                      DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (k->keySpec) {
        Context* c = Ctx(hProv);
        if (!c) return Fail(NTE_BAD_UID);
        DWORD e = Authorise(c);
        if (e) return Fail(e);
    }
    if (CryptDecrypt(k->backing, hHash, Final, dwFlags, pbData, pdwDataLen)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                         HCRYPTHASH* phHash) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (!phHash) return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (Algid != CALG_MD5 && Algid != CALG_SHA1 && Algid != CALG_SSL3_SHAMD5)
        return Fail(NTE_BAD_ALGID);
    HCRYPTKEY key = 0;
    if (hKey) {
        Key* k = K(hKey);
        if (!k) return Fail(NTE_BAD_KEY);
        key = k->backing;
    }
    // Hash handles are the backing provider's own: they carry no state of ours.
    if (CryptCreateHash(c->backing, Algid, key, dwFlags, phHash))
        return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash) {
    if (CryptDestroyHash(hHash)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPDuplicateHash(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, DWORD* pdwReserved,
                            DWORD dwFlags, HCRYPTHASH* phHash) {
    if (CryptDuplicateHash(hHash, pdwReserved, dwFlags, phHash)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPHashData(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, const BYTE* pbData,
                       DWORD dwDataLen, DWORD dwFlags) {
    if (CryptHashData(hHash, pbData, dwDataLen, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPHashSessionKey(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, HCRYPTKEY hKey,
                             DWORD dwFlags) {
    Key* k = K(hKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (CryptHashSessionKey(hHash, k->backing, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData,
                           DWORD* pdwDataLen, DWORD dwFlags) {
    if (CryptGetHashParam(hHash, dwParam, pbData, pdwDataLen, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, DWORD dwParam,
                           const BYTE* pbData, DWORD dwFlags) {
    if (CryptSetHashParam(hHash, dwParam, pbData, dwFlags)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (CryptGenRandom(c->backing, dwLen, pbBuffer)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec,
                       LPCWSTR /*sDescription*/, DWORD dwFlags, BYTE* pbSignature,
                       DWORD* pdwSigLen) {
    Context* c = Ctx(hProv);
    if (!c) return Fail(NTE_BAD_UID);
    if (dwKeySpec != AT_KEYEXCHANGE && dwKeySpec != AT_SIGNATURE) return Fail(NTE_BAD_ALGID);
    DWORD e = NeedToken();
    if (e) return Fail(e);
    if (c->container.empty()) return Fail(NTE_NO_KEY);
    // The length query needs no PIN, as with a key; the signature itself does.
    if (pbSignature && (e = Authorise(c))) return Fail(e);
    if (CryptSignHashA(hHash, dwKeySpec, nullptr, dwFlags, pbSignature, pdwSigLen)) return TRUE;
    return FailFromBacking();
}

BOOL WINAPI CPVerifySignature(HCRYPTPROV /*hProv*/, HCRYPTHASH hHash, const BYTE* pbSignature,
                              DWORD dwSigLen, HCRYPTKEY hPubKey, LPCWSTR /*sDescription*/,
                              DWORD dwFlags) {
    Key* k = K(hPubKey);
    if (!k) return Fail(NTE_BAD_KEY);
    if (CryptVerifySignatureA(hHash, pbSignature, dwSigLen, k->backing, nullptr, dwFlags))
        return TRUE;
    return FailFromBacking();
}

}  // extern "C"
