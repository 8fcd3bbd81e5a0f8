// The names of the installed cryptographic service providers as one text: the operation
// behind the script method GetCSPList.
#pragma once

// Names in enumeration order joined by "||"; no providers gives the empty text. The text is
// bounded by an 8192-byte working buffer: when the next name (with its separator) would pass
// 8191 characters, the list stops after the last name that fitted whole.
// *text is a new[] array (caller frees with delete[]) ending in a zero byte that *length does
// not count. Fails (writing nothing) only when the result cannot be allocated or an
// out-parameter is missing.
bool CoreGetCSPList(char** text, int* length);
