// softtoken.exe as page developers and test setups run it: its answers to bad command lines,
// and import-p12 with PKCS#12 files that OpenSSL made before this test (make_p12.sh).
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

std::string P12(const char* file) { return WindowsPath(OutputFolder()) + "\\p12\\" + file; }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(SoftTool, BadCommandLinesExitWithUsage) {
    const std::string label33(33, 'x');
    const std::string cases[] = {
        "",
        "frobnicate",
        "init --bits",
        "init --bits 100",
        "init --bits 511",
        "init --bits 8192",
        "init --bits 1001",  // not a multiple of 8
        "init --bits 1024x",
        "init --bits -1024",
        "init --pin",
        "init --pin \"\"",
        "init --pin " + std::string(65, '1'),
        "init --label " + label33,
        "init extra",
        "init --frob 1",
        "genkey --key both",
        "genkey --key",
        "genkey --bits 4104",
        "genkey --container \"a\\b\"",
        "genkey extra",
        "import-p12",
        "import-p12 " + P12("dev-legacy.p12"),
        "import-p12 --password secret",
        "import-p12 a.p12 b.p12 --password secret",
        "import-p12 " + P12("dev-legacy.p12") + " --password",
        "import-p12 " + P12("dev-legacy.p12") + " --password secret --container \"x/y\"",
        "preauth",
        "preauth --pin",
        "preauth --pin 1234 --off",
        "preauth 1234",
        "insert now",
        "remove now",
        "status extra",
        "keys extra",
        "install extra",
        "install --dll32",
        "uninstall extra",
    };
    std::string before = RunTool("keys");
    for (const std::string& args : cases) {
        std::string out;
        EXPECT_EQ(RunToolOutput(args, out), 2) << args;
        EXPECT_TRUE(Contains(out, "usage: softtoken")) << args << ": " << out;
    }
    EXPECT_EQ(RunTool("keys"), before) << "a refused command line changed the token";
    std::string help;
    EXPECT_EQ(RunToolOutput("help", help), 0);
    EXPECT_TRUE(Contains(help, "import-p12 FILE --password P"));
}

TEST(SoftTool, FailedOperationsExitWithOne) {
    struct Case {
        const char* args;
        const char* message;
    };
    std::string out;
    EXPECT_EQ(RunToolOutput("preauth --pin 0000", out), 1);
    EXPECT_TRUE(Contains(out, "wrong PIN")) << out;
    ASSERT_EQ(RunToolCode("preauth --off"), 0);
    ASSERT_EQ(RunToolCode("remove"), 0);
    EXPECT_EQ(RunToolCode("remove"), 0) << "pulling out twice is no error";
    const Case pulledOut[] = {
        {"genkey", "pulled out"},
        {"genkey --container other --key signature", "pulled out"},
        {"preauth --pin 1234", "pulled out"},
    };
    for (const Case& c : pulledOut) {
        out.clear();
        EXPECT_EQ(RunToolOutput(c.args, out), 1) << c.args;
        EXPECT_TRUE(Contains(out, c.message)) << c.args << ": " << out;
    }
    std::string import = "import-p12 " + P12("dev-legacy.p12") + " --password secret";
    out.clear();
    EXPECT_EQ(RunToolOutput(import, out), 1);
    EXPECT_TRUE(Contains(out, "pulled out")) << out;
    EXPECT_TRUE(Contains(RunTool("status"), "present: no"));
    ASSERT_EQ(RunToolCode("insert"), 0);
    EXPECT_TRUE(Contains(RunTool("status"), "present: yes"));
    EXPECT_TRUE(Contains(RunTool("status"), "PIN retries left: 4 of 5")) << "the wrong PIN counted";
    ASSERT_EQ(RunToolCode("preauth --pin 1234"), 0);
    ASSERT_EQ(RunToolCode("preauth --off"), 0);
    EXPECT_TRUE(Contains(RunTool("status"), "PIN retries left: 5 of 5"));
}

TEST(SoftTool, ImportP12PutsKeyAndCertificateOnTheToken) {
    const std::vector<BYTE> der = ReadAll(WindowsPath(OutputFolder()) + "\\p12\\dev.der");
    ASSERT_FALSE(der.empty()) << "make_p12.sh has not run";
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    ASSERT_NE(cert, nullptr);
    HCRYPTPROV verifier = 0;
    ASSERT_TRUE(CryptAcquireContextA(&verifier, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY certKey = 0;
    ASSERT_TRUE(CryptImportPublicKeyInfo(verifier, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, &certKey));
    for (const char* file : {"dev-legacy.p12", "dev-aes.p12"}) {
        const std::string container = std::string("p12-") + file;
        std::string out;
        ASSERT_EQ(RunToolOutput("import-p12 " + P12(file) + " --password secret --container " + container, out), 0)
            << file << ": " << out;
        EXPECT_TRUE(Contains(out, "C=CN, O=Example, CN=Page Developer")) << out;

        HCRYPTPROV prov = 0;
        ASSERT_TRUE(CryptAcquireContextA(&prov, container.c_str(), kProvider, PROV_RSA_FULL, 0)) << file;
        ASSERT_TRUE(CryptSetProvParam(prov, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("1234"), 0));
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key)) << file;
        DWORD size = 0;
        ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0)) << file;
        std::vector<BYTE> kept(size);
        ASSERT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, kept.data(), &size, 0));
        EXPECT_EQ(kept, der) << file << ": the certificate kept with the key";
        size = 4096;
        std::vector<BYTE> priv(size);
        EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, priv.data(), &size)) << "the imported key left the token";
        CryptDestroyKey(key);

        // The key signs, and the certificate's public key verifies what it signed.
        const BYTE data[] = "signed by an imported key";
        HCRYPTHASH hash = 0;
        BYTE sig[512];
        DWORD sigSize = sizeof(sig);
        ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
        ASSERT_TRUE(CryptHashData(hash, data, sizeof(data), 0));
        ASSERT_TRUE(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, sig, &sigSize)) << std::hex << GetLastError();
        CryptDestroyHash(hash);
        EXPECT_EQ(sigSize, 256u);
        ASSERT_TRUE(CryptCreateHash(verifier, CALG_SHA1, 0, 0, &hash));
        ASSERT_TRUE(CryptHashData(hash, data, sizeof(data), 0));
        EXPECT_TRUE(CryptVerifySignatureA(hash, sig, sigSize, certKey, nullptr, 0)) << file;
        CryptDestroyHash(hash);
        CryptReleaseContext(prov, 0);

        std::string keys = RunTool("keys");
        size_t at = keys.find(container);
        ASSERT_NE(at, std::string::npos) << keys;
        EXPECT_TRUE(Contains(keys.substr(at), "exchange key, 2048 bits, certificate \"C=CN, O=Example, CN=Page Developer\""))
            << keys;
        EXPECT_EQ(RunToolCode("import-p12 " + P12(file) + " --password secret --container " + container), 0)
            << "importing again over the same container";
        HCRYPTPROV del = 0;
        EXPECT_TRUE(CryptAcquireContextA(&del, container.c_str(), kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
    }
    CryptDestroyKey(certKey);
    CryptReleaseContext(verifier, 0);
    CertFreeCertificateContext(cert);
}

TEST(SoftTool, ImportP12RefusesBadFilesAndLeavesNoContainer) {
    struct Case {
        std::string file;
        const char* password;
        const char* message;
    } cases[] = {
        {P12("dev-legacy.p12"), "wrong", "wrong password"},
        {P12("dev-aes.p12"), "", "wrong password"},
        {P12("missing.p12"), "secret", "cannot read"},
        {P12("big.bin"), "secret", "over 1 MB"},
        {P12("empty.bin"), "secret", "not a PKCS#12 file"},
        {P12("dev.der"), "secret", "not a PKCS#12 file"},
        // Windows imports the certificate and finds no key; Wine refuses the file.
        {P12("nokey.p12"), "secret", "private key"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(RunToolOutput("import-p12 " + c.file + " --password \"" + c.password + "\" --container refused", out), 1)
            << c.file;
        EXPECT_TRUE(Contains(out, c.message)) << c.file << ": " << out;
        EXPECT_FALSE(Contains(RunTool("keys"), "refused")) << c.file << " left a container behind";
    }
}
