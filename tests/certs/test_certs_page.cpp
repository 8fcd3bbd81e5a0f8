// GetCertList, GetCert and P7SignData as a page calls them: nphost.exe loads npQuorvan.dll and
// invokes the script method, with a UTF-16 command line and the result bytes on its output.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "fixture.h"
#include "nphost.h"

namespace {

struct PageCall {
    int exitCode;
    std::string out;
};

PageCall CallFromPage(const std::wstring& methodAndArgs) {
    const std::wstring cmd = L"\"" + nphost::WindowsPath(nphost::FromUtf8(QUORVAN_NPHOST_EXE)) + L"\" \"" +
                             nphost::WindowsPath(nphost::FromUtf8(QUORVAN_PLUGIN_DLL)) + L"\" " + methodAndArgs;
    PageCall c;
    c.exitCode = certtest::RunProcess(cmd, c.out);
    return c;
}

long long Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>((t - 116444736000000000ULL) / 10000000ULL);
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(certtest::StoreCommonNames().empty()) << "MY is not empty to begin with";
        for (const char* n : {"alice", "bob", "carol"})
            ASSERT_TRUE(store.AddWithKey(n)) << n << ": " << store.lastError;
        ASSERT_TRUE(store.AddWithoutKey("chinese")) << store.lastError;
    }
    certtest::StoreFixture store;
};

// The list reaches the page in UTF-8, converted from the system code page (GBK).
TEST_F(PageTest, GetCertListInUtf8) {
    struct Case {
        std::wstring args;
        int exitCode;
        std::string out;
    } cases[] = {
        // 张三 in UTF-8, quoted as Wine's CertNameToStrA gives it.
        {L"GetCertList \"\"", 0, "Alice||Bob||Carol||\"\xE5\xBC\xA0\xE4\xB8\x89\""},
        {L"GetCertList \"Second Test CA\"", 0, "Carol"},
        {L"GetCertList \"No Such CA\"", 1, "call failed\n"},
        {L"GetCert \"\" nobody", 1, "call failed\n"},
        {L"GetCert \"Example Root CA\" \x5F20\x4E09", 1, "call failed\n"},  // 张三: found, but no key
        {L"P7SignData nobody data", 1, "call failed\n"},
    };
    for (const Case& c : cases) {
        const PageCall r = CallFromPage(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << nphost::ToUtf8(c.args);
        EXPECT_EQ(r.out, c.out) << nphost::ToUtf8(c.args);
    }
}

TEST_F(PageTest, P7SignDataSignsTheSystemCodePageForm) {
    struct Case {
        std::wstring args;
        std::string signer, content;
    } cases[] = {
        {L"P7SignData ALICE \"hello page\"", "alice", "hello page"},
        {L"P7SignData carol \x4E2D\x6587", "carol", "\xD6\xD0\xCE\xC4"},  // 中文 signed as GBK bytes
        {L"P7SignData Bob \"\"", "bob", ""},
    };
    int i = 0;
    for (const Case& c : cases) {
        const PageCall r = CallFromPage(c.args);
        ASSERT_EQ(r.exitCode, 0) << nphost::ToUtf8(c.args) << r.out;
        const certtest::Message m = certtest::DecodeMessage(r.out.data(), r.out.size());
        ASSERT_TRUE(m.decoded) << m.error;
        EXPECT_EQ(m.signerCert, certtest::CertificateDer(c.signer));
        EXPECT_EQ(std::string(m.content.begin(), m.content.end()), c.content);
        certtest::RecordForOpenSsl("page-p7-" + std::to_string(i++), m, c.signer,
                                   std::vector<BYTE>(c.content.begin(), c.content.end()));
    }
}

TEST_F(PageTest, GetCertGivesTheTimeSigned) {
    const long long t0 = Now();
    const PageCall r = CallFromPage(L"GetCert \"Example Root CA\" Bob");
    const long long t1 = Now();
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const certtest::Message m = certtest::DecodeMessage(r.out.data(), r.out.size());
    ASSERT_TRUE(m.decoded) << m.error;
    EXPECT_EQ(m.signerCert, certtest::CertificateDer("bob"));
    const long long t = std::atoll(std::string(m.content.begin(), m.content.end()).c_str());
    EXPECT_EQ(m.content.size(), 10u);
    EXPECT_GE(t, t0 - 2);
    EXPECT_LE(t, t1 + 2);
    certtest::RecordTimeForOpenSsl("page-getcert", m, "bob", t0, t1);
}

}  // namespace
