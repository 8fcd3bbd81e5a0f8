// The CSP list: contents on the test prefix, exact joins for small provider sets, and the
// bound of the 8192-byte working buffer with many long provider names.
#include "csplist.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kProviderKey[] = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
const char kTestPrefix[] = "Quorvan Test CSP ";

std::string GetList(int* lengthOut = nullptr)
{
    char* text = nullptr;
    int length = -1;
    EXPECT_TRUE(CoreGetCSPList(&text, &length));
    if (!text)
        return {};
    std::string list(text);
    EXPECT_EQ(static_cast<int>(list.size()), length);
    delete[] text;
    if (lengthOut)
        *lengthOut = length;
    return list;
}

// The provider names as the platform enumerates them through the wide-character entry point,
// converted to the system code page: an enumeration independent of the one under test.
std::vector<std::string> EnumerateProviders()
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size))
            break;
        std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, &wide[0], &size))
            break;
        wide.resize(wcslen(wide.c_str()));
        char ansi[1024] = {};
        int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), ansi,
                                    sizeof(ansi), nullptr, nullptr);
        names.emplace_back(ansi, n);
    }
    return names;
}

std::string Join(const std::vector<std::string>& names, size_t count)
{
    std::string joined;
    for (size_t i = 0; i < count; ++i)
        joined += (i ? "||" : "") + names[i];
    return joined;
}

std::vector<std::string> Split(const std::string& list)
{
    std::vector<std::string> names;
    if (list.empty())
        return names;
    size_t start = 0;
    for (;;) {
        size_t bar = list.find("||", start);
        names.push_back(list.substr(start, bar - start));
        if (bar == std::string::npos)
            return names;
        start = bar + 2;
    }
}

// Provider entries written under a registry root for the life of the object; the destructor
// removes them again.
class ProviderEntries {
public:
    explicit ProviderEntries(HKEY root) : root_(root) {}
    ~ProviderEntries()
    {
        for (const std::string& name : names_)
            RegDeleteKeyA(providers(), name.c_str());
        if (providers_)
            RegCloseKey(providers_);
    }
    bool Add(const std::string& name)
    {
        HKEY key = nullptr;
        if (!providers() || RegCreateKeyExA(providers_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        names_.push_back(name);
        const char image[] = "rsaenh.dll";
        DWORD type = PROV_RSA_FULL;
        bool ok = RegSetValueExA(key, "Image Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(image),
                                 sizeof(image)) == ERROR_SUCCESS &&
                  RegSetValueExA(key, "Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type),
                                 sizeof(type)) == ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }
    HKEY providers()
    {
        if (!providers_ && RegCreateKeyExA(root_, kProviderKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &providers_, nullptr) != ERROR_SUCCESS)
            providers_ = nullptr;
        return providers_;
    }

private:
    HKEY root_;
    HKEY providers_ = nullptr;
    std::vector<std::string> names_;
};

// Removes test entries a crashed earlier run may have left behind.
void RemoveLeftovers()
{
    HKEY providers = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderKey, 0, KEY_ALL_ACCESS, &providers) != ERROR_SUCCESS)
        return;
    std::vector<std::string> stale;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(providers, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (std::string(name).rfind(kTestPrefix, 0) == 0)
            stale.push_back(name);
    }
    for (const std::string& s : stale)
        RegDeleteKeyA(providers, s.c_str());
    RegCloseKey(providers);
}

// A name of exactly `length` characters that sorts after the platform's own providers.
std::string TestName(int serial, size_t length)
{
    char head[64];
    snprintf(head, sizeof(head), "%s%03d ", kTestPrefix, serial);
    std::string name(head);
    name.resize(length, 'x');
    return name;
}

// While alive, HKEY_LOCAL_MACHINE of this process is a private, empty key: provider sets of
// a known content without touching the prefix's own providers.
class PrivateMachineKey {
public:
    PrivateMachineKey()
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
        overridden_ = key_ && RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_) == ERROR_SUCCESS;
    }
    ~PrivateMachineKey()
    {
        if (overridden_)
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (key_)
            RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
    }
    bool ok() const { return overridden_; }
    HKEY key() const { return key_; }

private:
    static constexpr const char* kPath = "Software\\Quorvan Test Machine";
    HKEY key_ = nullptr;
    bool overridden_ = false;
};

class CoreGetCSPListTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveLeftovers(); }
    void TearDown() override { RemoveLeftovers(); }
};

} // namespace

TEST_F(CoreGetCSPListTest, ListsThePlatformProvidersInEnumerationOrder)
{
    std::string list = GetList();
    std::vector<std::string> expected = EnumerateProviders();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, Split(list));
    EXPECT_EQ(Join(expected, expected.size()), list);
    for (const char* name : {"Microsoft Base Cryptographic Provider v1.0",
                             "Microsoft Enhanced Cryptographic Provider v1.0",
                             "Microsoft Strong Cryptographic Provider",
                             "Microsoft Enhanced RSA and AES Cryptographic Provider"}) {
        std::vector<std::string> names = Split(list);
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), name)) << name;
    }
    EXPECT_NE("||", list.substr(0, 2));
    EXPECT_NE("||", list.substr(list.size() - 2));
}

TEST_F(CoreGetCSPListTest, SmallProviderSetsJoinExactly)
{
    struct Case {
        std::vector<std::string> names;
        const char* expected;
    };
    const Case cases[] = {
        {{}, ""},
        {{"A"}, "A"},
        {{"A", "B"}, "A||B"},
        // Spaces, dots and system code page characters (GBK: 测试) are copied unchanged.
        {{"My CSP v2.0", "\xB2\xE2\xCA\xD4 CSP"}, "My CSP v2.0||\xB2\xE2\xCA\xD4 CSP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        PrivateMachineKey machine;
        ASSERT_TRUE(machine.ok());
        ProviderEntries entries(machine.key());
        ASSERT_NE(nullptr, entries.providers());
        for (const std::string& name : c.names)
            ASSERT_TRUE(entries.Add(name));
        int length = -1;
        EXPECT_EQ(c.expected, GetList(&length));
        EXPECT_EQ(static_cast<int>(strlen(c.expected)), length);
    }
}

TEST_F(CoreGetCSPListTest, ManyLongNamesStopAtTheLastWholeNameThatFits)
{
    const size_t base = GetList().size();
    ASSERT_GT(base, 0u);
    // Each case registers long names whose separators and characters add `extra` characters
    // to the platform's list; the buffer holds 8191.
    struct Case {
        const char* what;
        size_t extra;
        size_t dropped;  // test names expected to be left out, from the end (the first two cases)
    };
    const Case cases[] = {
        {"exactly 8191 characters", 8191 - base, 0},
        {"one character too many", 8192 - base, 1},
        {"far beyond the buffer", 20000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Names of up to 250 characters; each costs its length plus the separator.
        std::vector<std::string> mine;
        const size_t count = (c.extra + 251) / 252;
        for (size_t i = 0; i < count; ++i) {
            size_t cost = c.extra / count + (i < c.extra % count ? 1 : 0);
            mine.push_back(TestName(static_cast<int>(i), cost - 2));
        }
        ProviderEntries entries(HKEY_LOCAL_MACHINE);
        for (const std::string& name : mine)
            ASSERT_TRUE(entries.Add(name));

        std::vector<std::string> all = EnumerateProviders();
        ASSERT_EQ(Join(all, all.size()).size(), base + c.extra);
        // The list is the longest run of whole names from the start that fits in 8191.
        size_t fit = 0, used = 0;
        while (fit < all.size() && used + (fit ? 2 : 0) + all[fit].size() <= 8191) {
            used += (fit ? 2 : 0) + all[fit].size();
            ++fit;
        }
        if (base + c.extra <= 8192) {
            EXPECT_EQ(all.size() - c.dropped, fit);
        } else {
            EXPECT_LT(fit, all.size() - 1);  // several names left out
        }

        int length = -1;
        std::string list = GetList(&length);
        EXPECT_EQ(Join(all, fit), list);
        EXPECT_LE(length, 8191);
        EXPECT_EQ(used, list.size());
    }
    // The entries are gone again: the list is back to the platform's own.
    EXPECT_EQ(base, GetList().size());
}
