// Conversions between the UTF-8 of the browsers and the system code page (ANSI text).
#pragma once

// Both return the number of bytes written before the terminating zero they always write
// (dstSize > 0). srcLen 0 means src is zero-terminated. Output is cut at dstSize - 1 bytes;
// a character that would not fit whole is left out.
int Utf8ToAnsi(char* dst, int dstSize, const char* src, int srcLen);
int AnsiToUtf8(char* dst, int dstSize, const char* src, int srcLen);
