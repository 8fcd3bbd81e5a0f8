// softtoken.exe: manages the user's soft token (see docs/softtoken.md).
// Exit codes: 0 success, 1 the operation failed, 2 bad command line.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "store.h"

using namespace softtoken;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: softtoken COMMAND [options]\n"
    "  init [--pin P] [--label L] [--bits N]   make a fresh token (PIN 1234, 1024 bits)\n"
    "  genkey [--container C] [--key exchange|signature] [--bits N]\n"
    "  import-p12 FILE --password P [--container C]\n"
    "  insert | remove                         plug the token in or pull it out\n"
    "  status | keys                           show the token or its containers\n"
    "  preauth --pin P | preauth --off         remember the PIN for this session\n"
    "  install [--dll32 DIR]                   register the CSP, place the PKCS#11 module\n"
    "                                          (--dll32: also the 32-bit DLLs of DIR)\n"
    "  uninstall                               remove both from every registry view\n";

std::string Describe(DWORD e) {
    switch (e) {
    case static_cast<DWORD>(SCARD_E_NO_SMARTCARD): return "no token: run 'softtoken init'";
    case static_cast<DWORD>(SCARD_W_REMOVED_CARD): return "the token is pulled out";
    case static_cast<DWORD>(SCARD_W_WRONG_CHV): return "wrong PIN";
    case static_cast<DWORD>(SCARD_W_CHV_BLOCKED): return "the PIN is locked";
    case static_cast<DWORD>(NTE_BAD_KEYSET): return "no such container";
    case static_cast<DWORD>(NTE_EXISTS): return "the container exists already";
    case static_cast<DWORD>(NTE_BAD_KEYSET_PARAM): return "bad container name";
    default: break;
    }
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0, text,
                   sizeof(text), nullptr);
    for (char* p = text + std::strlen(text); p > text && (p[-1] == '\n' || p[-1] == '\r');) *--p = 0;
    char code[32];
    std::snprintf(code, sizeof(code), "error 0x%08lX", static_cast<unsigned long>(e));
    return text[0] ? std::string(text) + " (" + code + ")" : std::string(code);
}

int Report(DWORD e, const char* what) {
    if (e == 0) return 0;
    std::fprintf(stderr, "softtoken: %s: %s\n", what, Describe(e).c_str());
    return kFailed;
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "softtoken: %s\n%s", why.c_str(), kUsageText);
    return kUsage;
}

// --name value options; positional arguments in order.
struct Args {
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    std::string error;
};

Args Parse(int argc, char** argv, const std::vector<std::string>& valued,
           const std::vector<std::string>& bare = {}) {
    Args a;
    for (int i = 2; i < argc; ++i) {
        std::string s = argv[i];
        if (s.rfind("--", 0) != 0) {
            a.positional.push_back(s);
            continue;
        }
        bool known = false;
        for (const std::string& v : valued)
            if (s == v) {
                if (i + 1 >= argc) {
                    a.error = s + " needs a value";
                    return a;
                }
                a.options[s] = argv[++i];
                known = true;
            }
        for (const std::string& b : bare)
            if (s == b) {
                a.options[s] = "";
                known = true;
            }
        if (!known) {
            a.error = "unknown option " + s;
            return a;
        }
    }
    return a;
}

bool ParseBits(const std::string& text, DWORD& bits) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || v < kMinBits || v > kMaxBits || v % 8) return false;
    bits = static_cast<DWORD>(v);
    return true;
}

int Init(const Args& a) {
    std::string pin = a.options.count("--pin") ? a.options.at("--pin") : kDefaultPin;
    std::string label = a.options.count("--label") ? a.options.at("--label") : kDefaultLabel;
    DWORD bits = 1024;
    if (pin.empty() || pin.size() > kMaxPinLength) return Usage("the PIN must have 1 to 64 characters");
    if (label.size() > 32) return Usage("the label must have at most 32 characters");
    if (a.options.count("--bits") && !ParseBits(a.options.at("--bits"), bits))
        return Usage("--bits must be a multiple of 8 from 512 to 4096");
    if (int r = Report(InitialiseToken(label, pin, bits), "init")) return r;
    std::printf("token \"%s\" initialised: container \"%s\" with a %lu-bit exchange key\n",
                label.c_str(), kDefaultContainer, static_cast<unsigned long>(bits));
    return 0;
}

// The container named by --container, or the default one. Fails when the token is missing.
int ResolveContainer(const Args& a, std::string& name) {
    if (DWORD e = NeedToken()) return Report(e, "token");
    TokenState state;
    ReadToken(state);
    name = a.options.count("--container") ? a.options.at("--container") : state.defaultContainer;
    if (name.empty()) name = kDefaultContainer;
    if (!IsValidContainerName(name)) return Usage("bad container name \"" + name + "\"");
    return 0;
}

int EnsureContainer(const std::string& name) {
    if (ContainerExists(name)) return 0;
    return Report(CreateContainer(name), "create container");
}

int GenKey(const Args& a) {
    DWORD keySpec = AT_KEYEXCHANGE, bits = 1024;
    if (a.options.count("--key")) {
        const std::string& k = a.options.at("--key");
        if (k == "signature") keySpec = AT_SIGNATURE;
        else if (k != "exchange") return Usage("--key must be exchange or signature");
    }
    if (a.options.count("--bits") && !ParseBits(a.options.at("--bits"), bits))
        return Usage("--bits must be a multiple of 8 from 512 to 4096");
    std::string name;
    if (int r = ResolveContainer(a, name)) return r;
    if (int r = EnsureContainer(name)) return r;
    if (int r = Report(GenerateKey(name, keySpec, bits, a.options.count("--exportable") != 0), "genkey"))
        return r;
    std::printf("container \"%s\": new %lu-bit %s key\n", name.c_str(),
                static_cast<unsigned long>(bits), keySpec == AT_SIGNATURE ? "signature" : "exchange");
    return 0;
}

bool ReadFileBytes(const std::string& path, std::vector<BYTE>& data) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    BYTE buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) {
        data.insert(data.end(), buffer, buffer + n);
        if (data.size() > 1024 * 1024) break;
    }
    std::fclose(f);
    return data.size() <= 1024 * 1024;
}

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], n);
    return w;
}

// Reads the key that PFXImportCertStore put into the platform provider for `cert` (unless
// `blob` is null), then deletes that container.
DWORD TakeImportedKey(PCCERT_CONTEXT cert, std::vector<BYTE>* blob) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY);
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return GetLastError();
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
    DWORD flags = (info->dwFlags & CRYPT_MACHINE_KEYSET) | CRYPT_SILENT;
    DWORD e = 0;
    HCRYPTPROV prov = 0;
    if (blob && !CryptAcquireContextW(&prov, info->pwszContainerName, info->pwszProvName,
                                      info->dwProvType, flags))
        e = GetLastError();
    if (blob && !e) {
        // Some platforms record a key type that CryptGetUserKey does not know; try both.
        HCRYPTKEY key = 0;
        DWORD keySpec = info->dwKeySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;
        if (!CryptGetUserKey(prov, keySpec, &key)) {
            keySpec = keySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE;
            if (!CryptGetUserKey(prov, keySpec, &key)) e = GetLastError();
        }
        // The key must be the certificate's: a platform that shares one container between
        // imports may hold another one.
        DWORD n = 0;
        if (!e && CryptExportPublicKeyInfo(prov, keySpec, X509_ASN_ENCODING, nullptr, &n)) {
            std::vector<BYTE> pub(n);
            auto* pubInfo = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(pub.data());
            if (CryptExportPublicKeyInfo(prov, keySpec, X509_ASN_ENCODING, pubInfo, &n) &&
                !CertComparePublicKeyInfo(X509_ASN_ENCODING, pubInfo,
                                          &cert->pCertInfo->SubjectPublicKeyInfo))
                e = static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
        }
        if (!e && !CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &n)) e = GetLastError();
        if (!e) {
            blob->resize(n);
            if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob->data(), &n)) e = GetLastError();
            blob->resize(e ? 0 : n);
        }
        if (key) CryptDestroyKey(key);
        if (!e && blob->empty()) e = static_cast<DWORD>(NTE_NO_KEY);
    }
    if (prov) CryptReleaseContext(prov, 0);
    HCRYPTPROV ignored = 0;
    CryptAcquireContextW(&ignored, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                         flags | CRYPT_DELETEKEYSET);
    return e;
}

// The PKCS#12 file's first certificate that has a private key, with that key as a
// PRIVATEKEYBLOB. Prints its own message and returns kFailed when there is none.
int ReadP12(const std::string& file, const std::string& password, PCCERT_CONTEXT& cert,
            std::vector<BYTE>& blob) {
    cert = nullptr;
    std::vector<BYTE> data;
    if (!ReadFileBytes(file, data)) {
        std::fprintf(stderr, "softtoken: cannot read %s (missing, unreadable or over 1 MB)\n",
                     file.c_str());
        return kFailed;
    }
    CRYPT_DATA_BLOB pfx = {static_cast<DWORD>(data.size()), data.data()};
    if (data.empty() || !PFXIsPFXBlob(&pfx)) {
        std::fprintf(stderr, "softtoken: %s is not a PKCS#12 file\n", file.c_str());
        return kFailed;
    }
    std::wstring wide = Widen(password);
    HCERTSTORE store = PFXImportCertStore(&pfx, wide.c_str(), CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    DWORD e = GetLastError();
    bool rightPassword = store || PFXVerifyPassword(&pfx, wide.c_str(), 0);
    SecureZeroMemory(&wide[0], wide.size() * sizeof(wchar_t));
    if (!store) {
        // Some platforms leave the last error at 0 here: never let that pass for success. Wine
        // also refuses a file without a private key here, and its PFXVerifyPassword always
        // says no, so the message names both causes.
        if (!rightPassword)
            std::fprintf(stderr, "softtoken: cannot import %s: wrong password, or no private key in it\n",
                         file.c_str());
        else
            std::fprintf(stderr, "softtoken: cannot import %s: %s\n", file.c_str(),
                         e ? Describe(e).c_str() : "damaged file, or no private key in it");
        return kFailed;
    }
    // The platform put each key of the file into a container of its own provider: take the
    // first certificate's key out and delete them all, so that no copy stays off the token.
    e = 0;
    DWORD size = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;) {
        if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
            continue;
        if (cert) {
            TakeImportedKey(c, nullptr);
            continue;
        }
        cert = CertDuplicateCertificateContext(c);
        e = TakeImportedKey(c, &blob);
    }
    CertCloseStore(store, 0);
    if (!cert) {
        std::fprintf(stderr, "softtoken: %s holds no certificate with a private key\n", file.c_str());
        return kFailed;
    }
    if (e) {
        CertFreeCertificateContext(cert);
        cert = nullptr;
        if (e == static_cast<DWORD>(NTE_BAD_PUBLIC_KEY))
            std::fprintf(stderr, "softtoken: %s: the key does not match its certificate\n", file.c_str());
        else
            Report(e, "import-p12");
        return kFailed;
    }
    return 0;
}

int ImportP12(const Args& a) {
    if (a.positional.size() != 1) return Usage("import-p12 needs one FILE");
    if (!a.options.count("--password")) return Usage("import-p12 needs --password");
    std::string name;
    if (int r = ResolveContainer(a, name)) return r;
    PCCERT_CONTEXT cert = nullptr;
    std::vector<BYTE> blob;
    if (int r = ReadP12(a.positional[0], a.options.at("--password"), cert, blob)) return r;
    // The container is made only now, so that a failed import leaves nothing behind.
    const bool created = !ContainerExists(name);
    DWORD e = created ? CreateContainer(name) : 0;
    if (!e) e = ImportPrivateKey(name, blob.data(), static_cast<DWORD>(blob.size()), AT_KEYEXCHANGE, false);
    SecureZeroMemory(blob.data(), blob.size());
    if (!e) e = SetCertificate(name, AT_KEYEXCHANGE, cert->pbCertEncoded, cert->cbCertEncoded);
    if (e && created) DeleteContainer(name);
    int result = Report(e, "import-p12");
    if (!result) {
        char subject[512] = {};
        CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, subject,
                       sizeof(subject));
        std::printf("container \"%s\": exchange key and certificate \"%s\"\n", name.c_str(), subject);
    }
    CertFreeCertificateContext(cert);
    return result;
}

int Status() {
    TokenState state;
    ReadToken(state);
    if (!state.initialised) {
        std::printf("no token (run 'softtoken init')\n");
        return 0;
    }
    std::printf("label: %s\npresent: %s\nPIN retries left: %lu of %lu%s\ndefault container: %s\n"
                "pre-authorised: %s\n",
                state.label.c_str(), state.present ? "yes" : "no",
                static_cast<unsigned long>(state.retriesLeft), static_cast<unsigned long>(kMaxRetries),
                state.retriesLeft == 0 ? " (locked: run 'softtoken init')" : "",
                state.defaultContainer.empty() ? "(none)" : state.defaultContainer.c_str(),
                IsPreauthorised() ? "yes" : "no");
    return 0;
}

int Keys() {
    TokenState state;
    ReadToken(state);
    if (!state.initialised) return Report(static_cast<DWORD>(SCARD_E_NO_SMARTCARD), "keys");
    std::vector<std::string> names = ListContainers();
    if (names.empty()) std::printf("no containers\n");
    for (const std::string& name : names) {
        std::printf("%s%s\n", name.c_str(), name == state.defaultContainer ? " (default)" : "");
        for (DWORD keySpec : {static_cast<DWORD>(AT_KEYEXCHANGE), static_cast<DWORD>(AT_SIGNATURE)}) {
            DWORD bits = KeyBits(name, keySpec);
            if (!bits) continue;
            std::string subject = "no certificate";
            std::vector<BYTE> der;
            if (GetCertificate(name, keySpec, der) == 0) {
                PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                                   static_cast<DWORD>(der.size()));
                if (cert) {
                    char text[512] = {};
                    CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR,
                                   text, sizeof(text));
                    subject = std::string("certificate \"") + text + "\"";
                    CertFreeCertificateContext(cert);
                }
            }
            std::printf("  %s key, %lu bits, %s\n", keySpec == AT_SIGNATURE ? "signature" : "exchange",
                        static_cast<unsigned long>(bits), subject.c_str());
        }
    }
    return 0;
}

std::string OwnFolder() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string WithSlash(std::string folder) {
    // "C:\dir\" on a command line arrives as C:\dir" (the backslash quotes the quote); no
    // Windows path holds a quote, so it can go.
    if (!folder.empty() && folder.back() == '"') folder.pop_back();
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
}

constexpr const char* kProviderKey = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
constexpr bool k64BitTool = sizeof(void*) == 8;

// One registry view with the folder its processes load system DLLs from.
struct View {
    const char* what;
    REGSAM sam;
    std::string system;  // where the DLLs go, with a trailing backslash
    WORD machine;        // what those processes can load
};

View OwnView() {
    char path[MAX_PATH] = {};
    GetSystemDirectoryA(path, sizeof(path));
    if (k64BitTool) return {"64-bit", KEY_WOW64_64KEY, WithSlash(path), IMAGE_FILE_MACHINE_AMD64};
    return {"32-bit", 0, WithSlash(path), IMAGE_FILE_MACHINE_I386};
}

// The 32-bit view beside a 64-bit one; false on a system without one.
bool View32(View& view) {
    char path[MAX_PATH] = {};
    if (!k64BitTool || GetSystemWow64DirectoryA(path, sizeof(path)) == 0) return false;
    view = {"32-bit", KEY_WOW64_32KEY, WithSlash(path), IMAGE_FILE_MACHINE_I386};
    return true;
}

// Empty when `path` is a DLL for `machine`, else what is wrong with it.
std::string CheckDll(const std::string& path, WORD machine) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "cannot read " + path;
    BYTE head[1024] = {};
    size_t n = std::fread(head, 1, sizeof(head), f);
    std::fclose(f);
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, head, sizeof(dos));
    DWORD at = dos.e_lfanew;
    IMAGE_FILE_HEADER file;
    if (n < sizeof(dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || at > n - 4 - sizeof(file) ||
        std::memcmp(head + at, "PE\0\0", 4) != 0)
        return path + " is not a Windows DLL";
    std::memcpy(&file, head + at + 4, sizeof(file));
    if (!(file.Characteristics & IMAGE_FILE_DLL)) return path + " is not a DLL";
    if (file.Machine != machine)
        return path + " is not a " + (machine == IMAGE_FILE_MACHINE_I386 ? "32" : "64") + "-bit DLL";
    return "";
}

DWORD Register(const View& view) {
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProviderKey) + kProviderName).c_str(),
                             0, nullptr, 0, KEY_WRITE | view.sam, nullptr, &key, nullptr);
    if (r) return static_cast<DWORD>(r);
    const std::string image = view.system + kCspFileName;
    const DWORD type = PROV_RSA_FULL;
    r = RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image.c_str()),
                       static_cast<DWORD>(image.size() + 1));
    if (!r) r = RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type), sizeof(type));
    RegCloseKey(key);
    return static_cast<DWORD>(r);
}

// Copies the DLLs of `from` into each view's system folder and registers the CSP there. Every
// file is checked before anything changes.
int Install(const Args& a) {
    std::vector<std::pair<View, std::string>> plan = {{OwnView(), OwnFolder()}};
    if (a.options.count("--dll32")) {
        View v;
        if (!k64BitTool) return Usage("--dll32 is for the 64-bit softtoken (this one is 32-bit)");
        if (!View32(v)) {
            std::fprintf(stderr, "softtoken: this system has no 32-bit view\n");
            return kFailed;
        }
        plan.emplace_back(v, WithSlash(a.options.at("--dll32")));
    }
    for (const auto& [view, from] : plan)
        for (const char* file : {kCspFileName, kP11FileName}) {
            std::string why = CheckDll(from + file, view.machine);
            if (!why.empty()) {
                std::fprintf(stderr, "softtoken: install: %s\n", why.c_str());
                return kFailed;
            }
        }
    for (const auto& [view, from] : plan) {
        for (const char* file : {kCspFileName, kP11FileName})
            if (!CopyFileA((from + file).c_str(), (view.system + file).c_str(), FALSE))
                return Report(GetLastError(), ("copy " + from + file + " to " + view.system).c_str());
        if (int r = Report(Register(view), "register the CSP")) return r;
        std::printf("installed \"%s\" for %s programs: %s%s and %s%s\n", kProviderName, view.what,
                    view.system.c_str(), kCspFileName, view.system.c_str(), kP11FileName);
    }
    return 0;
}

// Removes the CSP from the tool's own view and, for the 64-bit tool, from the 32-bit one.
int Uninstall() {
    std::vector<View> views = {OwnView()};
    View v;
    if (View32(v)) views.push_back(v);
    for (const View& view : views) {
        LONG r = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProviderKey) + kProviderName).c_str(),
                                 view.sam, 0);
        if (r && r != ERROR_FILE_NOT_FOUND) return Report(static_cast<DWORD>(r), "unregister the CSP");
        for (const char* file : {kCspFileName, kP11FileName}) {
            const std::string path = view.system + file;
            if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
                // A loaded DLL cannot be deleted; it goes at the next restart.
                MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
    }
    std::printf("uninstalled \"%s\"\n", kProviderName);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    auto none = [&](int (*f)()) {
        if (argc > 2) return Usage(command + " takes no arguments");
        return f();
    };
    if (command == "init") {
        Args a = Parse(argc, argv, {"--pin", "--label", "--bits"});
        if (!a.error.empty() || !a.positional.empty()) return Usage(a.error.empty() ? "unexpected " + a.positional[0] : a.error);
        return Init(a);
    }
    if (command == "genkey") {
        Args a = Parse(argc, argv, {"--container", "--key", "--bits"}, {"--exportable"});
        if (!a.error.empty() || !a.positional.empty()) return Usage(a.error.empty() ? "unexpected " + a.positional[0] : a.error);
        return GenKey(a);
    }
    if (command == "import-p12") {
        Args a = Parse(argc, argv, {"--password", "--container"});
        if (!a.error.empty()) return Usage(a.error);
        return ImportP12(a);
    }
    if (command == "preauth") {
        Args a = Parse(argc, argv, {"--pin"}, {"--off"});
        if (!a.error.empty() || !a.positional.empty() || a.options.size() != 1)
            return Usage("preauth needs --pin P or --off");
        if (a.options.count("--off")) {
            if (int r = Report(SetPreauthorisedPin(""), "preauth")) return r;
            std::printf("pre-authorisation off\n");
            return 0;
        }
        // Only the right PIN is remembered (a wrong one counts against the retry limit).
        if (int r = Report(CheckPin(a.options.at("--pin")), "preauth")) return r;
        if (int r = Report(SetPreauthorisedPin(a.options.at("--pin")), "preauth")) return r;
        std::printf("pre-authorised for this session\n");
        return 0;
    }
    if (command == "insert" || command == "remove") {
        if (argc > 2) return Usage(command + " takes no arguments");
        if (int r = Report(SetPresent(command == "insert"), command.c_str())) return r;
        std::printf("token %s\n", command == "insert" ? "inserted" : "removed");
        return 0;
    }
    if (command == "status") return none(Status);
    if (command == "keys") return none(Keys);
    if (command == "install") {
        Args a = Parse(argc, argv, {"--dll32"});
        if (!a.error.empty() || !a.positional.empty()) return Usage(a.error.empty() ? "unexpected " + a.positional[0] : a.error);
        return Install(a);
    }
    if (command == "uninstall") return none(Uninstall);
    if (command == "help" || command == "--help") {
        std::printf("%s", kUsageText);
        return 0;
    }
    return Usage("unknown command " + command);
}
