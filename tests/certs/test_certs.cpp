// Certificate list, selection and PKCS#7 signing against the current user's "MY" store, filled
// per case from the certificates of make_certs.sh. Every message made is also written out for
// verify_messages.sh, which checks it with OpenSSL.
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "certs.h"
#include "fixture.h"
#include "p7sign.h"

using certtest::Message;
using certtest::StoreFixture;

namespace {

const char kUntouched[] = "untouched";

// The names of make_certs.sh, in the store order it arranges.
const std::vector<std::string> kStoreOrder = {"nocn",  "alice",   "bob",   "nocn2", "alicia", "comma",
                                              "expired", "carol", "chinese", "nokey", "token"};

long long Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>((t - 116444736000000000ULL) / 10000000ULL);
}

struct TextResult {
    bool ok = false;
    std::string text;
    bool outputsUntouched = true;  // on failure: neither out-parameter written
};

template <typename Call>
TextResult RunOperation(Call call) {
    char* text = const_cast<char*>(kUntouched);
    int length = -7;
    TextResult r;
    r.ok = call(&text, &length);
    if (r.ok) {
        r.text.assign(text, static_cast<size_t>(length));
        EXPECT_EQ(text[length], '\0');
        delete[] text;
    } else {
        r.outputsUntouched = text == kUntouched && length == -7;
    }
    return r;
}

TextResult CertList(const std::string& issuer) {
    return RunOperation([&](char** t, int* n) { return CoreGetCertList(issuer.c_str(), t, n); });
}
TextResult GetCert(const std::string& issuer, const std::string& cn) {
    return RunOperation([&](char** t, int* n) { return CoreGetCert(issuer.c_str(), cn.c_str(), t, n); });
}
TextResult P7Sign(const std::string& cn, const std::string& data) {
    return RunOperation([&](char** t, int* n) {
        return CoreP7SignData(cn.c_str(), reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<int>(data.size()), t, n);
    });
}

// A decoded message must be signed-data with MD5, no authenticated attributes, exactly one
// certificate (the signer's), verified under that certificate.
void ExpectWellFormed(const Message& m, const std::string& signer) {
    ASSERT_TRUE(m.decoded) << m.error;
    EXPECT_EQ(m.signerCert, certtest::CertificateDer(signer)) << "signed by another certificate than " << signer;
    EXPECT_EQ(m.hashOid, "1.2.840.113549.2.5");
    EXPECT_EQ(m.authAttributes, 0u);
    EXPECT_EQ(m.certificates, 1u);
}

class CertsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(certtest::StoreCommonNames().empty()) << "MY is not empty to begin with"; }
    void TearDown() override {
        store.RemoveAll();
        EXPECT_TRUE(certtest::StoreCommonNames().empty()) << "MY not left as it was found";
    }
    void AddWithoutKey(std::initializer_list<const char*> names) {
        for (const char* n : names) ASSERT_TRUE(store.AddWithoutKey(n)) << n << ": " << store.lastError;
    }
    void AddWithKey(std::initializer_list<const char*> names) {
        for (const char* n : names) ASSERT_TRUE(store.AddWithKey(n)) << n << ": " << store.lastError;
    }
    StoreFixture store;
};

TEST_F(CertsTest, FixtureArrangesTheStoreOrder) {
    for (const std::string& n : kStoreOrder) ASSERT_TRUE(store.AddWithoutKey(n)) << n << ": " << store.lastError;
    const std::vector<std::string> names = certtest::StoreCommonNames();
    const std::vector<std::string> expected = {"",      "Alice",       "Bob",
                                               "",      "Alicia",      "Smith, John",
                                               "Old Expired", "Carol", "\xD5\xC5\xC8\xFD" /* 张三 */,
                                               "Dan Nokey",   "Token User"};
    EXPECT_EQ(names, expected);
}

TEST_F(CertsTest, ListJoinsCommonNamesInStoreOrder) {
    struct Case {
        std::vector<const char*> certs;
        std::string issuer;
        bool ok;
        std::string text;
    } cases[] = {
        {{"alice", "bob"}, "", true, "Alice||Bob"},
        {{"nocn", "bob"}, "", true, "||Bob"},                 // the first one has no CN
        {{"alice", "bob", "nocn2", "alicia"}, "", true, "Alice||Bob||Alicia"},  // a later one adds nothing
        {{"nocn"}, "", true, ""},                             // found, but no name at all
        {{"bob", "comma"}, "", true, "Bob||\"Smith"},         // cut at the comma, quote kept
        {{"alice", "expired"}, "", true, "Alice||Old Expired"},
        // 张三 in GBK. Wine's CertNameToStrA quotes a value with characters beyond ASCII
        // (CN="张三"), and the entry is taken from that text as it stands.
        {{"bob", "chinese"}, "", true, "Bob||\"\xD5\xC5\xC8\xFD\""},
        {{"alice", "bob", "carol"}, "Second Test CA", true, "Carol"},
        {{"alice", "carol"}, "example root", true, "Alice"},  // issuer in any letter case
        {{"nocn", "bob", "carol"}, "Example Root CA", true, "||Bob"},
        {{"alice", "bob"}, "No Such CA", false, ""},
        {{}, "", false, ""},                                  // empty store
    };
    for (const Case& c : cases) {
        for (const char* n : c.certs) ASSERT_TRUE(store.AddWithoutKey(n)) << n << ": " << store.lastError;
        const TextResult r = CertList(c.issuer);
        const std::string label = "certs " + std::to_string(c.certs.size()) + " issuer '" + c.issuer + "'";
        EXPECT_EQ(r.ok, c.ok) << label;
        EXPECT_EQ(r.text, c.text) << label;
        if (!c.ok) {
            EXPECT_TRUE(r.outputsUntouched) << label;
        }
        store.RemoveAll();
    }
}

// The 8192-byte working buffer: with far more names than fit, the list holds whole names only,
// as many as fit before the terminator, in store order.
TEST_F(CertsTest, LongListStopsAtTheLastWholeName) {
    ASSERT_TRUE(store.AddGenerated(200, "Long Common Name Of A Certificate Holder Number ", 64)) << store.lastError;
    const std::vector<std::string> names = certtest::StoreCommonNames();
    ASSERT_EQ(names.size(), 200u);
    std::string expected;
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(names[i].size(), 64u);
        const std::string next = (i ? "||" : "") + names[i];
        if (expected.size() + next.size() > 8191) break;
        expected += next;
    }
    const TextResult r = CertList("");
    ASSERT_TRUE(r.ok);
    EXPECT_LE(r.text.size(), 8191u);
    EXPECT_GT(r.text.size(), 8191u - 66);
    EXPECT_EQ(r.text, expected);
}

TEST_F(CertsTest, GetCertSelectsAsTheRulesSay) {
    struct Case {
        std::vector<const char*> certs;
        std::string issuer, cn;
        const char* signer;  // null: no certificate selected
    } cases[] = {
        {{"alice", "alicia"}, "", "alice", "alice"},            // any letter case, first match
        {{"alice", "bob"}, "", "BOB", "bob"},
        {{"alice", "alicia"}, "", "licia", "alicia"},           // substring
        {{"nocn", "alice"}, "", "", "nocn"},                    // empty cn: the first certificate
        {{"alice", "alicia"}, "Example Root CA", "alice", nullptr},  // exact bytes with an issuer
        {{"alice", "alicia"}, "Example Root CA", "Alicia", "alicia"},
        {{"nocn", "alice"}, "example root ca", "Example", "nocn"},   // anywhere in the subject
        {{"alice", "carol"}, "Second Test CA", "", "carol"},    // first of the issuer
        {{"carol"}, "Example Root CA", "Carol", nullptr},       // another issuer's certificate
        {{"expired"}, "", "old expired", "expired"},            // validity is not looked at
        {{"alice"}, "", "nobody", nullptr},
    };
    for (const Case& c : cases) {
        for (const char* n : c.certs) ASSERT_TRUE(store.AddWithKey(n)) << n << ": " << store.lastError;
        const std::string label = "issuer '" + c.issuer + "' cn '" + c.cn + "'";
        const long long t0 = Now();
        const TextResult r = GetCert(c.issuer, c.cn);
        const long long t1 = Now();
        EXPECT_EQ(r.ok, c.signer != nullptr) << label;
        if (r.ok && c.signer) {
            const Message m = certtest::DecodeMessage(r.text.data(), r.text.size());
            ExpectWellFormed(m, c.signer);
            const std::string content(m.content.begin(), m.content.end());
            EXPECT_EQ(content.size(), 10u) << content;
            EXPECT_EQ(content.find_first_not_of("0123456789"), std::string::npos) << content;
            const long long t = std::atoll(content.c_str());
            EXPECT_GE(t, t0 - 2) << label;
            EXPECT_LE(t, t1 + 2) << label;
            certtest::RecordTimeForOpenSsl("getcert-" + std::string(c.signer) + "-" + std::to_string(&c - cases), m,
                                           c.signer, t0, t1);
        } else if (!r.ok) {
            EXPECT_TRUE(r.outputsUntouched) << label;
        }
        store.RemoveAll();
    }
}

TEST_F(CertsTest, GetCertInDifferentSecondsDiffers) {
    AddWithKey({"bob"});
    const TextResult first = GetCert("", "Bob");
    ASSERT_TRUE(first.ok);
    const Message a = certtest::DecodeMessage(first.text.data(), first.text.size());
    const long long firstSecond = Now();
    while (Now() == firstSecond) Sleep(50);
    const TextResult second = GetCert("", "Bob");
    ASSERT_TRUE(second.ok);
    const Message b = certtest::DecodeMessage(second.text.data(), second.text.size());
    EXPECT_NE(first.text, second.text);
    EXPECT_NE(a.content, b.content);
    EXPECT_GT(std::atoll(std::string(b.content.begin(), b.content.end()).c_str()),
              std::atoll(std::string(a.content.begin(), a.content.end()).c_str()));
}

TEST_F(CertsTest, P7SignDataSignsTheExactBytes) {
    AddWithKey({"alice", "alicia"});
    struct Case {
        std::string cn, data, signer;
    } cases[] = {
        {"ALICE", "hello, world", "alice"},  // Alice comes before Alicia
        {"alicia", "text for Alicia", "alicia"},
        {"Alice", std::string(), "alice"},                  // empty content
        {"Alice", std::string("a\0b\0\0c\0", 7), "alice"},  // zero bytes inside and at the end
        {"Alice", std::string(5000, '\xC8'), "alice"},      // several Base64 lines of message
    };
    for (const Case& c : cases) {
        const TextResult r = P7Sign(c.cn, c.data);
        ASSERT_TRUE(r.ok) << c.cn;
        // Lines of 76 characters and CR LF, as every Base64 result of the control.
        EXPECT_EQ(r.text.find("\r\n"), 76u);
        const Message m = certtest::DecodeMessage(r.text.data(), r.text.size());
        ExpectWellFormed(m, c.signer);
        EXPECT_EQ(std::string(m.content.begin(), m.content.end()), c.data) << c.cn;
        // Only the empty content may be missing from the message (Wine's encoder leaves it out).
        if (!c.data.empty()) {
            EXPECT_FALSE(m.contentAbsent) << c.cn;
        }
        certtest::RecordForOpenSsl("p7-" + c.signer + "-" + std::to_string(&c - cases), m, c.signer,
                                   std::vector<BYTE>(c.data.begin(), c.data.end()));
    }
}

TEST_F(CertsTest, P7SignDataFailsWithoutMatchOrBadArguments) {
    AddWithKey({"alice"});
    const unsigned char data[] = "abc";
    char* text = const_cast<char*>(kUntouched);
    int length = -7;
    EXPECT_FALSE(CoreP7SignData("nobody", data, 3, &text, &length));
    EXPECT_FALSE(CoreP7SignData("Alice", data, -1, &text, &length));
    EXPECT_FALSE(CoreP7SignData("Alice", nullptr, 3, &text, &length));
    EXPECT_FALSE(CoreP7SignData(nullptr, data, 3, &text, &length));
    EXPECT_FALSE(CoreP7SignData("Alice", data, 3, nullptr, &length));
    EXPECT_EQ(text, kUntouched);
    EXPECT_EQ(length, -7);
    // No data with length 0 is the empty content.
    const TextResult r = RunOperation([](char** t, int* n) { return CoreP7SignData("Alice", nullptr, 0, t, n); });
    EXPECT_TRUE(r.ok);
}

// A certificate without a usable private key: no key property at all, or one that names a
// container that is not there. Selection succeeds, signing fails, nothing is handed out.
TEST_F(CertsTest, NoUsableKeyFailsCleanly) {
    ASSERT_TRUE(store.AddWithoutKey("nokey")) << store.lastError;
    ASSERT_TRUE(store.AddWithMissingKey("bob")) << store.lastError;
    for (const char* cn : {"Dan Nokey", "Bob"}) {
        const TextResult g = GetCert("", cn);
        EXPECT_FALSE(g.ok) << cn;
        EXPECT_TRUE(g.outputsUntouched) << cn;
        const TextResult p = P7Sign(cn, "data");
        EXPECT_FALSE(p.ok) << cn;
        EXPECT_TRUE(p.outputsUntouched) << cn;
    }
    const TextResult withIssuer = GetCert("Example Root CA", "Dan Nokey");
    EXPECT_FALSE(withIssuer.ok);
}

// The key on the software USB key, reached by the platform through the certificate's
// key-provider property; the PIN is remembered by the token, so no prompt appears.
TEST_F(CertsTest, KeyOnTheSoftToken) {
    ASSERT_TRUE(store.AddOnToken("token")) << store.lastError;
    AddWithKey({"alice"});
    const TextResult p = P7Sign("token user", "signed on the token");
    ASSERT_TRUE(p.ok);
    const Message m = certtest::DecodeMessage(p.text.data(), p.text.size());
    ExpectWellFormed(m, "token");
    EXPECT_EQ(std::string(m.content.begin(), m.content.end()), "signed on the token");
    certtest::RecordForOpenSsl("p7-token", m, "token", m.content);

    const long long t0 = Now();
    const TextResult g = GetCert("Example Root CA", "Token User");
    const long long t1 = Now();
    ASSERT_TRUE(g.ok);
    const Message gm = certtest::DecodeMessage(g.text.data(), g.text.size());
    ExpectWellFormed(gm, "token");
    certtest::RecordTimeForOpenSsl("getcert-token", gm, "token", t0, t1);
    EXPECT_EQ(CertList("").text, "Alice||Token User");
}

TEST(CertsHelpers, AnsiToWideStringUsesTheSystemCodePage) {
    struct Case {
        const char* ansi;
        std::wstring wide;
    } cases[] = {
        {"", L""},
        {"Alice", L"Alice"},
        {"\xD5\xC5\xC8\xFD", L"\x5F20\x4E09"},  // 张三 in GBK (the test prefix runs code page 936)
    };
    for (const Case& c : cases) {
        std::wstring w = L"junk";
        EXPECT_TRUE(AnsiToWideString(c.ansi, w));
        EXPECT_EQ(w, c.wide) << c.ansi;
    }
    std::wstring w = L"junk";
    EXPECT_TRUE(AnsiToWideString(nullptr, w));
    EXPECT_EQ(w, L"");
}

TEST(CertsHelpers, BuildSignedMessageRejectsMissingArguments) {
    char* text = const_cast<char*>(kUntouched);
    int length = -7;
    const BYTE content[] = {1, 2, 3};
    EXPECT_FALSE(BuildSignedMessage(nullptr, content, 3, &text, &length));
    EXPECT_EQ(text, kUntouched);
    EXPECT_EQ(length, -7);
}

}  // namespace
