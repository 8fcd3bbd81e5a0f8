// Digests of data and of files, MD5 and SHA-1. File digests are checked against the host's
// md5sum and sha1sum (the reference files and expected.txt are written by make_hash_files.sh
// before this program runs).
#include "hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef QUORVAN_HASHFILES_DIR
#error QUORVAN_HASHFILES_DIR must name the folder of the reference files
#endif

namespace {

// Runs one operation and returns its text; the returned flag says whether it succeeded.
struct Result {
    bool ok;
    std::string text;
    int length;
};

Result TakeText(bool ok, char* text, int length)
{
    Result r{ok, {}, length};
    if (ok) {
        r.text.assign(text);
        delete[] text;
    }
    return r;
}

Result HashData(const std::string& bytes, int alg)
{
    char* text = nullptr;
    int length = -1;
    bool ok = CoreHashData(reinterpret_cast<const unsigned char*>(bytes.data()),
                           static_cast<int>(bytes.size()), alg, &text, &length);
    return TakeText(ok, text, length);
}

Result HashFile(const std::string& path, int alg)
{
    char* text = nullptr;
    int length = -1;
    bool ok = CoreHashFile(path.c_str(), alg, &text, &length);
    return TakeText(ok, text, length);
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

struct Reference {
    std::string name, md5, sha1;
};

std::vector<Reference> LoadReferences()
{
    std::vector<Reference> refs;
    std::ifstream in(std::string(QUORVAN_HASHFILES_DIR) + "/expected.txt");
    Reference r;
    while (in >> r.name >> r.md5 >> r.sha1)
        refs.push_back(r);
    return refs;
}

const char kEmptyMd5[] = "1B2M2Y8AsgTpgAmY7PhCfg==";
const char kEmptySha1[] = "2jmj7l5rSw0yVb/vlWAYkK/YBwk=";

} // namespace

TEST(CoreHashData, KnownDigestsForEveryAlgorithmSelector)
{
    struct Case {
        std::string bytes;
        int alg;
        const char* expected;
    };
    const Case cases[] = {
        {"", 0, kEmptyMd5},
        {"", 1, kEmptySha1},
        {"abc", 0, "kAFQmDzST7DWlj99KOF/cg=="},
        {"abc", 1, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        // Every selector other than 0 is SHA-1.
        {"abc", 2, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {"abc", 100, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {"abc", -1, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {"", -2147483647 - 1, kEmptySha1},
        // Zero bytes are digested like any other byte (values from md5sum / sha1sum).
        {std::string("\0", 1), 0, "k7iFrf4NoInN9jSQT9WfcQ=="},
        {std::string("\0", 1), 1, "W6k8nbDP+T9StSHXQg5D9u2ieE8="},
        {std::string("\0A", 2), 0, "1ar690XVPzaZ8TFRFP1nMA=="},
        {std::string("\0A", 2), 1, "Badind97w6CKyih6J+UIHJgfzFs="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("alg " + std::to_string(c.alg) + ", " + std::to_string(c.bytes.size()) + " bytes");
        Result r = HashData(c.bytes, c.alg);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(c.expected, r.text);
        EXPECT_EQ(static_cast<int>(strlen(c.expected)), r.length);
    }
}

TEST(CoreHashData, ResultIsOneLineOfFixedLength)
{
    std::string big(100000, 'x');
    for (int alg : {0, 1}) {
        Result r = HashData(big, alg);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(alg == 0 ? 24 : 28, r.length);
        EXPECT_EQ(r.text.size(), static_cast<size_t>(r.length));
        EXPECT_EQ(std::string::npos, r.text.find_first_of("\r\n"));
    }
}

TEST(CoreHashData, BadInputFailsWithoutWritingOutputs)
{
    const unsigned char byte = 'a';
    char sentinel = 0;
    struct Case {
        const char* what;
        const unsigned char* data;
        int length;
    };
    const Case cases[] = {
        {"negative length", &byte, -1},
        {"most negative length", &byte, -2147483647 - 1},
        {"no data with a positive length", nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char* text = &sentinel;
        int length = 12345;
        EXPECT_FALSE(CoreHashData(c.data, c.length, 1, &text, &length));
        EXPECT_EQ(&sentinel, text);
        EXPECT_EQ(12345, length);
    }
    // Missing out-parameters are refused, not written through.
    int length = 0;
    char* text = nullptr;
    EXPECT_FALSE(CoreHashData(&byte, 1, 0, nullptr, &length));
    EXPECT_FALSE(CoreHashData(&byte, 1, 0, &text, nullptr));
}

TEST(CoreHashData, NoDataWithZeroLengthIsTheEmptyInput)
{
    char* text = nullptr;
    int length = 0;
    ASSERT_TRUE(CoreHashData(nullptr, 0, 0, &text, &length));
    EXPECT_STREQ(kEmptyMd5, text);
    delete[] text;
}

TEST(CoreHashFile, MatchesHostDigestsAndDataDigestAtChunkBoundaries)
{
    std::vector<Reference> refs = LoadReferences();
    // 0, 1, 8191, 8192, 8193, 16384 bytes and one of several MiB.
    ASSERT_EQ(7u, refs.size()) << "reference files missing in " << QUORVAN_HASHFILES_DIR;
    for (const Reference& ref : refs) {
        SCOPED_TRACE(ref.name);
        std::string path = std::string(QUORVAN_HASHFILES_DIR) + "/" + ref.name;
        Result md5 = HashFile(path, 0);
        Result sha1 = HashFile(path, 1);
        ASSERT_TRUE(md5.ok);
        ASSERT_TRUE(sha1.ok);
        EXPECT_EQ(ref.md5, md5.text);
        EXPECT_EQ(24, md5.length);
        EXPECT_EQ(ref.sha1, sha1.text);
        EXPECT_EQ(28, sha1.length);

        std::string bytes = ReadWhole(path);
        EXPECT_EQ(HashData(bytes, 0).text, md5.text);
        EXPECT_EQ(HashData(bytes, 1).text, sha1.text);
    }
}

TEST(CoreHashFile, EmptyFileEqualsEmptyData)
{
    std::string path = std::string(QUORVAN_HASHFILES_DIR) + "/f0.bin";
    EXPECT_EQ(kEmptyMd5, HashFile(path, 0).text);
    EXPECT_EQ(kEmptySha1, HashFile(path, 7).text);
}

TEST(CoreHashFile, UnopenableFileFailsWithoutWritingOutputs)
{
    const std::string dir = QUORVAN_HASHFILES_DIR;
    const std::string paths[] = {
        dir + "/no-such-file.bin",
        dir + "/no-such-folder/f0.bin",
        "",
        dir,  // a folder, not a file
    };
    char sentinel = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        char* text = &sentinel;
        int length = 12345;
        EXPECT_FALSE(CoreHashFile(path.c_str(), 0, &text, &length));
        EXPECT_EQ(&sentinel, text);
        EXPECT_EQ(12345, length);
    }
    char* text = &sentinel;
    int length = 12345;
    EXPECT_FALSE(CoreHashFile(nullptr, 1, &text, &length));
    EXPECT_EQ(&sentinel, text);
    EXPECT_EQ(12345, length);
}
