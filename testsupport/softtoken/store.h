// The soft token's persistent state: one token per Windows user, kept in the user's registry
// hive (HKCU\Software\Quorvan\SoftToken) so that every process of the user sees the same token.
// RSA keys live in containers of the platform's enhanced RSA provider whose names are derived
// from ours; the registry keeps what that provider cannot (label, PIN, presence, certificates).
//
// Functions return 0 or a Win32/CryptoAPI error code, in the manner of GetLastError.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace softtoken {

constexpr const char* kProviderName = "Quorvan Soft Token CSP";
constexpr const char* kCspFileName = "QuorvanSoftCsp.dll";
constexpr const char* kP11FileName = "QuorvanSoftP11.dll";
constexpr const char* kBackingProvider = "Microsoft Enhanced Cryptographic Provider v1.0";
constexpr const char* kDefaultLabel = "Quorvan Soft Token";
constexpr const char* kDefaultPin = "1234";
constexpr const char* kDefaultContainer = "default";
constexpr DWORD kMaxRetries = 5;
constexpr DWORD kMinBits = 512;
constexpr DWORD kMaxBits = 4096;
constexpr size_t kMaxPinLength = 64;
constexpr size_t kMaxNameLength = 128;

struct TokenState {
    bool initialised = false;
    bool present = false;
    std::string label;
    DWORD retriesLeft = 0;
    DWORD serial = 0;  // counts presence changes
    std::string defaultContainer;  // empty when there is none
};

// Reads the token; state.initialised is false when no token was ever made.
DWORD ReadToken(TokenState& state);
// 0 when the token exists and is plugged in; SCARD_E_NO_SMARTCARD or SCARD_W_REMOVED_CARD else.
DWORD NeedToken();

// Erases every container and makes a fresh token whose default container holds an
// AT_KEYEXCHANGE key of `bits` bits.
DWORD InitialiseToken(const std::string& label, const std::string& pin, DWORD bits);
DWORD SetPresent(bool present);

// 0 for the right PIN (which resets the retry counter), SCARD_W_WRONG_CHV for a wrong one
// (counted), SCARD_W_CHV_BLOCKED once the counter has reached zero.
DWORD CheckPin(const std::string& pin);

// Pre-authorisation: a PIN remembered in a volatile key, which lasts for the user's session.
DWORD SetPreauthorisedPin(const std::string& pin);  // empty pin clears it
bool IsPreauthorised();

bool IsValidContainerName(const std::string& name);
std::string BackingContainerName(const std::string& name);
std::vector<std::string> ListContainers();
bool ContainerExists(const std::string& name);
DWORD CreateContainer(const std::string& name);  // NTE_EXISTS when it is there already
DWORD DeleteContainer(const std::string& name);  // NTE_BAD_KEYSET when it is missing

// Generates or replaces the key of one type (AT_KEYEXCHANGE or AT_SIGNATURE); a replaced key's
// certificate is dropped with it.
DWORD GenerateKey(const std::string& container, DWORD keySpec, DWORD bits, bool exportable);
// Imports a PRIVATEKEYBLOB; the blob's algorithm decides the key type unless `keySpec` is given.
DWORD ImportPrivateKey(const std::string& container, const BYTE* blob, DWORD size, DWORD keySpec,
                       bool exportable);
// Bits of the key of one type, 0 when the container has none.
DWORD KeyBits(const std::string& container, DWORD keySpec);

DWORD GetCertificate(const std::string& container, DWORD keySpec, std::vector<BYTE>& der);
DWORD SetCertificate(const std::string& container, DWORD keySpec, const BYTE* der, DWORD size);
DWORD ClearCertificate(const std::string& container, DWORD keySpec);

}  // namespace softtoken
