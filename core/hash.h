// MD5 and SHA-1 digests through the platform's CryptoAPI, handed out as Base64 text: the
// operations behind the script methods HashData and HashFile.
#pragma once

// alg 0 selects MD5; every other value (negative ones included) selects SHA-1.
// On success *text is a new[] array (the caller frees it with delete[]) holding the Base64
// digest and a terminating zero, and *textLength counts the characters before that zero:
// 24 for MD5, 28 for SHA-1. On failure neither out-parameter is written.

// Digests exactly length bytes (zero bytes included). length 0 digests the empty input;
// a negative length, or no data with a positive length, fails.
bool CoreHashData(const unsigned char* data, int length, int alg, char** text, int* textLength);

// Digests the whole contents of the file fileName (ANSI path, the form fopen takes),
// streamed in 8192-byte chunks. A file that cannot be opened fails; a read error part-way
// gives the digest of the bytes read before it.
bool CoreHashFile(const char* fileName, int alg, char** text, int* textLength);
