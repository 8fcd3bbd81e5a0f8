// Test support for the certificate operations: the certificates made by make_certs.sh put
// into the current user's "MY" store with their keys, and taken out again; decoding and
// checking of the signed messages; a process runner for the soft token tool and nphost.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace certtest {

std::string CertsDir();   // Windows path of make_certs.sh's output (…\NAME.p12, NAME.der)
std::string OutputDir();  // Windows path where messages are written for the OpenSSL checks
std::vector<BYTE> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const void* data, size_t size);
std::vector<BYTE> CertificateDer(const std::string& name);  // NAME.der

// Runs a command line (UTF-16) and gives its exit code (-1 when it cannot start) and output.
int RunProcess(const std::wstring& commandLine, std::string& output);
std::wstring Widen(const std::string& utf8);

// Certificates this object added to "MY", removed again (with their key containers and soft
// token containers) when it goes away, so that the store is left as it was found.
class StoreFixture {
public:
    StoreFixture() = default;
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;
    ~StoreFixture() { RemoveAll(); }

    // NAME.p12 imported, its key moved into a container of its own in the platform's RSA
    // provider, the key-provider property written to name it.
    bool AddWithKey(const std::string& name);
    // NAME.der alone: no key-provider property.
    bool AddWithoutKey(const std::string& name);
    // NAME.der with a key-provider property naming a container that does not exist.
    bool AddWithMissingKey(const std::string& name);
    // NAME.p12 put on the software USB key; the certificate in "MY" names the token's CSP and
    // its container. The token's PIN is remembered so that no prompt appears.
    bool AddOnToken(const std::string& name);
    // count self-signed certificates, all with one key, common names prefix + number padded to
    // `width` characters; a long certificate list without OpenSSL's cost per certificate.
    bool AddGenerated(size_t count, const std::string& prefix, size_t width);
    void RemoveAll();

    // What the failing step of the last Add reported.
    std::string lastError;

private:
    bool AddToMy(PCCERT_CONTEXT cert);
    std::vector<std::vector<BYTE>> hashes_;
    std::vector<std::string> containers_;
    std::vector<std::string> tokenContainers_;
    bool tokenPreauthorised_ = false;
};

// Number of certificates in "MY" and their common names in store order (CertGetNameStringA).
std::vector<std::string> StoreCommonNames();

// A message made by the control, decoded and checked by the platform.
struct Message {
    bool decoded = false;           // Base64 decoded and signature verified
    std::vector<BYTE> der;          // the DER message
    std::vector<BYTE> content;      // embedded content
    std::vector<BYTE> signerCert;   // DER of the certificate that verified the signature
    std::string hashOid;            // digest algorithm of the signer
    DWORD authAttributes = 0xFFFFFFFF;
    DWORD certificates = 0;         // certificates carried by the message
    bool contentAbsent = false;     // no embedded content at all (verified as empty detached data)
    std::string error;
};
Message DecodeMessage(const char* base64, size_t length);

// Adds the message to the list that verify_messages.sh checks with OpenSSL: the DER message as
// FILE.p7, and what its content must be (exact bytes, or the decimal time between t0 and t1).
void RecordForOpenSsl(const std::string& file, const Message& m, const std::string& signer,
                      const std::vector<BYTE>& content);
void RecordTimeForOpenSsl(const std::string& file, const Message& m, const std::string& signer,
                          long long t0, long long t1);

}  // namespace certtest
