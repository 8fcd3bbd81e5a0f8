// The soft token through the platform's CryptoAPI (CryptAcquireContextA with the provider name),
// as the control and page code reach it. Needs the "softtoken" fixture: installed, PIN 1234.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

struct Prov {
    HCRYPTPROV h = 0;
    ~Prov() {
        if (h) CryptReleaseContext(h, 0);
    }
};

DWORD Acquire(Prov& p, const char* container, DWORD flags) {
    if (CryptAcquireContextA(&p.h, container, kProvider, PROV_RSA_FULL, flags)) return 0;
    DWORD e = GetLastError();
    p.h = 0;
    return e;
}

DWORD SetPin(Prov& p, const char* pin) {
    if (CryptSetProvParam(p.h, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(pin), 0)) return 0;
    return GetLastError();
}

std::vector<BYTE> Sign(HCRYPTPROV prov, ALG_ID alg, const std::string& data, DWORD* error) {
    HCRYPTHASH hash = 0;
    std::vector<BYTE> sig(1024);
    DWORD n = static_cast<DWORD>(sig.size());
    *error = 0;
    if (!CryptCreateHash(prov, alg, 0, 0, &hash) ||
        !CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) ||
        !CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n)) {
        *error = GetLastError();
        sig.clear();
    } else {
        sig.resize(n);
    }
    if (hash) CryptDestroyHash(hash);
    return sig;
}

}  // namespace

TEST(SoftCsp, ListedByCryptEnumProviders) {
    bool found = false;
    char name[256];
    DWORD type = 0;
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof(name);
        if (!CryptEnumProvidersA(i, nullptr, 0, &type, name, &n)) break;
        if (std::string(name) == kProvider) found = type == PROV_RSA_FULL;
    }
    EXPECT_TRUE(found);
}

TEST(SoftCsp, VerifyContextGivesUserKeyAndSignsAfterPin) {
    Prov p;
    // Silent, so that the missing PIN fails instead of prompting.
    ASSERT_EQ(Acquire(p, nullptr, CRYPT_VERIFYCONTEXT | CRYPT_SILENT), 0u);
    DWORD e = 0;
    Sign(p.h, CALG_SHA1, "data", &e);
    EXPECT_EQ(e, static_cast<DWORD>(NTE_SILENT_CONTEXT)) << "signed without a PIN";
    ASSERT_EQ(SetPin(p, "1234"), 0u);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGetUserKey(p.h, AT_KEYEXCHANGE, &key));
    DWORD bits = 0, n = sizeof(bits);
    EXPECT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &n, 0));
    EXPECT_EQ(bits, 1024u);
    for (ALG_ID alg : {CALG_MD5, CALG_SHA1}) {
        std::vector<BYTE> sig = Sign(p.h, alg, "hello", &e);
        ASSERT_EQ(e, 0u);
        EXPECT_EQ(sig.size(), 128u);
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(CryptCreateHash(p.h, alg, 0, 0, &hash));
        CryptHashData(hash, reinterpret_cast<const BYTE*>("hello"), 5, 0);
        EXPECT_TRUE(CryptVerifySignatureA(hash, sig.data(), static_cast<DWORD>(sig.size()), key, nullptr, 0));
        sig[10] ^= 1;
        EXPECT_FALSE(CryptVerifySignatureA(hash, sig.data(), static_cast<DWORD>(sig.size()), key, nullptr, 0));
        CryptDestroyHash(hash);
    }
    CryptDestroyKey(key);
}

TEST(SoftCsp, SilentContextWithoutPinFailsWithSilentContext) {
    Prov p;
    ASSERT_EQ(Acquire(p, nullptr, CRYPT_SILENT), 0u);
    DWORD e = 0;
    Sign(p.h, CALG_SHA1, "x", &e);
    EXPECT_EQ(e, static_cast<DWORD>(NTE_SILENT_CONTEXT));
}

TEST(SoftCsp, WrongPinCountsAndLocksUntilReinitialised) {
    Prov p;
    ASSERT_EQ(Acquire(p, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    EXPECT_EQ(SetPin(p, "0000"), static_cast<DWORD>(SCARD_W_WRONG_CHV));
    EXPECT_EQ(SetPin(p, "1234"), 0u) << "the right PIN resets the counter";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(SetPin(p, "9999"), static_cast<DWORD>(SCARD_W_WRONG_CHV));
    EXPECT_EQ(SetPin(p, "1234"), static_cast<DWORD>(SCARD_W_CHV_BLOCKED));
    EXPECT_NE(RunTool("status").find("locked"), std::string::npos);
    ASSERT_EQ(RunToolCode("init --pin 1234"), 0);
    Prov q;
    ASSERT_EQ(Acquire(q, nullptr, CRYPT_VERIFYCONTEXT), 0u);
    EXPECT_EQ(SetPin(q, "1234"), 0u);
}

TEST(SoftCsp, ContainerLifeCycleAndEnumeration) {
    const char* name = "life-cycle";
    Prov gone;
    EXPECT_EQ(Acquire(gone, name, 0), static_cast<DWORD>(NTE_BAD_KEYSET));
    {
        Prov p;
        ASSERT_EQ(Acquire(p, name, CRYPT_NEWKEYSET), 0u);
        Prov again;
        EXPECT_EQ(Acquire(again, name, CRYPT_NEWKEYSET), static_cast<DWORD>(NTE_EXISTS));
        char text[256];
        DWORD n = sizeof(text);
        ASSERT_TRUE(CryptGetProvParam(p.h, PP_CONTAINER, reinterpret_cast<BYTE*>(text), &n, 0));
        EXPECT_STREQ(text, name);
        n = sizeof(text);
        ASSERT_TRUE(CryptGetProvParam(p.h, PP_NAME, reinterpret_cast<BYTE*>(text), &n, 0));
        EXPECT_STREQ(text, kProvider);
        std::vector<std::string> names;
        DWORD flags = CRYPT_FIRST;
        for (;;) {
            n = sizeof(text);
            if (!CryptGetProvParam(p.h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(text), &n, flags)) break;
            names.push_back(text);
            flags = 0;
        }
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_EQ(names.size(), 2u);
        EXPECT_EQ(SetPin(p, "1234"), 0u);
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptGenKey(p.h, AT_SIGNATURE, (768u << 16) | CRYPT_EXPORTABLE, &key));
        DWORD bits = 0;
        n = sizeof(bits);
        CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &n, 0);
        EXPECT_EQ(bits, 768u);
        DWORD size = 0;
        EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
        std::vector<BYTE> blob(size);
        EXPECT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
        CryptDestroyKey(key);
        HCRYPTKEY bad = 0;
        EXPECT_FALSE(CryptGenKey(p.h, AT_SIGNATURE, 100u << 16, &bad));
    }
    Prov del;
    EXPECT_EQ(Acquire(del, name, CRYPT_DELETEKEYSET), 0u);
    EXPECT_EQ(Acquire(del, name, CRYPT_DELETEKEYSET), static_cast<DWORD>(NTE_BAD_KEYSET));
}

TEST(SoftCsp, NonExportableKeyRefusesPrivateExport) {
    Prov p;
    ASSERT_EQ(Acquire(p, nullptr, 0), 0u);
    ASSERT_EQ(SetPin(p, "1234"), 0u);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGetUserKey(p.h, AT_KEYEXCHANGE, &key));
    DWORD size = 0;
    EXPECT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
    std::vector<BYTE> blob(size);
    EXPECT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size));
    size = 4096;
    std::vector<BYTE> priv(size);
    EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, priv.data(), &size));
    HCRYPTKEY pub = 0;
    EXPECT_TRUE(CryptImportKey(p.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &pub));
    if (pub) CryptDestroyKey(pub);
    CryptDestroyKey(key);
}

TEST(SoftCsp, CertificateIsKeptWithTheKey) {
    // A self-signed certificate made by the platform, in a throw-away container.
    Prov maker;
    ASSERT_EQ(Acquire(maker, "cert-maker", CRYPT_NEWKEYSET), 0u);
    ASSERT_EQ(SetPin(maker, "1234"), 0u);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(maker.h, AT_KEYEXCHANGE, 1024u << 16, &key));
    BYTE name[256];
    DWORD nameSize = sizeof(name);
    ASSERT_TRUE(CertStrToNameA(X509_ASN_ENCODING, "CN=Soft Test", CERT_X500_NAME_STR, nullptr, name, &nameSize, nullptr));
    CERT_NAME_BLOB subject = {nameSize, name};
    // Without key-provider information the platform signs with AT_SIGNATURE; name the exchange key.
    WCHAR container[] = L"cert-maker";
    WCHAR provider[] = L"Quorvan Soft Token CSP";
    CRYPT_KEY_PROV_INFO keyInfo = {};
    keyInfo.pwszContainerName = container;
    keyInfo.pwszProvName = provider;
    keyInfo.dwProvType = PROV_RSA_FULL;
    keyInfo.dwKeySpec = AT_KEYEXCHANGE;
    PCCERT_CONTEXT cert = CertCreateSelfSignCertificate(maker.h, &subject, 0, &keyInfo, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(cert, nullptr) << GetLastError();
    EXPECT_TRUE(CryptSetKeyParam(key, KP_CERTIFICATE, cert->pbCertEncoded, 0));
    CryptDestroyKey(key);
    // Wine's RSA provider, which holds the key material, writes a container's new keys only when
    // the context that made them is released (Windows writes them at once).
    CryptReleaseContext(maker.h, 0);
    maker.h = 0;
    {
        // Another context sees it.
        Prov reader;
        ASSERT_EQ(Acquire(reader, "cert-maker", 0), 0u);
        HCRYPTKEY k = 0;
        ASSERT_TRUE(CryptGetUserKey(reader.h, AT_KEYEXCHANGE, &k)) << std::hex << GetLastError();
        DWORD size = 0;
        ASSERT_TRUE(CryptGetKeyParam(k, KP_CERTIFICATE, nullptr, &size, 0));
        std::vector<BYTE> der(size);
        ASSERT_TRUE(CryptGetKeyParam(k, KP_CERTIFICATE, der.data(), &size, 0));
        EXPECT_EQ(std::vector<BYTE>(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded), der);
        BYTE junk[] = {0x04, 0x02, 0x01, 0x02};
        EXPECT_FALSE(CryptSetKeyParam(k, KP_CERTIFICATE, junk, 0));
        CryptDestroyKey(k);
    }
    CertFreeCertificateContext(cert);
    Prov del;
    EXPECT_EQ(Acquire(del, "cert-maker", CRYPT_DELETEKEYSET), 0u);
}

TEST(SoftCsp, RemovalSeenThroughTheToolProcess) {
    ASSERT_EQ(RunToolCode("remove"), 0);
    Prov p;
    EXPECT_EQ(Acquire(p, nullptr, CRYPT_VERIFYCONTEXT), static_cast<DWORD>(SCARD_W_REMOVED_CARD));
    ASSERT_EQ(RunToolCode("insert"), 0);
    EXPECT_EQ(Acquire(p, nullptr, CRYPT_VERIFYCONTEXT), 0u);
}

TEST(SoftCsp, SignaturesForOpenSsl) {
    // Writes data, reversed signatures and the public key for the host-side OpenSSL check.
    const std::string dir = WindowsPath(OutputFolder());
    Prov p;
    ASSERT_EQ(Acquire(p, nullptr, 0), 0u);
    ASSERT_EQ(SetPin(p, "1234"), 0u);
    const std::string data = "Quorvan soft token signature check";
    WriteFileBytes(dir + "\\data.bin", std::vector<BYTE>(data.begin(), data.end()));
    DWORD e = 0;
    for (auto [alg, file] : {std::pair<ALG_ID, const char*>{CALG_SHA1, "sha1.sig"}, {CALG_MD5, "md5.sig"}}) {
        std::vector<BYTE> sig = Sign(p.h, alg, data, &e);
        ASSERT_EQ(e, 0u);
        std::vector<BYTE> big(sig.rbegin(), sig.rend());
        WriteFileBytes(dir + "\\" + file, big);
    }
    DWORD size = 0;
    ASSERT_TRUE(CryptExportPublicKeyInfo(p.h, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size));
    std::vector<BYTE> info(size);
    ASSERT_TRUE(CryptExportPublicKeyInfo(p.h, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                         reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data()), &size));
    DWORD der = 0;
    ASSERT_TRUE(CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info.data(), nullptr, &der));
    std::vector<BYTE> out(der);
    ASSERT_TRUE(CryptEncodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info.data(), out.data(), &der));
    out.resize(der);
    WriteFileBytes(dir + "\\pub.der", out);
}

TEST(SoftCsp, SizeQueriesAndShortBuffersAnswerMoreData) {
    Prov p;
    ASSERT_EQ(Acquire(p, nullptr, 0), 0u);
    struct Case {
        const char* what;
        DWORD param;
        DWORD flags;
    } cases[] = {
        {"PP_NAME", PP_NAME, 0},
        {"PP_CONTAINER", PP_CONTAINER, 0},
        {"PP_PROVTYPE", PP_PROVTYPE, 0},
        {"PP_ENUMCONTAINERS", PP_ENUMCONTAINERS, CRYPT_FIRST},
    };
    for (const Case& c : cases) {
        DWORD size = 0;
        ASSERT_TRUE(CryptGetProvParam(p.h, c.param, nullptr, &size, c.flags)) << c.what;
        ASSERT_GT(size, 1u) << c.what;
        std::vector<BYTE> buffer(size, 0xCC);
        DWORD shortSize = size - 1;
        EXPECT_FALSE(CryptGetProvParam(p.h, c.param, buffer.data(), &shortSize, c.flags)) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA)) << c.what;
        EXPECT_EQ(shortSize, size) << c.what << ": the size needed";
        EXPECT_EQ(buffer[size - 1], 0xCC) << c.what << ": written past the short buffer";
        DWORD fullSize = size;
        EXPECT_TRUE(CryptGetProvParam(p.h, c.param, buffer.data(), &fullSize, c.flags)) << c.what;
        EXPECT_LE(fullSize, size) << c.what;
    }
    // The enumeration does not move on when the buffer was short.
    char name[256];
    DWORD size = 1;
    EXPECT_FALSE(CryptGetProvParam(p.h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_FIRST));
    size = sizeof(name);
    ASSERT_TRUE(CryptGetProvParam(p.h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, 0));
    EXPECT_STREQ(name, "default");
}

TEST(SoftCsp, EntryPointsRefuseHandlesTheyDidNotIssue) {
    // Called directly: the platform's CryptoAPI checks its own handles before ours are reached.
    HMODULE csp = LoadLibraryA("QuorvanSoftCsp.dll");
    ASSERT_NE(csp, nullptr);
    using AcquireFn = BOOL(WINAPI*)(HCRYPTPROV*, LPCSTR, DWORD, void*);
    using ReleaseFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
    using UserKeyFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD, HCRYPTKEY*);
    using DestroyKeyFn = BOOL(WINAPI*)(HCRYPTPROV, HCRYPTKEY);
    using KeyParamFn = BOOL(WINAPI*)(HCRYPTPROV, HCRYPTKEY, DWORD, BYTE*, DWORD*, DWORD);
    using ProvParamFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*, DWORD*, DWORD);
    using CreateHashFn = BOOL(WINAPI*)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
    using ExportFn = BOOL(WINAPI*)(HCRYPTPROV, HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE*, DWORD*);
    auto fn = [&](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(csp, name)); };
    auto acquire = reinterpret_cast<AcquireFn>(fn("CPAcquireContext"));
    auto release = reinterpret_cast<ReleaseFn>(fn("CPReleaseContext"));
    auto userKey = reinterpret_cast<UserKeyFn>(fn("CPGetUserKey"));
    auto destroyKey = reinterpret_cast<DestroyKeyFn>(fn("CPDestroyKey"));
    auto keyParam = reinterpret_cast<KeyParamFn>(fn("CPGetKeyParam"));
    auto provParam = reinterpret_cast<ProvParamFn>(fn("CPGetProvParam"));
    auto createHash = reinterpret_cast<CreateHashFn>(fn("CPCreateHash"));
    auto exportKey = reinterpret_cast<ExportFn>(fn("CPExportKey"));
    ASSERT_TRUE(acquire && release && userKey && destroyKey && keyParam && provParam && createHash && exportKey);

    HCRYPTPROV prov = 0;
    ASSERT_TRUE(acquire(&prov, nullptr, 0, nullptr));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(userKey(prov, AT_KEYEXCHANGE, &key));
    HCRYPTKEY gone = 0;
    ASSERT_TRUE(userKey(prov, AT_KEYEXCHANGE, &gone));
    ASSERT_TRUE(destroyKey(prov, gone)) << "a successful destroy is a success";
    HCRYPTPROV released = 0;
    ASSERT_TRUE(acquire(&released, nullptr, 0, nullptr));
    ASSERT_TRUE(release(released, 0));

    const HCRYPTPROV bogusProvs[] = {0, 0x1234, released, static_cast<HCRYPTPROV>(key)};
    for (HCRYPTPROV bad : bogusProvs) {
        BYTE data[64];
        DWORD size = sizeof(data);
        HCRYPTKEY k = 0;
        HCRYPTHASH h = 0;
        SetLastError(0);
        EXPECT_FALSE(provParam(bad, PP_NAME, data, &size, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
        EXPECT_FALSE(userKey(bad, AT_KEYEXCHANGE, &k));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
        EXPECT_FALSE(createHash(bad, CALG_SHA1, 0, 0, &h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
        EXPECT_FALSE(release(bad, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    }
    const HCRYPTKEY bogusKeys[] = {0x1234, gone, static_cast<HCRYPTKEY>(prov)};
    for (HCRYPTKEY bad : bogusKeys) {
        BYTE data[64];
        DWORD size = sizeof(data);
        HCRYPTHASH h = 0;
        EXPECT_FALSE(keyParam(prov, bad, KP_CERTIFICATE, data, &size, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
        EXPECT_FALSE(destroyKey(prov, bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
        EXPECT_FALSE(createHash(prov, CALG_SHA1, bad, 0, &h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
        size = sizeof(data);
        EXPECT_FALSE(exportKey(prov, key, bad, SIMPLEBLOB, 0, data, &size));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    }
    EXPECT_TRUE(destroyKey(prov, key));
    EXPECT_TRUE(release(prov, 0));
    FreeLibrary(csp);
}
