#include "store.h"

#include <algorithm>

namespace softtoken {
namespace {

constexpr const char* kRoot = "Software\\Quorvan\\SoftToken";
constexpr const char* kContainers = "Software\\Quorvan\\SoftToken\\Containers";
constexpr const char* kSession = "Software\\Quorvan\\SoftTokenSession";

class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (h_) RegCloseKey(h_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

DWORD OpenKey(const std::string& path, bool create, RegKey& key, DWORD options = 0) {
    if (create)
        return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options,
                               KEY_READ | KEY_WRITE, nullptr, key.out(), nullptr);
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, key.out());
}

bool ReadDword(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0, size = sizeof(value);
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool ReadBytes(HKEY key, const char* name, std::vector<BYTE>& data, DWORD& type) {
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    if (size == 0) return true;
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return true;
}

bool ReadString(HKEY key, const char* name, std::string& value) {
    std::vector<BYTE> data;
    DWORD type = 0;
    if (!ReadBytes(key, name, data, type) || type != REG_SZ) return false;
    value.assign(data.begin(), data.end());
    value.erase(std::find(value.begin(), value.end(), '\0'), value.end());
    return true;
}

DWORD WriteDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

DWORD WriteString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

const char* CertValueName(DWORD keySpec) {
    return keySpec == AT_SIGNATURE ? "SignatureCertificate" : "ExchangeCertificate";
}

bool IsUserKeySpec(DWORD keySpec) { return keySpec == AT_KEYEXCHANGE || keySpec == AT_SIGNATURE; }

// Opens the backing container of one of our containers.
DWORD OpenBacking(const std::string& name, DWORD flags, HCRYPTPROV& prov) {
    prov = 0;
    if (CryptAcquireContextA(&prov, BackingContainerName(name).c_str(), kBackingProvider,
                             PROV_RSA_FULL, flags | CRYPT_SILENT))
        return 0;
    DWORD e = GetLastError();
    return e ? e : NTE_FAIL;
}

DWORD DeleteBacking(const std::string& name) {
    HCRYPTPROV ignored = 0;
    if (CryptAcquireContextA(&ignored, BackingContainerName(name).c_str(), kBackingProvider,
                             PROV_RSA_FULL, CRYPT_DELETEKEYSET | CRYPT_SILENT))
        return 0;
    DWORD e = GetLastError();
    return e == static_cast<DWORD>(NTE_BAD_KEYSET) ? 0 : e;
}

}  // namespace

DWORD ReadToken(TokenState& state) {
    state = TokenState{};
    RegKey root;
    if (OpenKey(kRoot, false, root) != ERROR_SUCCESS) return 0;
    DWORD flag = 0;
    state.initialised = ReadDword(root.get(), "Initialised", flag) && flag == 1;
    if (!state.initialised) return 0;
    DWORD present = 0;
    ReadDword(root.get(), "Present", present);
    state.present = present != 0;
    ReadString(root.get(), "Label", state.label);
    ReadDword(root.get(), "RetriesLeft", state.retriesLeft);
    ReadDword(root.get(), "Serial", state.serial);
    ReadString(root.get(), "DefaultContainer", state.defaultContainer);
    if (!state.defaultContainer.empty() && !ContainerExists(state.defaultContainer))
        state.defaultContainer.clear();
    return 0;
}

DWORD NeedToken() {
    TokenState state;
    ReadToken(state);
    if (!state.initialised) return static_cast<DWORD>(SCARD_E_NO_SMARTCARD);
    if (!state.present) return static_cast<DWORD>(SCARD_W_REMOVED_CARD);
    return 0;
}

DWORD InitialiseToken(const std::string& label, const std::string& pin, DWORD bits) {
    if (pin.empty() || pin.size() > kMaxPinLength || label.size() > 32)
        return ERROR_INVALID_PARAMETER;
    if (bits < kMinBits || bits > kMaxBits) return static_cast<DWORD>(NTE_BAD_FLAGS);
    for (const std::string& name : ListContainers()) {
        DWORD e = DeleteContainer(name);
        if (e) return e;
    }
    RegKey root;
    DWORD e = OpenKey(kRoot, true, root);
    if (e) return e;
    TokenState old;
    ReadToken(old);
    // Mark unfinished first: a failure half-way leaves no usable token behind.
    WriteDword(root.get(), "Initialised", 0);
    if ((e = WriteString(root.get(), "Label", label)) || (e = WriteString(root.get(), "Pin", pin)) ||
        (e = WriteDword(root.get(), "RetriesLeft", kMaxRetries)) ||
        (e = WriteDword(root.get(), "Present", 1)) ||
        (e = WriteDword(root.get(), "Serial", old.serial + (old.present ? 0 : 1))) ||
        (e = WriteString(root.get(), "DefaultContainer", kDefaultContainer)))
        return e;
    SetPreauthorisedPin("");
    if ((e = CreateContainer(kDefaultContainer))) return e;
    if ((e = GenerateKey(kDefaultContainer, AT_KEYEXCHANGE, bits, false))) return e;
    return WriteDword(root.get(), "Initialised", 1);
}

DWORD SetPresent(bool present) {
    TokenState state;
    ReadToken(state);
    if (!state.initialised) return static_cast<DWORD>(SCARD_E_NO_SMARTCARD);
    if (state.present == present) return 0;
    RegKey root;
    DWORD e = OpenKey(kRoot, false, root);
    if (e) return e;
    if ((e = WriteDword(root.get(), "Present", present ? 1 : 0))) return e;
    return WriteDword(root.get(), "Serial", state.serial + 1);
}

DWORD CheckPin(const std::string& pin) {
    DWORD e = NeedToken();
    if (e) return e;
    RegKey root;
    if ((e = OpenKey(kRoot, false, root))) return e;
    DWORD retries = 0;
    std::string stored;
    ReadDword(root.get(), "RetriesLeft", retries);
    ReadString(root.get(), "Pin", stored);
    if (retries == 0) return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
    if (!stored.empty() && pin == stored) {
        if (retries != kMaxRetries) WriteDword(root.get(), "RetriesLeft", kMaxRetries);
        return 0;
    }
    WriteDword(root.get(), "RetriesLeft", retries - 1);
    return static_cast<DWORD>(SCARD_W_WRONG_CHV);
}

DWORD SetPreauthorisedPin(const std::string& pin) {
    if (pin.empty()) {
        LONG r = RegDeleteKeyA(HKEY_CURRENT_USER, kSession);
        return r == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(r);
    }
    RegKey session;
    DWORD e = OpenKey(kSession, true, session, REG_OPTION_VOLATILE);
    if (e) return e;
    return WriteString(session.get(), "Pin", pin);
}

bool IsPreauthorised() {
    RegKey session, root;
    std::string remembered, stored;
    DWORD retries = 0;
    if (OpenKey(kSession, false, session) || !ReadString(session.get(), "Pin", remembered))
        return false;
    if (OpenKey(kRoot, false, root) || !ReadString(root.get(), "Pin", stored)) return false;
    ReadDword(root.get(), "RetriesLeft", retries);
    return retries > 0 && !stored.empty() && remembered == stored;
}

bool IsValidContainerName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == '\\' || c == '/') return false;
    return true;
}

std::string BackingContainerName(const std::string& name) { return "QuorvanSoftToken." + name; }

std::vector<std::string> ListContainers() {
    std::vector<std::string> names;
    RegKey key;
    if (OpenKey(kContainers, false, key)) return names;
    char buffer[kMaxNameLength + 2];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(buffer);
        LONG r = RegEnumKeyExA(key.get(), i, buffer, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS) names.emplace_back(buffer, size);
    }
    return names;
}

bool ContainerExists(const std::string& name) {
    if (!IsValidContainerName(name)) return false;
    RegKey key;
    return OpenKey(std::string(kContainers) + "\\" + name, false, key) == ERROR_SUCCESS;
}

DWORD CreateContainer(const std::string& name) {
    if (!IsValidContainerName(name)) return static_cast<DWORD>(NTE_BAD_KEYSET_PARAM);
    if (ContainerExists(name)) return static_cast<DWORD>(NTE_EXISTS);
    DWORD e = DeleteBacking(name);  // a stale one from an interrupted deletion
    if (e) return e;
    HCRYPTPROV prov = 0;
    if ((e = OpenBacking(name, CRYPT_NEWKEYSET, prov))) return e;
    CryptReleaseContext(prov, 0);
    RegKey key;
    if ((e = OpenKey(std::string(kContainers) + "\\" + name, true, key))) return e;
    TokenState state;
    ReadToken(state);
    if (state.defaultContainer.empty()) {
        RegKey root;
        if (!OpenKey(kRoot, true, root)) WriteString(root.get(), "DefaultContainer", name);
    }
    return 0;
}

DWORD DeleteContainer(const std::string& name) {
    if (!ContainerExists(name)) return static_cast<DWORD>(NTE_BAD_KEYSET);
    DWORD e = DeleteBacking(name);
    if (e) return e;
    RegKey containers;
    if ((e = OpenKey(kContainers, false, containers))) return e;
    // Container keys hold values only.
    return static_cast<DWORD>(RegDeleteKeyA(containers.get(), name.c_str()));
}

DWORD GenerateKey(const std::string& container, DWORD keySpec, DWORD bits, bool exportable) {
    if (!IsUserKeySpec(keySpec)) return static_cast<DWORD>(NTE_BAD_ALGID);
    if (bits < kMinBits || bits > kMaxBits) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (!ContainerExists(container)) return static_cast<DWORD>(NTE_BAD_KEYSET);
    HCRYPTPROV prov = 0;
    DWORD e = OpenBacking(container, 0, prov);
    if (e) return e;
    HCRYPTKEY key = 0;
    if (!CryptGenKey(prov, keySpec, (bits << 16) | (exportable ? CRYPT_EXPORTABLE : 0), &key)) {
        e = GetLastError();
        CryptReleaseContext(prov, 0);
        return e ? e : NTE_FAIL;
    }
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    return ClearCertificate(container, keySpec);
}

DWORD ImportPrivateKey(const std::string& container, const BYTE* blob, DWORD size, DWORD keySpec,
                       bool exportable) {
    if (!blob || size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY))
        return static_cast<DWORD>(NTE_BAD_DATA);
    const BLOBHEADER* header = reinterpret_cast<const BLOBHEADER*>(blob);
    if (header->bType != PRIVATEKEYBLOB) return static_cast<DWORD>(NTE_BAD_TYPE);
    std::vector<BYTE> copy(blob, blob + size);
    BLOBHEADER* h = reinterpret_cast<BLOBHEADER*>(copy.data());
    if (keySpec == 0) keySpec = h->aiKeyAlg == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
    if (!IsUserKeySpec(keySpec)) return static_cast<DWORD>(NTE_BAD_ALGID);
    h->aiKeyAlg = keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
    if (!ContainerExists(container)) return static_cast<DWORD>(NTE_BAD_KEYSET);
    HCRYPTPROV prov = 0;
    DWORD e = OpenBacking(container, 0, prov);
    if (e) return e;
    HCRYPTKEY key = 0;
    if (!CryptImportKey(prov, copy.data(), size, 0, exportable ? CRYPT_EXPORTABLE : 0, &key)) {
        e = GetLastError();
        CryptReleaseContext(prov, 0);
        SecureZeroMemory(copy.data(), copy.size());
        return e ? e : NTE_FAIL;
    }
    SecureZeroMemory(copy.data(), copy.size());
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    return ClearCertificate(container, keySpec);
}

DWORD KeyBits(const std::string& container, DWORD keySpec) {
    if (!ContainerExists(container)) return 0;
    HCRYPTPROV prov = 0;
    if (OpenBacking(container, 0, prov)) return 0;
    HCRYPTKEY key = 0;
    DWORD bits = 0, size = sizeof(bits);
    if (CryptGetUserKey(prov, keySpec, &key)) {
        if (!CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0)) bits = 0;
        CryptDestroyKey(key);
    }
    CryptReleaseContext(prov, 0);
    return bits;
}

DWORD GetCertificate(const std::string& container, DWORD keySpec, std::vector<BYTE>& der) {
    der.clear();
    if (!IsUserKeySpec(keySpec)) return static_cast<DWORD>(NTE_BAD_KEY);
    RegKey key;
    if (!ContainerExists(container) ||
        OpenKey(std::string(kContainers) + "\\" + container, false, key))
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    DWORD type = 0;
    if (!ReadBytes(key.get(), CertValueName(keySpec), der, type) || type != REG_BINARY || der.empty()) {
        der.clear();
        return static_cast<DWORD>(SCARD_E_NO_SUCH_CERTIFICATE);
    }
    return 0;
}

DWORD SetCertificate(const std::string& container, DWORD keySpec, const BYTE* der, DWORD size) {
    if (!IsUserKeySpec(keySpec)) return static_cast<DWORD>(NTE_BAD_KEY);
    if (!der || size == 0) return static_cast<DWORD>(NTE_BAD_DATA);
    // Only a well-formed X.509 certificate is kept.
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der, size);
    if (!cert) return static_cast<DWORD>(NTE_BAD_DATA);
    CertFreeCertificateContext(cert);
    RegKey key;
    if (!ContainerExists(container) ||
        OpenKey(std::string(kContainers) + "\\" + container, false, key))
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    return RegSetValueExA(key.get(), CertValueName(keySpec), 0, REG_BINARY, der, size);
}

DWORD ClearCertificate(const std::string& container, DWORD keySpec) {
    RegKey key;
    if (OpenKey(std::string(kContainers) + "\\" + container, false, key))
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    LONG r = RegDeleteValueA(key.get(), CertValueName(keySpec));
    return r == ERROR_FILE_NOT_FOUND ? 0 : static_cast<DWORD>(r);
}

}  // namespace softtoken
