// Queries on the current user's personal certificate store "MY": the operations behind the
// script methods GetCertList and GetCert, and the helpers that PKCS#7 signing shares with them.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

// Common names of the certificates in "MY" in store order, joined by "||"; an empty issuer
// lists every certificate, otherwise only those whose issuer name contains it (any letter
// case). A certificate without "CN=" in its subject adds nothing, except that a later name
// is still preceded by "||" when it was not the first certificate found. The text is bounded
// by an 8192-byte working buffer: the list stops after the last name that fits whole before
// the terminator. Fails when the store cannot be opened or no certificate matches.
// *text is a new[] array (caller frees with delete[]) ending in a zero byte that *length does
// not count; on failure neither out-parameter is written.
bool CoreGetCertList(const char* issuer, char** text, int* length);

// Picks a certificate of "MY" and hands it out inside a PKCS#7 signed message (Base64) whose
// content is the current time in seconds since 1970 as decimal digits, signed with the
// certificate's private key. Empty issuer: the first certificate whose subject contains cn in
// any letter case. Otherwise the first certificate of that issuer (any letter case) whose
// X.500 subject string holds the exact bytes of cn (any certificate of the issuer when cn is
// empty). Fails when nothing is selected or the message cannot be made (no usable key, PIN
// refused). Out-parameters as for CoreGetCertList.
bool CoreGetCert(const char* issuer, const char* cn, char** text, int* length);

// UTF-16 form of a zero-terminated ANSI text (system code page). False only when memory runs
// out; a text the code page cannot convert gives the empty string.
bool AnsiToWideString(const char* text, std::wstring& wide);

// Base64 of a PKCS#7 signed-data message over the content (embedded), MD5 digest, the signer's
// certificate included, no attributes, signed with the certificate's private key. The content
// may be empty and may hold zero bytes. Out-parameters as for CoreGetCertList.
bool BuildSignedMessage(PCCERT_CONTEXT cert, const BYTE* content, DWORD contentLength, char** text, int* length);

// "MY" of the current user, opened for one operation; CloseMyStore closes it with the check
// flag. OpenMyStore gives null when the store cannot be opened.
HCERTSTORE OpenMyStore();
void CloseMyStore(HCERTSTORE store);

// The first certificate of "MY" whose subject contains text in any letter case, searching after
// previous (released by the call) or from the start; null when none is left.
PCCERT_CONTEXT FindBySubjectText(HCERTSTORE store, const std::wstring& text, PCCERT_CONTEXT previous);

// The next certificate of "MY" after previous (released by the call; null: from the start)
// whose issuer name holds lowerIssuer, which must be in lower case, in any letter case.
PCCERT_CONTEXT FindByIssuerText(HCERTSTORE store, const std::wstring& lowerIssuer, PCCERT_CONTEXT previous);
// Lower case for the comparison above (CharLowerBuffW).
void LowerCase(std::wstring& text);

// Guards for one operation's store and certificate; the certificate is released before the
// store is closed when both are declared in that order (store first).
struct StoreGuard {
    HCERTSTORE store = nullptr;
    ~StoreGuard() { if (store) CloseMyStore(store); }
};

struct CertGuard {
    PCCERT_CONTEXT cert = nullptr;
    ~CertGuard() { if (cert) CertFreeCertificateContext(cert); }
};
