// Base64 codec: vectors, line layout, buffer bounds and the decoder's skipping rules.
// Free of Windows headers: the same source runs under Wine and natively under the sanitizers.
#include "base64.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// Encodes into a buffer of exactly Base64EncodedLength(n) bytes followed by guard bytes.
std::string Encode(const std::string& data) {
    const long need = Base64EncodedLength(data.size());
    EXPECT_GE(need, 0);
    std::vector<char> out(static_cast<size_t>(need) + 8, '#');
    size_t written = 0;
    EXPECT_TRUE(EncodeBase64(Bytes(data), data.size(), out.data(), static_cast<size_t>(need), &written));
    EXPECT_LE(written, static_cast<size_t>(need));
    for (size_t i = static_cast<size_t>(need); i < out.size(); ++i) EXPECT_EQ(out[i], '#') << "wrote past capacity";
    return std::string(out.data(), written);
}

std::string Decode(const std::string& text, bool* ok = nullptr) {
    std::vector<unsigned char> out(text.size() + 1);
    size_t n = 0;
    const bool r = DecodeBase64(text.data(), text.size(), out.data(), out.size(), &n);
    if (ok) *ok = r;
    return std::string(reinterpret_cast<const char*>(out.data()), n);
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string Repeat(const std::string& s, int times) {
    std::string r;
    for (int i = 0; i < times; ++i) r += s;
    return r;
}

struct Vector {
    std::string data;
    std::string text;
};

TEST(Base64Encode, KnownVectors) {
    const Vector cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xFF", "+/8="},
        {"\x01", "AQ=="},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.data), c.text) << "input size " << c.data.size();
}

TEST(Base64Encode, LineLayout) {
    struct Layout {
        size_t n;
        size_t chars;
        bool endsWithBreak;
    };
    const Layout cases[] = {
        {56, 76, false},  // 18 groups and a 2-byte tail on one line
        {57, 78, true},   // one full line keeps its CR LF
        {58, 82, false},  // full line, CR LF, "xx=="
        {60, 82, false},  // full line, CR LF, one group
        {114, 156, true},
        {115, 160, false},
        {1000, 1370, false},
    };
    for (const auto& c : cases) {
        const std::string text = Encode(RandomBytes(c.n, static_cast<unsigned>(c.n)));
        ASSERT_EQ(text.size(), c.chars) << "n=" << c.n;
        EXPECT_EQ(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0, c.endsWithBreak) << "n=" << c.n;
        // Every line but the last holds exactly 76 characters; no line is longer.
        size_t start = 0;
        for (;;) {
            const size_t br = text.find("\r\n", start);
            if (br == std::string::npos) {
                EXPECT_LE(text.size() - start, 76u) << "n=" << c.n;
                break;
            }
            EXPECT_EQ(br - start, 76u) << "n=" << c.n << " line at " << start;
            start = br + 2;
        }
        EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r\n"),
                  std::string::npos);
    }
}

TEST(Base64Encode, TailAfterFullLineStartsNewLine) {
    EXPECT_EQ(Encode(std::string(58, 'a')), Repeat("YWFh", 19) + "\r\nYQ==");
    EXPECT_EQ(Encode(std::string(59, 'a')), Repeat("YWFh", 19) + "\r\nYWE=");
    EXPECT_EQ(Encode(std::string(57, 'a')), Repeat("YWFh", 19) + "\r\n");
}

TEST(Base64EncodedLength, ValuesAndLimit) {
    struct Case {
        size_t n;
        long length;
    };
    const Case cases[] = {
        {0, 2}, {1, 6}, {2, 6}, {3, 6}, {57, 80}, {58, 84}, {0x1FFFFFFF, 734665460},
        {0x20000000, -1}, {static_cast<size_t>(-1), -1}, {static_cast<size_t>(-1) / 2, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64EncodedLength(c.n), c.length) << "n=" << c.n;
}

TEST(Base64Encode, CapacityExactlyEnoughAndOneShort) {
    const std::string data = RandomBytes(2000, 7);
    for (size_t n = 0; n <= data.size(); ++n) {
        const size_t need = static_cast<size_t>(Base64EncodedLength(n));
        std::vector<char> out(need + 1, '#');
        size_t written = 12345;
        ASSERT_TRUE(EncodeBase64(Bytes(data), n, out.data(), need, &written)) << "n=" << n;
        ASSERT_EQ(written, (n + 2) / 3 * 4 + 2 * (n / 3 / 19)) << "n=" << n;
        std::vector<char> shortOut(need, '#');
        written = 12345;
        ASSERT_FALSE(EncodeBase64(Bytes(data), n, shortOut.data(), need - 1, &written)) << "n=" << n;
        ASSERT_EQ(std::string(shortOut.begin(), shortOut.end()), std::string(need, '#')) << "wrote on failure";
    }
}

TEST(Base64Encode, MissingArgumentsFail) {
    char out[16];
    size_t written = 0;
    const unsigned char data[3] = {'a', 'b', 'c'};
    EXPECT_FALSE(EncodeBase64(nullptr, 3, out, sizeof out, &written));
    EXPECT_FALSE(EncodeBase64(data, 3, nullptr, sizeof out, &written));
    EXPECT_FALSE(EncodeBase64(data, 3, out, 0, &written));
    EXPECT_FALSE(EncodeBase64(data, 0x20000000, out, sizeof out, &written));
}

TEST(Base64Decode, Vectors) {
    const Vector cases[] = {
        {"abc", "YWJj"},
        {"ab", "YWI="},
        {"a", "YQ=="},
        {"a", "YQ"},                       // no fill characters
        {"abc", "YWJjZ"},                  // a lone trailing character gives nothing
        {"ab", "YWI"},
        {"", ""},
        {"", "===="},
        {"abc", " Y W\r\nJ\tj "},          // blanks and line breaks are skipped
        {"abc", "=Y=W=J=j"},
        {"abc", "\x80Y\xFFWJ\xC3j"},       // bytes from 0x80 up are skipped
        {"abc", "Y-W_J.j"},
        {"abc", std::string("YWJj\0YWJj", 9)},   // a zero byte where a group starts ends the text
        {"abc", std::string("YW\0Jj", 5)},       // inside a group it is skipped
        {"", std::string("\0YWJj", 5)},
        {"foobar", "Zm9vYmFy"},
        {std::string("\0a\0", 3), "AGEA"},
    };
    for (const auto& c : cases) {
        bool ok = false;
        EXPECT_EQ(Decode(c.text, &ok), c.data) << "text \"" << c.text << "\"";
        EXPECT_TRUE(ok);
    }
}

TEST(Base64Decode, LineBreaksDoNotChangeTheBytes) {
    for (size_t n : {0u, 1u, 56u, 57u, 58u, 59u, 60u, 114u, 1000u, 4099u}) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n) + 100);
        const std::string text = Encode(data);
        std::string flat;
        for (char ch : text)
            if (ch != '\r' && ch != '\n') flat += ch;
        EXPECT_EQ(Decode(text), data) << "n=" << n;
        EXPECT_EQ(Decode(flat), data) << "n=" << n;
    }
}

TEST(Base64Decode, OverflowStopsWritingButKeepsCounting) {
    const std::string text = "YWJjZGVm";  // "abcdef"
    struct Case {
        size_t capacity;
        bool ok;
        std::string written;
    };
    const Case cases[] = {
        {0, false, ""}, {2, false, ""}, {3, false, "abc"}, {5, false, "abc"}, {6, true, "abcdef"},
    };
    for (const auto& c : cases) {
        unsigned char out[16];
        std::memset(out, '#', sizeof out);
        size_t n = 0;
        EXPECT_EQ(DecodeBase64(text.data(), text.size(), out, c.capacity, &n), c.ok) << "capacity " << c.capacity;
        EXPECT_EQ(n, 6u) << "capacity " << c.capacity;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), c.written.size()), c.written);
        for (size_t i = c.written.size(); i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "capacity " << c.capacity;
    }
    // Once a group has not fitted nothing more is written, even a smaller group that would.
    unsigned char out[8];
    std::memset(out, '#', sizeof out);
    size_t n = 0;
    EXPECT_FALSE(DecodeBase64("YWJjYQ", 6, out, 1, &n));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(out[0], '#');
}

TEST(Base64Decode, CountsWithoutBuffer) {
    size_t n = 0;
    EXPECT_TRUE(DecodeBase64("YWJjZGVmZw==", 12, nullptr, 0, &n));
    EXPECT_EQ(n, 7u);
    EXPECT_FALSE(DecodeBase64(nullptr, 4, nullptr, 0, &n));
    EXPECT_EQ(n, 0u);
}

TEST(CoreBase64, EncodeGivesZeroTerminatedText) {
    const Vector cases[] = {{"", ""}, {"a", "YQ=="}, {"abc", "YWJj"}, {std::string(57, 'a'), Repeat("YWFh", 19) + "\r\n"}};
    for (const auto& c : cases) {
        char* text = nullptr;
        size_t len = 99;
        ASSERT_TRUE(CoreBase64Encode(Bytes(c.data), c.data.size(), &text, &len));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, len), c.text);
        EXPECT_EQ(text[len], '\0');
        delete[] text;
    }
    char* text = nullptr;
    size_t len = 99;
    ASSERT_TRUE(CoreBase64Encode(nullptr, 0, &text, &len));
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(text[0], '\0');
    delete[] text;
}

TEST(CoreBase64, EncodeOfTooLargeInputFailsWithoutResult) {
    // The length check fails before any input byte is read or any buffer is sized.
    const unsigned char one = 'a';
    for (size_t n : {size_t{0x20000000}, static_cast<size_t>(-1)}) {
        char* text = reinterpret_cast<char*>(1);
        size_t len = 99;
        EXPECT_FALSE(CoreBase64Encode(&one, n, &text, &len)) << "n=" << n;
        EXPECT_EQ(text, nullptr);
        EXPECT_EQ(len, 0u);
    }
    char* text = nullptr;
    size_t len = 0;
    EXPECT_FALSE(CoreBase64Encode(nullptr, 3, &text, &len));
    EXPECT_EQ(text, nullptr);
}

TEST(CoreBase64, DecodeKeepsZeroBytesAndStopsAtZeroGroupStart) {
    const Vector cases[] = {
        {std::string("\0a\0", 3), "AGEA"},
        {std::string("\0\0\0\0", 4), "AAAAAA=="},
        {"abc", std::string("YWJj\0YWJj", 9)},
        {"", ""},
    };
    for (const auto& c : cases) {
        char* bytes = nullptr;
        size_t count = 99;
        ASSERT_TRUE(CoreBase64Decode(c.text.data(), c.text.size(), &bytes, &count));
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(bytes, count), c.data);
        EXPECT_EQ(bytes[count], '\0');
        delete[] bytes;
    }
}

TEST(CoreBase64, RoundTripOfEveryByteValue) {
    std::string data;
    for (int rep = 0; rep < 3; ++rep)
        for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
    for (size_t n = 0; n <= data.size(); n += 37) {
        char* text = nullptr;
        size_t len = 0;
        ASSERT_TRUE(CoreBase64Encode(Bytes(data), n, &text, &len));
        char* bytes = nullptr;
        size_t count = 0;
        ASSERT_TRUE(CoreBase64Decode(text, len, &bytes, &count));
        EXPECT_EQ(std::string(bytes, count), data.substr(0, n));
        delete[] text;
        delete[] bytes;
    }
}

}  // namespace
