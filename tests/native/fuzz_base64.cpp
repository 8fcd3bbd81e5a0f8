// libFuzzer target for the Base64 codec. Every buffer is sized exactly, so ASan catches any
// access beyond it; results are compared with plain one-character-at-a-time versions.
#include "base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string ReferenceDecode(const unsigned char* s, size_t len) {
    std::string out;
    size_t i = 0;
    while (i < len && s[i] != 0) {
        uint32_t bits = 0;
        int k = 0;
        while (k < 4 && i < len) {
            const int v = Value(s[i++]);
            if (v >= 0) {
                bits = (bits << 6) | static_cast<uint32_t>(v);
                ++k;
            }
        }
        const int n = k * 6 / 8;
        bits <<= 6 * (4 - k);
        for (int b = 0; b < n; ++b) out += static_cast<char>((bits >> (16 - 8 * b)) & 0xFF);
    }
    return out;
}

std::string ReferenceEncode(const unsigned char* p, size_t n) {
    std::string out;
    size_t groups = 0;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
        if (++groups % 19 == 0) out += "\r\n";
    }
    if (n - i == 1) {
        const uint32_t v = uint32_t(p[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckDecode(const uint8_t* data, size_t size) {
    // The input is copied into an exactly sized heap block so reads past it are caught.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    const std::string expected = ReferenceDecode(data, size);

    size_t counted = 0;
    Check(DecodeBase64(text.get(), size, nullptr, 0, &counted));
    Check(counted == expected.size());

    std::unique_ptr<unsigned char[]> exact(new unsigned char[counted ? counted : 1]);
    size_t n = 0;
    Check(DecodeBase64(text.get(), size, exact.get(), counted, &n));
    Check(n == counted && std::memcmp(exact.get(), expected.data(), n) == 0);

    if (counted > 0) {
        std::unique_ptr<unsigned char[]> small(new unsigned char[counted - 1 ? counted - 1 : 1]);
        n = 0;
        Check(!DecodeBase64(text.get(), size, small.get(), counted - 1, &n));
        Check(n == counted);
    }

    char* bytes = nullptr;
    Check(CoreBase64Decode(text.get(), size, &bytes, &n));
    Check(n == counted && std::memcmp(bytes, expected.data(), n) == 0 && bytes[n] == 0);
    delete[] bytes;
}

void CheckEncode(const uint8_t* data, size_t size) {
    std::unique_ptr<unsigned char[]> input(new unsigned char[size ? size : 1]);
    if (size) std::memcpy(input.get(), data, size);
    const long need = Base64EncodedLength(size);
    Check(need >= 0);
    const std::string expected = ReferenceEncode(data, size);

    std::unique_ptr<char[]> out(new char[static_cast<size_t>(need)]);
    size_t written = 0;
    Check(EncodeBase64(input.get(), size, out.get(), static_cast<size_t>(need), &written));
    Check(written == expected.size() && std::memcmp(out.get(), expected.data(), written) == 0);

    std::unique_ptr<char[]> small(new char[static_cast<size_t>(need) - 1]);
    std::memset(small.get(), '#', static_cast<size_t>(need) - 1);
    Check(!EncodeBase64(input.get(), size, small.get(), static_cast<size_t>(need) - 1, &written));
    for (long i = 0; i < need - 1; ++i) Check(small[static_cast<size_t>(i)] == '#');

    // Round trip through the two operations.
    char* text = nullptr;
    size_t len = 0;
    Check(CoreBase64Encode(input.get(), size, &text, &len));
    Check(len == written && text[len] == 0);
    char* bytes = nullptr;
    size_t count = 0;
    Check(CoreBase64Decode(text, len, &bytes, &count));
    Check(count == size && std::memcmp(bytes, data, size) == 0);
    delete[] text;
    delete[] bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckDecode(data, size);
    CheckEncode(data, size);
    return 0;
}
