// Conversions between UTF-8 (NPAPI strings) and the system code page (ANSI text).
//
// ASCII is copied. A three-byte UTF-8 character (U+0800..U+FFFF, all CJK ideographs) and a
// double-byte character of the code page are converted one at a time through one UTF-16
// unit. Two- and four-byte UTF-8 sequences, single-byte code page characters from 0x80 up
// and characters below U+0800 are converted through UTF-16 as well, so they neither swallow
// their neighbours nor leave zero bytes inside the text.
#include "textconv.h"

#include <windows.h>

#include <cstring>

namespace {

// Measures src when srcLen is 0; writes the empty text and answers false when there is
// nothing to convert.
bool Prepare(char* dst, int dstSize, const char* src, int* srcLen) {
    if (dst == nullptr || dstSize <= 0) return false;
    dst[0] = '\0';
    if (src == nullptr) return false;
    if (*srcLen == 0) {
        const size_t n = std::strlen(src);
        *srcLen = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
    }
    return *srcLen > 0;
}

// Bytes a UTF-8 sequence takes, judged by its first byte. Bytes that cannot start a shorter
// or longer sequence are taken as the start of a three-byte one, whose marker bits are not
// examined.
int Utf8SequenceLength(unsigned char b0) {
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC0 && b0 < 0xE0) return 2;
    if (b0 >= 0xF0 && b0 < 0xF8) return 4;
    return 3;
}

// UTF-16 units of one UTF-8 sequence of `len` bytes; answers the unit count (1 or 2).
int Utf8ToUnits(const unsigned char* p, int len, wchar_t units[2]) {
    if (len == 2) {
        units[0] = static_cast<wchar_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
        return 1;
    }
    if (len == 4) {
        unsigned cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
        if (cp < 0x10000 || cp > 0x10FFFF) {
            units[0] = static_cast<wchar_t>(0xFFFD);
            return 1;
        }
        cp -= 0x10000;
        units[0] = static_cast<wchar_t>(0xD800 | (cp >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 | (cp & 0x3FF));
        return 2;
    }
    units[0] = static_cast<wchar_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 1;
}

// UTF-8 form of one UTF-16 unit; answers the byte count.
int UnitToUtf8(unsigned u, unsigned char out[3]) {
    if (u < 0x80) {
        out[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    out[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    return 3;
}

}  // namespace

namespace {

// The walk both directions share: ASCII is copied, every other character goes through
// `convert(p, available, area)`, which writes its output form to `area` (8 bytes) and answers
// the bytes it read and wrote, or 0 read when the character is cut off by the end of the input.
// A character is stored only if it fits whole before dstSize - 1.
template <typename Convert>
int Walk(char* dst, int dstSize, const char* src, int srcLen, Convert convert) {
    if (!Prepare(dst, dstSize, src, &srcLen)) return 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    const int limit = dstSize - 1;
    int i = 0;
    int o = 0;
    while (o < limit && i < srcLen) {
        if (s[i] < 0x80) {
            dst[o++] = static_cast<char>(s[i++]);
            continue;
        }
        char area[8];
        int written = 0;
        const int read = convert(s + i, srcLen - i, area, &written);
        if (read == 0) break;             // cut off by the end of the input: dropped
        if (written > limit - o) break;   // the character would pass the end of dst
        std::memcpy(dst + o, area, static_cast<size_t>(written));
        o += written;
        i += read;
    }
    dst[o] = '\0';
    return o;
}

}  // namespace

int Utf8ToAnsi(char* dst, int dstSize, const char* src, int srcLen) {
    return Walk(dst, dstSize, src, srcLen, [](const unsigned char* p, int available, char* area, int* written) {
        const int seq = Utf8SequenceLength(p[0]);
        if (seq > available) return 0;
        wchar_t units[2];
        const int nunits = Utf8ToUnits(p, seq, units);
        std::memset(area, 0, 8);
        int n = WideCharToMultiByte(CP_ACP, 0, units, nunits, area, 8, nullptr, nullptr);
        if (n <= 0) {
            area[0] = '?';
            n = 1;
        }
        *written = n;
        return seq;
    });
}

int AnsiToUtf8(char* dst, int dstSize, const char* src, int srcLen) {
    return Walk(dst, dstSize, src, srcLen, [](const unsigned char* p, int available, char* area, int* written) {
        const int seq = IsDBCSLeadByte(p[0]) ? 2 : 1;
        if (seq > available) return 0;  // a lead byte without its trail byte
        wchar_t units[2] = {};
        const int nunits = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<const char*>(p), seq, units, 2);
        int n = 0;
        if (nunits <= 0) {
            area[0] = '?';
            n = 1;
        } else {
            for (int k = 0; k < nunits; ++k) n += UnitToUtf8(units[k], reinterpret_cast<unsigned char*>(area) + n);
        }
        *written = n;
        return seq;
    });
}
