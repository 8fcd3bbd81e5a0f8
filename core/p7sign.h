// PKCS#7 signing with a certificate of the current user's store "MY": the operation behind the
// script method P7SignData.
#pragma once

// Signs length bytes of data (zero bytes included; length 0 signs the empty content) with the
// first certificate of "MY" whose subject contains cn in any letter case, and hands out the
// message (content and signer's certificate embedded, MD5, no attributes) as Base64 text.
// Fails when no subject matches, the message cannot be made, or the arguments are unusable
// (negative length, no data with a positive length, missing cn). On success *text is a new[]
// array (caller frees with delete[]) ending in a zero byte that *textLength does not count; on
// failure neither out-parameter is written.
bool CoreP7SignData(const char* cn, const unsigned char* data, int length, char** text, int* textLength);
