// UTF-8 <-> system code page conversions. Runs in the GBK (936) test prefix.
#include "textconv.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Conversion = int (*)(char*, int, const char*, int);

constexpr char kGuard = '#';

// Converts with the given dstSize into a buffer with guard bytes behind it; checks the
// terminating zero and that nothing was written past dstSize.
std::string Convert(Conversion f, const std::string& src, int dstSize = 8192, int srcLen = -2) {
    std::vector<char> dst(static_cast<size_t>(dstSize) + 16, kGuard);
    const int len = srcLen == -2 ? static_cast<int>(src.size()) : srcLen;
    const int n = f(dst.data(), dstSize, src.c_str(), len);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, dstSize);
    EXPECT_EQ(dst[static_cast<size_t>(n)], '\0');
    for (size_t i = static_cast<size_t>(dstSize); i < dst.size(); ++i) EXPECT_EQ(dst[i], kGuard) << "wrote past dstSize";
    for (size_t i = static_cast<size_t>(n) + 1; i < static_cast<size_t>(dstSize); ++i)
        if (dst[i] != kGuard) {
            ADD_FAILURE() << "wrote after the terminating zero at " << i;
            break;
        }
    return std::string(dst.data(), static_cast<size_t>(n));
}

std::string Hex(const std::string& s) {
    static const char digits[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : s) {
        r += digits[c >> 4];
        r += digits[c & 15];
        r += ' ';
    }
    return r;
}

struct Pair {
    const char* utf8;
    const char* gbk;
};

// Both directions give exactly these bytes.
const Pair kPairs[] = {
    {"\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},           // 中文
    {"a\xE4\xB8\xAD" "b", "a\xD6\xD0" "b"},                     // a中b
    {"CN=\xE5\xBC\xA0\xE4\xB8\x89", "CN=\xD5\xC5\xC8\xFD"},     // CN=张三
    {"\xC3\xA9", "\xA8\xA6"},                                   // é: two UTF-8 bytes
    {"\xCE\xB1\xCE\xB2", "\xA6\xC1\xA6\xC2"},                   // αβ: below U+0800, two GBK bytes
    {"plain ASCII 123 !~", "plain ASCII 123 !~"},
};

TEST(TextConv, CodePageIsGbk) {
    ASSERT_EQ(GetACP(), 936u) << "the conversion cases below are GBK bytes";
}

TEST(TextConv, BothDirections) {
    for (const auto& p : kPairs) {
        EXPECT_EQ(Hex(Convert(Utf8ToAnsi, p.utf8)), Hex(p.gbk)) << p.utf8;
        EXPECT_EQ(Hex(Convert(AnsiToUtf8, p.gbk)), Hex(p.utf8)) << p.utf8;
    }
}

TEST(TextConv, ChineseReturnsByteCounts) {
    char dst[16];
    EXPECT_EQ(Utf8ToAnsi(dst, sizeof dst, "\xE4\xB8\xAD\xE6\x96\x87", 6), 4);
    EXPECT_EQ(AnsiToUtf8(dst, sizeof dst, "\xD6\xD0\xCE\xC4", 4), 6);
}

TEST(TextConv, SrcLenZeroMeasuresZeroTerminatedText) {
    EXPECT_EQ(Hex(Convert(Utf8ToAnsi, "x\xE4\xB8\xAD", 8192, 0)), Hex("x\xD6\xD0"));
    EXPECT_EQ(Hex(Convert(AnsiToUtf8, "x\xD6\xD0", 8192, 0)), Hex("x\xE4\xB8\xAD"));
}

TEST(TextConv, EmptyOrNegativeInputWritesOnlyTheZero) {
    for (Conversion f : {Utf8ToAnsi, AnsiToUtf8}) {
        EXPECT_EQ(Convert(f, "", 8192, 0), "");
        EXPECT_EQ(Convert(f, "abc", 8192, -1), "");
        char dst[2] = {kGuard, kGuard};
        EXPECT_EQ(f(dst, 2, nullptr, 0), 0);
        EXPECT_EQ(dst[0], '\0');
        EXPECT_EQ(dst[1], kGuard);
    }
}

TEST(TextConv, NoRoomWritesNothingOrOnlyTheZero) {
    for (Conversion f : {Utf8ToAnsi, AnsiToUtf8}) {
        char dst[2] = {kGuard, kGuard};
        EXPECT_EQ(f(dst, 0, "abc", 3), 0);
        EXPECT_EQ(dst[0], kGuard);
        EXPECT_EQ(f(nullptr, 8, "abc", 3), 0);
        EXPECT_EQ(Convert(f, "abc", 1), "");
        EXPECT_EQ(Convert(f, "abc", 3), "ab");
    }
}

TEST(TextConv, CutAtDstSizeLeavesOutCharacterThatWouldNotFit) {
    struct Case {
        Conversion f;
        size_t asciiBefore;
        const char* character;
        const char* kept;  // what stands after the ASCII bytes in the result
    };
    const Case cases[] = {
        {Utf8ToAnsi, 8189, "\xE4\xB8\xAD", "\xD6\xD0"},  // 2 GBK bytes end exactly at 8191
        {Utf8ToAnsi, 8190, "\xE4\xB8\xAD", ""},          // would pass 8191: left out
        {Utf8ToAnsi, 8191, "x", ""},
        {Utf8ToAnsi, 9000, "", ""},
        {AnsiToUtf8, 8188, "\xD6\xD0", "\xE4\xB8\xAD"},  // 3 UTF-8 bytes end exactly at 8191
        {AnsiToUtf8, 8189, "\xD6\xD0", ""},
        {AnsiToUtf8, 8190, "\xD6\xD0", ""},
        {AnsiToUtf8, 9000, "", ""},
    };
    for (const auto& c : cases) {
        const std::string src = std::string(c.asciiBefore, 'a') + c.character + "tail";
        const std::string expected = std::string(std::min<size_t>(c.asciiBefore, 8191), 'a') + c.kept;
        const std::string out = Convert(c.f, src, 8192);
        EXPECT_EQ(out.size(), expected.size()) << c.asciiBefore;
        EXPECT_TRUE(out == expected) << c.asciiBefore << ": ends with " << Hex(out.substr(out.size() - 4));
    }
}

TEST(TextConv, SequenceCutByEndOfInputIsDroppedAndNothingBeyondIsRead) {
    // The byte right after srcLen would complete the character if it were read.
    struct Case {
        Conversion f;
        const char* src;
        int srcLen;
        const char* expected;
    };
    const Case cases[] = {
        {Utf8ToAnsi, "a\xE4\xB8\xAD", 3, "a"},
        {Utf8ToAnsi, "a\xE4\xB8\xAD", 2, "a"},
        {Utf8ToAnsi, "\xC3\xA9", 1, ""},
        {Utf8ToAnsi, "\xF0\x9F\x98\x80", 3, ""},
        {AnsiToUtf8, "a\xD6\xD0", 2, "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(Convert(c.f, c.src, 8192, c.srcLen)), Hex(c.expected)) << Hex(c.src);
}

TEST(TextConv, CharactersTheCodePageLacksLeaveNoZeroByte) {
    // ก (U+0E01, Thai) and an emoji (four UTF-8 bytes) are not in GBK; the text must go on
    // after them instead of being ended by a stored zero byte.
    for (const char* src : {"\xE0\xB8\x81x", "\xF0\x9F\x98\x80x"}) {
        const std::string out = Convert(Utf8ToAnsi, src);
        ASSERT_FALSE(out.empty()) << Hex(src);
        EXPECT_EQ(out.find('\0'), std::string::npos) << Hex(out);
        EXPECT_EQ(out.back(), 'x') << Hex(out);
        EXPECT_LE(out.size(), 3u) << Hex(out);
    }
}

}  // namespace
