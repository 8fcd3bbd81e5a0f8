// The soft token's PIN prompt, reached as the platform reaches a key: through a certificate's
// key-provider property, in a context that was given no PIN. A helper thread plays the user: it
// finds the prompt by its caption and types into it through the window system.
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

constexpr const char* kPromptCaption = "Quorvan Soft Token PIN";
constexpr int kPinEditId = 100;

enum class Act { TypePin, PressEscape, ClickCancel, Unexpected };

// Watches for the prompt while one call runs and answers it as told. A prompt that must not
// appear is dismissed all the same, so that a failing test cannot hang in a modal loop.
class User {
public:
    explicit User(Act act, std::string pin = "") : act_(act), pin_(std::move(pin)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~User() { Done(); }
    // Ends the watch; true when the prompt was seen.
    bool Done() {
        finished_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }
    bool focusOnEdit() const { return focusOnEdit_; }
    bool answered() const { return answered_; }

private:
    static void Key(WORD vk, wchar_t ch) {
        INPUT in[2] = {};
        for (int i = 0; i < 2; ++i) {
            in[i].type = INPUT_KEYBOARD;
            in[i].ki.wVk = vk;
            in[i].ki.wScan = ch;
            in[i].ki.dwFlags = (ch ? KEYEVENTF_UNICODE : 0) | (i ? KEYEVENTF_KEYUP : 0);
        }
        SendInput(2, in, sizeof(INPUT));
        Sleep(20);
    }

    bool WaitGone(HWND dialog, DWORD ms) {
        for (DWORD waited = 0; waited < ms; waited += 20) {
            if (!IsWindow(dialog)) return true;
            Sleep(20);
        }
        return !IsWindow(dialog);
    }

    void Run() {
        HWND dialog = nullptr;
        // A prompt that is expected gets ten seconds to come up; an unexpected one is watched
        // for as long as the call runs.
        for (int i = 0; i < 500 && !dialog; ++i) {
            dialog = FindWindowA(nullptr, kPromptCaption);
            if (dialog) break;
            if (act_ == Act::Unexpected && finished_) return;
            Sleep(20);
        }
        if (!dialog) return;
        seen_ = true;
        // Typing goes wherever the focus is: wait until the dialog has given it to the PIN field
        // and has become the foreground window. The caption can be found while the dialog is
        // still making its controls.
        for (int i = 0; i < 250 && !focusOnEdit_; ++i) {
            HWND edit = GetDlgItem(dialog, kPinEditId);
            GUITHREADINFO info = {};
            info.cbSize = sizeof(info);
            focusOnEdit_ = edit && GetForegroundWindow() == dialog &&
                           GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
                           info.hwndFocus == edit;
            if (!focusOnEdit_) Sleep(20);
        }
        switch (act_) {
        case Act::TypePin:
            for (char c : pin_) Key(0, static_cast<unsigned char>(c));
            Key(VK_RETURN, 0);
            break;
        case Act::PressEscape:
            Key(VK_ESCAPE, 0);
            break;
        case Act::ClickCancel:
            PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            break;
        case Act::Unexpected:
            break;
        }
        answered_ = act_ != Act::Unexpected && WaitGone(dialog, 5000);
        if (IsWindow(dialog)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }

    Act act_;
    std::string pin_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> seen_{false};
    std::atomic<bool> focusOnEdit_{false};
    std::atomic<bool> answered_{false};
    std::thread thread_;
};

DWORD SignWith(HCRYPTPROV prov, DWORD keySpec) {
    HCRYPTHASH hash = 0;
    BYTE sig[512];
    DWORD n = sizeof(sig);
    DWORD e = 0;
    if (!CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) ||
        !CryptHashData(hash, reinterpret_cast<const BYTE*>("abc"), 3, 0) ||
        !CryptSignHashA(hash, keySpec, nullptr, 0, sig, &n))
        e = GetLastError();
    if (hash) CryptDestroyHash(hash);
    return e;
}

std::string StatusLine(const char* field) {
    std::string status = RunTool("status");
    size_t at = status.find(field);
    if (at == std::string::npos) return "";
    std::string line = status.substr(at, status.find_first_of("\r\n", at) - at);
    return line;
}

// A certificate for the token's default container, carrying only the key-provider property
// (no handle), as a certificate of the "MY" store does.
class Prompt : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        HCRYPTPROV maker = 0;
        ASSERT_TRUE(CryptAcquireContextA(&maker, "default", kProvider, PROV_RSA_FULL, 0));
        ASSERT_TRUE(CryptSetProvParam(maker, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("1234"), 0));
        BYTE name[128];
        DWORD size = sizeof(name);
        ASSERT_TRUE(CertStrToNameA(X509_ASN_ENCODING, "CN=Prompt Test", CERT_X500_NAME_STR, nullptr, name, &size, nullptr));
        CERT_NAME_BLOB subject = {size, name};
        WCHAR container[] = L"default";
        WCHAR provider[] = L"Quorvan Soft Token CSP";
        CRYPT_KEY_PROV_INFO info = {container, provider, PROV_RSA_FULL, 0, 0, nullptr, AT_KEYEXCHANGE};
        PCCERT_CONTEXT cert =
            CertCreateSelfSignCertificate(maker, &subject, 0, &info, nullptr, nullptr, nullptr, nullptr);
        CryptReleaseContext(maker, 0);
        ASSERT_NE(cert, nullptr);
        der_.assign(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
        CertFreeCertificateContext(cert);
    }

    // A fresh certificate context each time, so that no cached key handle carries a PIN over.
    PCCERT_CONTEXT Certificate() {
        PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der_.data(),
                                                           static_cast<DWORD>(der_.size()));
        WCHAR container[] = L"default";
        WCHAR provider[] = L"Quorvan Soft Token CSP";
        CRYPT_KEY_PROV_INFO info = {container, provider, PROV_RSA_FULL, 0, 0, nullptr, AT_KEYEXCHANGE};
        EXPECT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
        certs_.push_back(cert);
        return cert;
    }

    // Signs through the certificate's private key; the error code, 0 on success.
    DWORD SignThroughCertificate(HCRYPTPROV* keep = nullptr) {
        HCRYPTPROV prov = 0;
        DWORD keySpec = 0;
        BOOL mustFree = FALSE;
        if (!CryptAcquireCertificatePrivateKey(Certificate(), 0, nullptr, &prov, &keySpec, &mustFree))
            return GetLastError();
        // Some platforms report a key type of their own here; the key is the exchange key.
        DWORD e = SignWith(prov, AT_KEYEXCHANGE);
        if (keep) *keep = prov;
        else if (mustFree) CryptReleaseContext(prov, 0);
        return e;
    }

    void TearDown() override {
        for (PCCERT_CONTEXT c : certs_) CertFreeCertificateContext(c);
        certs_.clear();
    }

    static std::vector<BYTE> der_;
    std::vector<PCCERT_CONTEXT> certs_;
};

std::vector<BYTE> Prompt::der_;

}  // namespace

TEST_F(Prompt, RightPinTypedIntoThePromptSignsAPkcs7Message) {
    PCCERT_CONTEXT cert = Certificate();
    CRYPT_SIGN_MESSAGE_PARA para = {};
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = cert;
    para.HashAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
    para.cMsgCert = 1;
    para.rgpMsgCert = &cert;
    const BYTE data[] = "signed through the prompt";
    const BYTE* parts[] = {data};
    DWORD sizes[] = {sizeof(data) - 1};
    std::vector<BYTE> message(4096);
    DWORD size = static_cast<DWORD>(message.size());
    User user(Act::TypePin, "1234");
    BOOL ok = CryptSignMessage(&para, FALSE, 1, parts, sizes, message.data(), &size);
    DWORD e = GetLastError();
    EXPECT_TRUE(user.Done()) << "no prompt came up";
    EXPECT_TRUE(user.focusOnEdit()) << "the prompt does not start in its PIN field";
    EXPECT_TRUE(user.answered());
    ASSERT_TRUE(ok) << std::hex << e;
    message.resize(size);
    CRYPT_VERIFY_MESSAGE_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    DWORD decoded = 0;
    EXPECT_TRUE(CryptVerifyMessageSignature(&verify, 0, message.data(), size, nullptr, &decoded, nullptr));
    EXPECT_EQ(decoded, sizes[0]);
}

TEST_F(Prompt, OnePinServesTheWholeContext) {
    HCRYPTPROV prov = 0;
    {
        User user(Act::TypePin, "1234");
        ASSERT_EQ(SignThroughCertificate(&prov), 0u);
        EXPECT_TRUE(user.Done());
    }
    User again(Act::Unexpected);
    EXPECT_EQ(SignWith(prov, AT_KEYEXCHANGE), 0u);
    EXPECT_FALSE(again.Done()) << "asked twice in one context";
    CryptReleaseContext(prov, 0);
}

TEST_F(Prompt, WrongPinAndCancelFail) {
    struct Case {
        const char* what;
        Act act;
        const char* pin;
        DWORD error;
        const char* retries;
    } cases[] = {
        {"wrong PIN", Act::TypePin, "0000", static_cast<DWORD>(SCARD_W_WRONG_CHV), "PIN retries left: 4 of 5"},
        {"empty PIN", Act::TypePin, "", static_cast<DWORD>(SCARD_W_WRONG_CHV), "PIN retries left: 3 of 5"},
        {"Escape", Act::PressEscape, "", static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER), "PIN retries left: 3 of 5"},
        {"Cancel button", Act::ClickCancel, "", static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER), "PIN retries left: 3 of 5"},
        {"right PIN", Act::TypePin, "1234", 0, "PIN retries left: 5 of 5"},
    };
    for (const Case& c : cases) {
        User user(c.act, c.pin);
        DWORD e = SignThroughCertificate();
        EXPECT_TRUE(user.Done()) << c.what;
        EXPECT_TRUE(user.answered()) << c.what;
        EXPECT_EQ(e, c.error) << c.what;
        EXPECT_EQ(StatusLine("PIN retries"), c.retries) << c.what;
    }
}

TEST_F(Prompt, LockedTokenFailsWithoutPrompt) {
    HCRYPTPROV p = 0;
    ASSERT_TRUE(CryptAcquireContextA(&p, nullptr, kProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    for (int i = 0; i < 5; ++i)
        CryptSetProvParam(p, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>("9999"), 0);
    CryptReleaseContext(p, 0);
    User user(Act::Unexpected);
    EXPECT_EQ(SignThroughCertificate(), static_cast<DWORD>(SCARD_W_CHV_BLOCKED));
    EXPECT_FALSE(user.Done()) << "asked for a PIN that cannot be accepted";
    ASSERT_EQ(RunToolCode("init --pin 1234"), 0);
    SetUpTestSuite();  // init made a new key: a certificate to match it
}

TEST_F(Prompt, SilentContextFailsWithoutPrompt) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, "default", kProvider, PROV_RSA_FULL, CRYPT_SILENT));
    User user(Act::Unexpected);
    EXPECT_EQ(SignWith(prov, AT_KEYEXCHANGE), static_cast<DWORD>(NTE_SILENT_CONTEXT));
    EXPECT_FALSE(user.Done());
    CryptReleaseContext(prov, 0);
}

TEST_F(Prompt, PreauthorisationSkipsThePromptUntilTurnedOffOrReinitialised) {
    ASSERT_EQ(RunToolCode("preauth --pin 0000"), 1) << "a wrong PIN is not remembered";
    EXPECT_EQ(StatusLine("pre-authorised"), "pre-authorised: no");
    ASSERT_EQ(RunToolCode("preauth --pin 1234"), 0);
    EXPECT_EQ(StatusLine("pre-authorised"), "pre-authorised: yes");
    {
        User user(Act::Unexpected);
        EXPECT_EQ(SignThroughCertificate(), 0u);
        EXPECT_FALSE(user.Done());
    }
    {
        // Unattended callers that ask for silence get the key too.
        HCRYPTPROV prov = 0;
        ASSERT_TRUE(CryptAcquireContextA(&prov, "default", kProvider, PROV_RSA_FULL, CRYPT_SILENT));
        EXPECT_EQ(SignWith(prov, AT_KEYEXCHANGE), 0u);
        CryptReleaseContext(prov, 0);
    }
    struct Case {
        const char* undo;
    } undos[] = {{"preauth --off"}, {"init --pin 1234"}};
    for (const Case& c : undos) {
        ASSERT_EQ(RunToolCode("preauth --pin 1234"), 0);
        ASSERT_EQ(RunToolCode(c.undo), 0);
        EXPECT_EQ(StatusLine("pre-authorised"), "pre-authorised: no") << c.undo;
        User user(Act::PressEscape);
        EXPECT_EQ(SignThroughCertificate(), static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER)) << c.undo;
        EXPECT_TRUE(user.Done()) << "no prompt after " << c.undo;
    }
}
