#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base64.h"
#include "store.h"

namespace certtest {
namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kContainerPrefix[] = "quorvan-certs-";
const char kPassword[] = "test";

std::string EnvPath(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value ? value : fallback;
}

std::string Describe(const char* step) {
    char text[96];
    DWORD e = GetLastError();
    std::snprintf(text, sizeof text, "%s: error 0x%08lX", step, static_cast<unsigned long>(e));
    return text;
}

std::string ToolPath() {
    std::string unix = EnvPath("SOFTTOKEN_TOOL", "softtoken.exe");
    if (!unix.empty() && unix[0] == '/') {
        for (char& c : unix)
            if (c == '/') c = '\\';
        unix = "Z:" + unix;
    }
    return unix;
}

int RunTool(const std::string& args, std::string& output) {
    return RunProcess(Widen("\"" + ToolPath() + "\" " + args), output);
}

struct Provider {
    HCRYPTPROV handle = 0;
    ~Provider() { if (handle) CryptReleaseContext(handle, 0); }
};

void DeleteContainer(const std::string& container) {
    HCRYPTPROV ignored = 0;
    CryptAcquireContextA(&ignored, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

bool SetKeyProvider(PCCERT_CONTEXT cert, const std::wstring& container, const wchar_t* provider) {
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = const_cast<wchar_t*>(container.c_str());
    info.pwszProvName = const_cast<wchar_t*>(provider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwFlags = 0;
    info.dwKeySpec = AT_KEYEXCHANGE;
    return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != FALSE;
}

// The private key that PFXImportCertStore put somewhere for cert, exported; the container it
// used is deleted, since every import uses the same one.
bool TakeImportedKey(PCCERT_CONTEXT cert, std::vector<BYTE>& blob, std::string& error) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        error = Describe("imported certificate has no key property");
        return false;
    }
    std::vector<BYTE> buffer(size);
    CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    const DWORD flags = (info->dwFlags & CRYPT_MACHINE_KEYSET) | CRYPT_SILENT;
    bool ok = false;
    {
        Provider prov;
        if (!CryptAcquireContextW(&prov.handle, info->pwszContainerName, info->pwszProvName, info->dwProvType, flags)) {
            error = Describe("acquire imported key");
            return false;
        }
        // The recorded key type may be wrong (Wine writes 3); the key is an exchange key.
        HCRYPTKEY key = 0;
        if (!CryptGetUserKey(prov.handle, AT_KEYEXCHANGE, &key) && !CryptGetUserKey(prov.handle, AT_SIGNATURE, &key)) {
            error = Describe("imported key");
        } else {
            DWORD n = 0;
            if (CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &n)) {
                blob.resize(n);
                ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &n) != FALSE;
                blob.resize(n);
            }
            if (!ok) error = Describe("export imported key");
            CryptDestroyKey(key);
        }
    }
    HCRYPTPROV ignored = 0;
    CryptAcquireContextW(&ignored, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                         flags | CRYPT_DELETEKEYSET);
    return ok;
}

// The certificate of NAME.p12 (duplicated out of the temporary store) with the key blob.
PCCERT_CONTEXT ImportP12(const std::string& name, std::vector<BYTE>& blob, std::string& error) {
    std::vector<BYTE> data = ReadBytes(CertsDir() + "\\" + name + ".p12");
    if (data.empty()) {
        error = "cannot read " + name + ".p12";
        return nullptr;
    }
    CRYPT_DATA_BLOB pfx = {static_cast<DWORD>(data.size()), data.data()};
    HCERTSTORE store = PFXImportCertStore(&pfx, L"test", CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    if (!store) {
        error = Describe("PFXImportCertStore");
        return nullptr;
    }
    PCCERT_CONTEXT found = nullptr;
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = 0;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        if (CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            found = CertDuplicateCertificateContext(cert);
            CertFreeCertificateContext(cert);
            break;
        }
    }
    if (!found) {
        error = name + ".p12 holds no certificate with a key";
    } else if (!TakeImportedKey(found, blob, error)) {
        CertFreeCertificateContext(found);
        found = nullptr;
    }
    CertCloseStore(store, 0);
    return found;
}

// A certificate context of its own (no properties) for NAME.der.
PCCERT_CONTEXT LoadDer(const std::string& name, std::string& error) {
    std::vector<BYTE> der = CertificateDer(name);
    PCCERT_CONTEXT cert = der.empty() ? nullptr
                                      : CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size()));
    if (!cert) error = "cannot load " + name + ".der";
    return cert;
}

std::string Line(const std::string& file, const std::string& signer) {
    return file + ".p7 " + signer;
}

void AppendManifest(const std::string& line) {
    FILE* f = std::fopen((OutputDir() + "\\manifest").c_str(), "ab");
    if (!f) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

}  // namespace

std::string CertsDir() { return EnvPath("QUORVAN_CERTS_DIR", "."); }
std::string OutputDir() { return EnvPath("QUORVAN_CERTS_OUT", "."); }

std::vector<BYTE> ReadBytes(const std::string& path) {
    std::vector<BYTE> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    BYTE buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return data;
}

bool WriteBytes(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

std::vector<BYTE> CertificateDer(const std::string& name) {
    return ReadBytes(CertsDir() + "\\" + name + ".der");
}

std::wstring Widen(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

int RunProcess(const std::wstring& commandLine, std::string& output) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = commandLine;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return -1;
    }
    CloseHandle(writeEnd);
    // Read until the program has ended and its output is drained, not until the pipe closes:
    // a process the program started (Wine's explorer.exe for its first window) may hold the
    // write end open long after.
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            DWORD got = 0;
            if (!ReadFile(readEnd, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr)) break;
            output.append(buffer, got);
            continue;
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) continue;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 10) == WAIT_FAILED) break;
    }
    CloseHandle(readEnd);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

bool StoreFixture::AddToMy(PCCERT_CONTEXT cert) {
    HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (!my) {
        lastError = Describe("open MY");
        return false;
    }
    const bool ok = CertAddCertificateContextToStore(my, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    if (!ok) lastError = Describe("add to MY");
    CertCloseStore(my, 0);
    if (ok) {
        BYTE hash[20];
        DWORD n = sizeof hash;
        if (CertGetCertificateContextProperty(cert, CERT_HASH_PROP_ID, hash, &n))
            hashes_.emplace_back(hash, hash + n);
    }
    return ok;
}

bool StoreFixture::AddWithKey(const std::string& name) {
    std::vector<BYTE> blob;
    PCCERT_CONTEXT cert = ImportP12(name, blob, lastError);
    if (!cert) return false;
    const std::string container = kContainerPrefix + name;
    DeleteContainer(container);
    bool ok = false;
    {
        Provider prov;
        HCRYPTKEY key = 0;
        if (!CryptAcquireContextA(&prov.handle, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
            prov.handle = 0;
            lastError = Describe("new key container");
        } else if (!CryptImportKey(prov.handle, blob.data(), static_cast<DWORD>(blob.size()), 0, CRYPT_EXPORTABLE, &key)) {
            lastError = Describe("import key");
        } else {
            CryptDestroyKey(key);
            containers_.push_back(container);
            ok = true;
        }
    }
    SecureZeroMemory(blob.data(), blob.size());
    if (ok && !SetKeyProvider(cert, Widen(container), MS_ENHANCED_PROV_W)) {
        lastError = Describe("key property");
        ok = false;
    }
    ok = ok && AddToMy(cert);
    CertFreeCertificateContext(cert);
    return ok;
}

bool StoreFixture::AddWithoutKey(const std::string& name) {
    PCCERT_CONTEXT cert = LoadDer(name, lastError);
    if (!cert) return false;
    const bool ok = AddToMy(cert);
    CertFreeCertificateContext(cert);
    return ok;
}

bool StoreFixture::AddWithMissingKey(const std::string& name) {
    PCCERT_CONTEXT cert = LoadDer(name, lastError);
    if (!cert) return false;
    const std::string container = kContainerPrefix + std::string("missing-") + name;
    DeleteContainer(container);
    const bool ok = SetKeyProvider(cert, Widen(container), MS_ENHANCED_PROV_W) && AddToMy(cert);
    CertFreeCertificateContext(cert);
    return ok;
}

bool StoreFixture::AddOnToken(const std::string& name) {
    const std::string container = "certs-" + name;
    std::string output;
    const std::string p12 = CertsDir() + "\\" + name + ".p12";
    if (RunTool("import-p12 \"" + p12 + "\" --password " + kPassword + " --container " + container, output) != 0) {
        lastError = "softtoken import-p12: " + output;
        return false;
    }
    tokenContainers_.push_back(container);
    output.clear();
    if (!tokenPreauthorised_) {
        if (RunTool("preauth --pin 1234", output) != 0) {
            lastError = "softtoken preauth: " + output;
            return false;
        }
        tokenPreauthorised_ = true;
    }
    PCCERT_CONTEXT cert = LoadDer(name, lastError);
    if (!cert) return false;
    const bool ok = SetKeyProvider(cert, Widen(container), Widen(softtoken::kProviderName).c_str()) && AddToMy(cert);
    CertFreeCertificateContext(cert);
    return ok;
}

bool StoreFixture::AddGenerated(size_t count, const std::string& prefix, size_t width) {
    const std::string container = kContainerPrefix + std::string("generated");
    Provider prov;
    if (!CryptAcquireContextA(&prov.handle, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextA(&prov.handle, container.c_str(), MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
        prov.handle = 0;
        lastError = Describe("generated key container");
        return false;
    }
    if (containers_.empty() || containers_.back() != container) containers_.push_back(container);
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(prov.handle, AT_SIGNATURE, &key) && !CryptGenKey(prov.handle, AT_SIGNATURE, 1024u << 16, &key)) {
        lastError = Describe("generated key");
        return false;
    }
    CryptDestroyKey(key);
    HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (!my) {
        lastError = Describe("open MY");
        return false;
    }
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        std::string cn = prefix + std::to_string(i);
        if (cn.size() < width) cn.insert(prefix.size(), width - cn.size(), '0');
        const std::string subject = "C=CN, O=Example, CN=" + cn;
        BYTE encoded[512];
        DWORD size = sizeof encoded;
        CERT_NAME_BLOB name = {0, encoded};
        if (!CertStrToNameA(X509_ASN_ENCODING, subject.c_str(), CERT_X500_NAME_STR, nullptr, encoded, &size, nullptr)) {
            lastError = Describe("CertStrToNameA");
            ok = false;
            break;
        }
        name.cbData = size;
        PCCERT_CONTEXT cert = CertCreateSelfSignCertificate(prov.handle, &name, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!cert) {
            lastError = Describe("CertCreateSelfSignCertificate");
            ok = false;
            break;
        }
        if (CertAddCertificateContextToStore(my, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            BYTE hash[20];
            DWORD n = sizeof hash;
            if (CertGetCertificateContextProperty(cert, CERT_HASH_PROP_ID, hash, &n)) hashes_.emplace_back(hash, hash + n);
        } else {
            lastError = Describe("add to MY");
            ok = false;
        }
        CertFreeCertificateContext(cert);
    }
    CertCloseStore(my, 0);
    return ok;
}

void StoreFixture::RemoveAll() {
    // Through the registry store itself: under Wine a context found in the system store (a
    // collection) is not deleted for good by CertDeleteCertificateFromStore.
    if (!hashes_.empty()) {
        HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        if (my) {
            for (std::vector<BYTE>& hash : hashes_) {
                CRYPT_HASH_BLOB blob = {static_cast<DWORD>(hash.size()), hash.data()};
                PCCERT_CONTEXT cert = CertFindCertificateInStore(my, kEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
                if (cert) CertDeleteCertificateFromStore(cert);
            }
            CertCloseStore(my, 0);
        }
    }
    hashes_.clear();
    for (const std::string& container : containers_) DeleteContainer(container);
    containers_.clear();
    for (const std::string& container : tokenContainers_) softtoken::DeleteContainer(container);
    tokenContainers_.clear();
    if (tokenPreauthorised_) {
        std::string ignored;
        RunTool("preauth --off", ignored);
        tokenPreauthorised_ = false;
    }
}

std::vector<std::string> StoreCommonNames() {
    std::vector<std::string> names;
    HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (!my) return names;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(my, cert)) != nullptr) {
        char cn[512] = {};
        CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, sizeof cn);
        names.push_back(cn);
    }
    CertCloseStore(my, 0);
    return names;
}

Message DecodeMessage(const char* base64, size_t length) {
    Message m;
    size_t count = 0;
    DecodeBase64(base64, length, nullptr, 0, &count);
    m.der.resize(count);
    if (!count || !DecodeBase64(base64, length, m.der.data(), count, &count)) {
        m.error = "not Base64";
        return m;
    }
    CRYPT_VERIFY_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = kEncoding;
    DWORD size = 0;
    PCCERT_CONTEXT signer = nullptr;
    if (CryptVerifyMessageSignature(&para, 0, m.der.data(), static_cast<DWORD>(m.der.size()), nullptr, &size, nullptr)) {
        m.content.resize(size);
        if (!CryptVerifyMessageSignature(&para, 0, m.der.data(), static_cast<DWORD>(m.der.size()), m.content.data(),
                                         &size, &signer)) {
            m.error = Describe("CryptVerifyMessageSignature");
            return m;
        }
        m.content.resize(size);
    } else {
        // Wine's CryptSignMessage leaves the content out of the message when it is empty; such
        // a message verifies only as a signature over empty detached data.
        const BYTE empty = 0;
        const BYTE* parts[1] = {&empty};
        DWORD lengths[1] = {0};
        if (!CryptVerifyDetachedMessageSignature(&para, 0, m.der.data(), static_cast<DWORD>(m.der.size()), 1, parts,
                                                 lengths, &signer)) {
            m.error = Describe("CryptVerifyMessageSignature, and as empty detached data");
            return m;
        }
        m.contentAbsent = true;
    }
    if (signer) {
        m.signerCert.assign(signer->pbCertEncoded, signer->pbCertEncoded + signer->cbCertEncoded);
        CertFreeCertificateContext(signer);
    }
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    if (msg && CryptMsgUpdate(msg, m.der.data(), static_cast<DWORD>(m.der.size()), TRUE)) {
        DWORD n = 0;
        if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &n)) {
            std::vector<BYTE> info(n);
            if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, info.data(), &n)) {
                const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
                m.hashOid = signerInfo->HashAlgorithm.pszObjId ? signerInfo->HashAlgorithm.pszObjId : "";
                m.authAttributes = signerInfo->AuthAttrs.cAttr;
            }
        }
        n = sizeof m.certificates;
        CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &m.certificates, &n);
    }
    if (msg) CryptMsgClose(msg);
    m.decoded = true;
    return m;
}

void RecordForOpenSsl(const std::string& file, const Message& m, const std::string& signer,
                      const std::vector<BYTE>& content) {
    WriteBytes(OutputDir() + "\\" + file + ".p7", m.der.data(), m.der.size());
    WriteBytes(OutputDir() + "\\" + file + ".content", content.data(), content.size());
    AppendManifest(Line(file, signer) + " bytes " + file + ".content");
}

void RecordTimeForOpenSsl(const std::string& file, const Message& m, const std::string& signer, long long t0,
                          long long t1) {
    WriteBytes(OutputDir() + "\\" + file + ".p7", m.der.data(), m.der.size());
    AppendManifest(Line(file, signer) + " time " + std::to_string(t0) + " " + std::to_string(t1));
}

}  // namespace certtest
