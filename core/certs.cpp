#include "certs.h"

#include "base64.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const size_t kListBufferSize = 8192;
const char kSeparator[] = "||";
const size_t kSeparatorLength = sizeof(kSeparator) - 1;
char kMd5Oid[] = "1.2.840.113549.2.5";

// The parameter block without its optional CMS fields: 68 bytes on x86.
const DWORD kSignParaSize = offsetof(CRYPT_SIGN_MESSAGE_PARA, dwInnerContentType) + sizeof(DWORD);
#if defined(__i386__) || defined(_M_IX86)
static_assert(kSignParaSize == 68, "CRYPT_SIGN_MESSAGE_PARA without CMS fields is 68 bytes on x86");
static_assert(sizeof(CRYPT_SIGN_MESSAGE_PARA) >= 68, "CRYPT_SIGN_MESSAGE_PARA layout");
#endif

// The subject name in X.500 form ("C=CN, O=Example, CN=Alice") as ANSI text; null when it
// cannot be made. The caller frees it with delete[].
char* SubjectString(PCCERT_CONTEXT cert)
{
    DWORD size = CertNameToStrA(kEncoding, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, nullptr, 0);
    if (size == 0)
        return nullptr;
    char* subject = new (std::nothrow) char[size + 1];
    if (!subject)
        return nullptr;
    DWORD written = CertNameToStrA(kEncoding, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, subject, size);
    subject[written < size ? written : size] = '\0';
    return subject;
}

struct TextGuard {
    char* text = nullptr;
    ~TextGuard() { delete[] text; }
};

// The current time as decimal seconds since 1970-01-01 00:00:00 UTC, without terminator in
// the count.
int TimeContent(char (&digits)[32])
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const unsigned long long unixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns ticks since 1601
    const unsigned long long seconds = ticks > unixEpoch ? (ticks - unixEpoch) / 10000000ULL : 0;
    int n = std::snprintf(digits, sizeof(digits), "%llu", seconds);
    return n > 0 && n < static_cast<int>(sizeof(digits)) ? n : 0;
}

// Whether the certificate's issuer name in simple form ("CN, Example, Example Root CA") holds
// lowerText (already in lower case) in any letter case: the match of CERT_FIND_ISSUER_STR_W.
bool IssuerContains(PCCERT_CONTEXT cert, const std::wstring& lowerText)
{
    DWORD size = CertNameToStrW(kEncoding, &cert->pCertInfo->Issuer, CERT_SIMPLE_NAME_STR, nullptr, 0);
    if (size == 0)
        return false;
    wchar_t* name = new (std::nothrow) wchar_t[size + 1];
    if (!name)
        return false;
    DWORD written = CertNameToStrW(kEncoding, &cert->pCertInfo->Issuer, CERT_SIMPLE_NAME_STR, name, size);
    name[written < size ? written : size] = L'\0';
    CharLowerBuffW(name, static_cast<DWORD>(wcslen(name)));
    const bool found = wcsstr(name, lowerText.c_str()) != nullptr;
    delete[] name;
    return found;
}

} // namespace

void LowerCase(std::wstring& text)
{
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
}

PCCERT_CONTEXT FindByIssuerText(HCERTSTORE store, const std::wstring& lowerIssuer, PCCERT_CONTEXT previous)
{
    // Walked and compared here rather than with CERT_FIND_ISSUER_STR_W: Wine's search of that
    // kind compares the subject name instead of the issuer name.
    PCCERT_CONTEXT cert = previous;
    while ((cert = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_ANY, nullptr, cert)))
        if (IssuerContains(cert, lowerIssuer))
            return cert;
    return nullptr;
}

namespace {

// The first certificate of the issuer whose X.500 subject string holds cn byte for byte.
PCCERT_CONTEXT FindByIssuerAndSubjectBytes(HCERTSTORE store, const std::wstring& lowerIssuer, const char* cn)
{
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = FindByIssuerText(store, lowerIssuer, cert))) {
        if (!*cn)
            return cert;
        TextGuard subject;
        subject.text = SubjectString(cert);
        if (subject.text && std::strstr(subject.text, cn))
            return cert;
    }
    return nullptr;
}

} // namespace

HCERTSTORE OpenMyStore()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
}

void CloseMyStore(HCERTSTORE store)
{
    CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG);
}

PCCERT_CONTEXT FindBySubjectText(HCERTSTORE store, const std::wstring& text, PCCERT_CONTEXT previous)
{
    return CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_STR_W, text.c_str(), previous);
}

bool AnsiToWideString(const char* text, std::wstring& wide)
{
    try {
        wide.clear();
        if (!text)
            return true;
        int count = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (count <= 0)
            return true;
        std::wstring buffer(static_cast<size_t>(count) + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, text, -1, &buffer[0], count);
        buffer.resize(wcslen(buffer.c_str()));
        wide.swap(buffer);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool BuildSignedMessage(PCCERT_CONTEXT cert, const BYTE* content, DWORD contentLength, char** text, int* length)
{
    if (!cert || !text || !length || (!content && contentLength))
        return false;
    // A zero-length part still needs a pointer the platform may look at.
    const BYTE empty = 0;
    const BYTE* parts[1] = {content ? content : &empty};
    DWORD partLengths[1] = {contentLength};

    CRYPT_SIGN_MESSAGE_PARA para;
    std::memset(&para, 0, sizeof(para));
    para.cbSize = kSignParaSize;
    para.dwMsgEncodingType = kEncoding;
    para.pSigningCert = cert;
    para.HashAlgorithm.pszObjId = kMd5Oid;
    para.HashAlgorithm.Parameters.cbData = 0;
    para.HashAlgorithm.Parameters.pbData = nullptr;
    para.pvHashAuxInfo = nullptr;
    PCCERT_CONTEXT messageCerts[1] = {cert};
    para.cMsgCert = 1;
    para.rgpMsgCert = messageCerts;
    para.cMsgCrl = 0;
    para.cAuthAttr = 0;
    para.rgAuthAttr = nullptr;
    para.cUnauthAttr = 0;
    para.dwFlags = 0;
    para.dwInnerContentType = 0;

    DWORD size = 0;
    if (!CryptSignMessage(&para, FALSE, 1, parts, partLengths, nullptr, &size) || size == 0)
        return false;
    TextGuard message;
    message.text = new (std::nothrow) char[size + 1];
    if (!message.text)
        return false;
    BYTE* der = reinterpret_cast<BYTE*>(message.text);
    if (!CryptSignMessage(&para, FALSE, 1, parts, partLengths, der, &size))
        return false;

    long capacity = Base64EncodedLength(size);
    if (capacity < 0 || capacity > 0x7FFFFFFE)
        return false;
    char* out = new (std::nothrow) char[capacity + 1];
    if (!out)
        return false;
    size_t written = 0;
    if (!EncodeBase64(der, size, out, static_cast<size_t>(capacity), &written)) {
        delete[] out;
        return false;
    }
    out[written] = '\0';
    *text = out;
    *length = static_cast<int>(written);
    return true;
}

bool CoreGetCertList(const char* issuer, char** text, int* length)
{
    if (!text || !length)
        return false;
    char list[kListBufferSize] = {};
    StoreGuard store;
    store.store = OpenMyStore();
    if (!store.store)
        return false;
    std::wstring wideIssuer;
    if (!AnsiToWideString(issuer, wideIssuer))
        return false;
    LowerCase(wideIssuer);
    const bool anyIssuer = !issuer || !*issuer;

    size_t used = 0;
    size_t position = 0;
    PCCERT_CONTEXT cert = nullptr;
    for (;; ++position) {
        cert = anyIssuer ? CertFindCertificateInStore(store.store, kEncoding, 0, CERT_FIND_ANY, nullptr, cert)
                         : FindByIssuerText(store.store, wideIssuer, cert);
        if (!cert)
            break;
        TextGuard subject;
        subject.text = SubjectString(cert);
        const char* name = subject.text ? std::strstr(subject.text, "CN=") : nullptr;
        if (!name)
            continue;
        name += 3;
        const char* end = std::strchr(name, ',');
        const size_t nameLength = end ? static_cast<size_t>(end - name) : std::strlen(name);
        // Only whole entries: the list ends before the first one that would pass the
        // terminator's place, so it never skips a name and lists a later one.
        const size_t needed = nameLength + (position ? kSeparatorLength : 0);
        if (needed > kListBufferSize - 1 - used) {
            CertFreeCertificateContext(cert);
            ++position;
            break;
        }
        if (position) {
            std::memcpy(list + used, kSeparator, kSeparatorLength);
            used += kSeparatorLength;
        }
        std::memcpy(list + used, name, nameLength);
        used += nameLength;
    }
    if (position == 0)
        return false;

    char* out = new (std::nothrow) char[used + 1];
    if (!out)
        return false;
    std::memcpy(out, list, used);
    out[used] = '\0';
    *text = out;
    *length = static_cast<int>(used);
    return true;
}

bool CoreGetCert(const char* issuer, const char* cn, char** text, int* length)
{
    if (!text || !length)
        return false;
    char digits[32];
    const int contentLength = TimeContent(digits);
    if (contentLength == 0)
        return false;
    BYTE content[32] = {};
    std::memcpy(content, digits, static_cast<size_t>(contentLength));

    StoreGuard store;
    store.store = OpenMyStore();
    if (!store.store)
        return false;
    std::wstring wideIssuer, wideCn;
    if (!AnsiToWideString(issuer, wideIssuer) || !AnsiToWideString(cn, wideCn))
        return false;
    LowerCase(wideIssuer);

    CertGuard cert;
    if (!issuer || !*issuer)
        cert.cert = FindBySubjectText(store.store, wideCn, nullptr);
    else
        cert.cert = FindByIssuerAndSubjectBytes(store.store, wideIssuer, cn ? cn : "");
    if (!cert.cert)
        return false;
    return BuildSignedMessage(cert.cert, content, static_cast<DWORD>(contentLength), text, length);
}
