// Base64 codec: standard alphabet, '=' fill, CR LF after every full line of 76 characters.
#include "base64.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr size_t kGroupsPerLine = 19;                     // 19 groups of 3 bytes
constexpr size_t kBytesPerLine = kGroupsPerLine * 3;      // 57 input bytes
constexpr size_t kCharsPerLine = kGroupsPerLine * 4;      // 76 characters

// Two output characters for every 12-bit value: one lookup replaces two, and each entry is
// stored with one 2-byte copy.
struct PairTable {
    char pair[4096][2];
};

constexpr PairTable MakePairTable() {
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        t.pair[v][0] = kAlphabet[v >> 6];
        t.pair[v][1] = kAlphabet[v & 63];
    }
    return t;
}

constexpr PairTable kPairs = MakePairTable();

// Value of every byte in the alphabet; kSkip for every other byte.
constexpr unsigned char kSkip = 0xFF;

struct DecodeTable {
    unsigned char value[256];
};

constexpr DecodeTable MakeDecodeTable() {
    DecodeTable t{};
    for (int c = 0; c < 256; ++c) t.value[c] = kSkip;
    for (int i = 0; i < 64; ++i) t.value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    return t;
}

constexpr DecodeTable kDecode = MakeDecodeTable();

inline uint64_t LoadBigEndian64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__GNUC__) || defined(__clang__)
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
#else
    v = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) | (uint64_t(p[3]) << 32) |
        (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) | (uint64_t(p[6]) << 8) | uint64_t(p[7]);
#endif
    return v;
}

inline char* PutPair(char* out, unsigned v12) {
    std::memcpy(out, kPairs.pair[v12], 2);
    return out + 2;
}

inline char* EncodeGroup(const unsigned char* in, char* out) {
    const unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | unsigned(in[2]);
    out = PutPair(out, v >> 12);
    return PutPair(out, v & 0xFFF);
}

// Encodes `groups` whole groups. Two groups at a time from one 8-byte load while at least
// 8 bytes remain readable (the two bytes after the pair are read but not used).
inline char* EncodeGroups(const unsigned char* in, size_t groups, char* out) {
    while (groups >= 3) {
        const uint64_t v = LoadBigEndian64(in);
        out = PutPair(out, unsigned(v >> 52) & 0xFFF);
        out = PutPair(out, unsigned(v >> 40) & 0xFFF);
        out = PutPair(out, unsigned(v >> 28) & 0xFFF);
        out = PutPair(out, unsigned(v >> 16) & 0xFFF);
        in += 6;
        groups -= 2;
    }
    while (groups > 0) {
        out = EncodeGroup(in, out);
        in += 3;
        --groups;
    }
    return out;
}

}  // namespace

long Base64EncodedLength(size_t n) {
    // 4n must stay within 2^31 - 1; checked without forming 4n, which could wrap.
    if (n > 0x7FFFFFFFu / 4) return -1;
    size_t m = 4 * n / 3 + n % 3;
    const size_t q = m / kCharsPerLine;
    m = (m + 3) / 4 * 4;
    return static_cast<long>(m + 2 * (q + 1));
}

bool EncodeBase64(const unsigned char* bytes, size_t n, char* out, size_t capacity, size_t* written) {
    if (bytes == nullptr || out == nullptr || capacity == 0) return false;
    const long need = Base64EncodedLength(n);
    if (need < 0 || capacity < static_cast<size_t>(need)) return false;

    const size_t groups = n / 3;
    const size_t fullLines = groups / kGroupsPerLine;
    const size_t rest = groups % kGroupsPerLine;

    char* o = out;
    const unsigned char* in = bytes;
    for (size_t line = 0; line < fullLines; ++line) {
        o = EncodeGroups(in, kGroupsPerLine, o);
        in += kBytesPerLine;
        *o++ = '\r';
        *o++ = '\n';
    }
    // The break after the last full line stays only when no partial line follows it, so a
    // positive multiple of 57 bytes ends with CR LF.
    o = EncodeGroups(in, rest, o);
    in += rest * 3;

    switch (n % 3) {
        case 1: {
            const unsigned v = unsigned(in[0]) << 4;  // 12 bits: 8 data, 4 zero
            o = PutPair(o, v);
            *o++ = '=';
            *o++ = '=';
            break;
        }
        case 2: {
            const unsigned v = (unsigned(in[0]) << 10) | (unsigned(in[1]) << 2);  // 18 bits
            o = PutPair(o, v >> 6);
            *o++ = kAlphabet[v & 63];
            *o++ = '=';
            break;
        }
        default:
            break;
    }
    if (written != nullptr) *written = static_cast<size_t>(o - out);
    return true;
}

bool DecodeBase64(const char* text, size_t len, unsigned char* out, size_t capacity, size_t* decoded) {
    if (text == nullptr && len != 0) {
        if (decoded != nullptr) *decoded = 0;
        return false;
    }
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    size_t count = 0;
    bool writing = out != nullptr;
    bool fitted = true;

    while (i < len) {
        if (s[i] == 0) break;  // a zero byte where a group would start ends the text
        uint32_t bits = 0;
        unsigned k = 0;
        if (len - i >= 4) {
            // Common case: four alphabet characters in a row.
            const unsigned a = kDecode.value[s[i]], b = kDecode.value[s[i + 1]];
            const unsigned c = kDecode.value[s[i + 2]], d = kDecode.value[s[i + 3]];
            if ((a | b | c | d) < 64) {
                bits = (a << 18) | (b << 12) | (c << 6) | d;
                k = 4;
                i += 4;
            }
        }
        while (k < 4 && i < len) {
            const unsigned v = kDecode.value[s[i++]];
            if (v < 64) {
                bits = (bits << 6) | v;
                ++k;
            }
        }
        const size_t nbytes = k * 6 / 8;
        if (nbytes == 0) continue;
        bits <<= 6 * (4 - k);  // align to 24 bits
        if (writing) {
            if (nbytes > capacity - count) {
                writing = false;
                fitted = false;
            } else {
                unsigned char* p = out + count;
                p[0] = static_cast<unsigned char>(bits >> 16);
                if (nbytes > 1) p[1] = static_cast<unsigned char>(bits >> 8);
                if (nbytes > 2) p[2] = static_cast<unsigned char>(bits);
            }
        }
        count += nbytes;
    }
    if (decoded != nullptr) *decoded = count;
    return fitted;
}

bool CoreBase64Encode(const unsigned char* bytes, size_t n, char** text, size_t* length) {
    if (text == nullptr || length == nullptr) return false;
    *text = nullptr;
    *length = 0;
    static const unsigned char kNoBytes[1] = {0};
    if (bytes == nullptr) {
        if (n != 0) return false;
        bytes = kNoBytes;
    }
    // Too large an input fails here rather than encoding into a buffer of the wrong size.
    const long need = Base64EncodedLength(n);
    if (need < 0) return false;
    char* buffer = new (std::nothrow) char[static_cast<size_t>(need) + 1];
    if (buffer == nullptr) return false;
    size_t written = 0;
    if (!EncodeBase64(bytes, n, buffer, static_cast<size_t>(need), &written)) {
        delete[] buffer;
        return false;
    }
    buffer[written] = '\0';
    *text = buffer;
    *length = written;
    return true;
}

bool CoreBase64Decode(const char* text, size_t len, char** bytes, size_t* count) {
    if (bytes == nullptr || count == nullptr) return false;
    *bytes = nullptr;
    *count = 0;
    if (text == nullptr && len != 0) return false;
    if (len == static_cast<size_t>(-1)) return false;
    char* buffer = new (std::nothrow) char[len + 1];
    if (buffer == nullptr) return false;
    size_t decoded = 0;
    // Four characters give at most three bytes, so len bytes of room always suffice.
    if (!DecodeBase64(text, len, reinterpret_cast<unsigned char*>(buffer), len, &decoded)) {
        delete[] buffer;
        return false;
    }
    buffer[decoded] = 0;
    *bytes = buffer;
    *count = decoded;
    return true;
}
