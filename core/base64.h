// Base64 codec of the signing core, and the two operations behind the script methods
// Base64Encode and Base64Decode. Free of Windows headers so that it also builds natively.
#pragma once

#include <cstddef>

// Buffer size EncodeBase64 needs for n input bytes (without a terminating zero), or -1 when
// 4n exceeds 2^31 - 1, in which case the operation in progress fails.
long Base64EncodedLength(size_t n);

// Encodes n bytes; lines of 76 characters separated by CR LF. Writes no terminating zero.
// Fails without writing when an argument is missing or capacity < Base64EncodedLength(n).
bool EncodeBase64(const unsigned char* bytes, size_t n, char* out, size_t capacity, size_t* written);

// Decodes len bytes of text, skipping every byte outside the alphabet; a zero byte where a
// group would start ends decoding. With out == nullptr it only counts. Fails only when the
// output did not fit; *decoded then still holds the full decoded size.
bool DecodeBase64(const char* text, size_t len, unsigned char* out, size_t capacity, size_t* decoded);

// Text results are allocated with new[] and owned by the caller (delete[]); they end in a
// zero byte that *length does not count.
bool CoreBase64Encode(const unsigned char* bytes, size_t n, char** text, size_t* length);
bool CoreBase64Decode(const char* text, size_t len, char** bytes, size_t* count);
