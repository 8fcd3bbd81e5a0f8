// The PKCS#11 v2.20 types used by the USB key monitor and the soft token's module, declared from
// the published standard with the Windows conventions: 1-byte structure packing, cdecl
// functions, 32-bit CK_ULONG.
#pragma once

#include <cstddef>
#include <cstdint>

#define QV_CK_CALL __cdecl

#pragma pack(push, 1)

typedef unsigned char CK_BYTE;
typedef CK_BYTE CK_BBOOL;
typedef CK_BYTE CK_UTF8CHAR;
typedef std::uint32_t CK_ULONG;
typedef CK_ULONG CK_FLAGS;
typedef CK_ULONG CK_RV;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef void* CK_VOID_PTR;

struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
};

struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
};

struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
};

struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_BYTE serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_UTF8CHAR utcTime[16];
};

struct CK_SESSION_INFO {
    CK_SLOT_ID slotID;
    CK_ULONG state;
    CK_FLAGS flags;
    CK_ULONG ulDeviceError;
};

typedef CK_RV(QV_CK_CALL* CK_NOTIFY)(CK_SESSION_HANDLE, CK_ULONG, CK_VOID_PTR);
struct CK_FUNCTION_LIST;

// Functions that are called or implemented here carry their real types; the others share one
// type (the soft token answers them all with the same "not supported" function).
typedef CK_RV(QV_CK_CALL* CK_ANY_FN)();

struct CK_FUNCTION_LIST {
    CK_VERSION version;
    CK_RV(QV_CK_CALL* C_Initialize)(CK_VOID_PTR);
    CK_RV(QV_CK_CALL* C_Finalize)(CK_VOID_PTR);
    CK_RV(QV_CK_CALL* C_GetInfo)(CK_INFO*);
    CK_RV(QV_CK_CALL* C_GetFunctionList)(CK_FUNCTION_LIST**);
    CK_RV(QV_CK_CALL* C_GetSlotList)(CK_BBOOL, CK_SLOT_ID*, CK_ULONG*);
    CK_RV(QV_CK_CALL* C_GetSlotInfo)(CK_SLOT_ID, CK_SLOT_INFO*);
    CK_RV(QV_CK_CALL* C_GetTokenInfo)(CK_SLOT_ID, CK_TOKEN_INFO*);
    CK_ANY_FN C_GetMechanismList, C_GetMechanismInfo, C_InitToken, C_InitPIN, C_SetPIN;
    CK_RV(QV_CK_CALL* C_OpenSession)(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY,
                                     CK_SESSION_HANDLE*);
    CK_RV(QV_CK_CALL* C_CloseSession)(CK_SESSION_HANDLE);
    CK_RV(QV_CK_CALL* C_CloseAllSessions)(CK_SLOT_ID);
    CK_RV(QV_CK_CALL* C_GetSessionInfo)(CK_SESSION_HANDLE, CK_SESSION_INFO*);
    CK_ANY_FN C_GetOperationState, C_SetOperationState, C_Login, C_Logout;
    CK_ANY_FN C_CreateObject, C_CopyObject, C_DestroyObject, C_GetObjectSize;
    CK_ANY_FN C_GetAttributeValue, C_SetAttributeValue;
    CK_ANY_FN C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal;
    CK_ANY_FN C_EncryptInit, C_Encrypt, C_EncryptUpdate, C_EncryptFinal;
    CK_ANY_FN C_DecryptInit, C_Decrypt, C_DecryptUpdate, C_DecryptFinal;
    CK_ANY_FN C_DigestInit, C_Digest, C_DigestUpdate, C_DigestKey, C_DigestFinal;
    CK_ANY_FN C_SignInit, C_Sign, C_SignUpdate, C_SignFinal, C_SignRecoverInit, C_SignRecover;
    CK_ANY_FN C_VerifyInit, C_Verify, C_VerifyUpdate, C_VerifyFinal, C_VerifyRecoverInit,
        C_VerifyRecover;
    CK_ANY_FN C_DigestEncryptUpdate, C_DecryptDigestUpdate, C_SignEncryptUpdate,
        C_DecryptVerifyUpdate;
    CK_ANY_FN C_GenerateKey, C_GenerateKeyPair, C_WrapKey, C_UnwrapKey, C_DeriveKey;
    CK_ANY_FN C_SeedRandom, C_GenerateRandom, C_GetFunctionStatus, C_CancelFunction;
    CK_RV(QV_CK_CALL* C_WaitForSlotEvent)(CK_FLAGS, CK_SLOT_ID*, CK_VOID_PTR);
};

#pragma pack(pop)

// The library's one entry point, found by name.
typedef CK_RV(QV_CK_CALL* CK_C_GetFunctionList)(CK_FUNCTION_LIST**);

// 68 functions after the version, in the published order.
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 2, "packing");
static_assert(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) == 2 + 67 * sizeof(void*),
              "function order");
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * sizeof(void*), "function count");
#if defined(__i386__)
// The byte offsets a 32-bit USB key library lays its list out with.
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 2, "x86 layout");
static_assert(offsetof(CK_FUNCTION_LIST, C_Finalize) == 6, "x86 layout");
static_assert(offsetof(CK_FUNCTION_LIST, C_OpenSession) == 50, "x86 layout");
static_assert(offsetof(CK_FUNCTION_LIST, C_CloseSession) == 54, "x86 layout");
static_assert(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) == 270, "x86 layout");
#endif
static_assert(sizeof(CK_INFO) == 72, "CK_INFO layout");
static_assert(sizeof(CK_SLOT_INFO) == 104, "CK_SLOT_INFO layout");
static_assert(sizeof(CK_TOKEN_INFO) == 160, "CK_TOKEN_INFO layout");
static_assert(sizeof(CK_SESSION_INFO) == 16, "CK_SESSION_INFO layout");

constexpr CK_RV CKR_OK = 0x00000000;
constexpr CK_RV CKR_HOST_MEMORY = 0x00000002;
constexpr CK_RV CKR_SLOT_ID_INVALID = 0x00000003;
constexpr CK_RV CKR_GENERAL_ERROR = 0x00000005;
constexpr CK_RV CKR_ARGUMENTS_BAD = 0x00000007;
constexpr CK_RV CKR_NO_EVENT = 0x00000008;
constexpr CK_RV CKR_FUNCTION_NOT_SUPPORTED = 0x00000054;
constexpr CK_RV CKR_DEVICE_REMOVED = 0x00000032;
constexpr CK_RV CKR_SESSION_HANDLE_INVALID = 0x000000B3;
constexpr CK_RV CKR_SESSION_PARALLEL_NOT_SUPPORTED = 0x000000B4;
constexpr CK_RV CKR_TOKEN_NOT_PRESENT = 0x000000E0;
constexpr CK_RV CKR_TOKEN_NOT_RECOGNIZED = 0x000000E1;
constexpr CK_RV CKR_BUFFER_TOO_SMALL = 0x00000150;
constexpr CK_RV CKR_CRYPTOKI_NOT_INITIALIZED = 0x00000190;
constexpr CK_RV CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x00000191;

constexpr CK_FLAGS CKF_TOKEN_PRESENT = 0x00000001;
constexpr CK_FLAGS CKF_REMOVABLE_DEVICE = 0x00000002;
constexpr CK_FLAGS CKF_HW_SLOT = 0x00000004;
constexpr CK_FLAGS CKF_RNG = 0x00000001;
constexpr CK_FLAGS CKF_LOGIN_REQUIRED = 0x00000004;
constexpr CK_FLAGS CKF_USER_PIN_INITIALIZED = 0x00000008;
constexpr CK_FLAGS CKF_TOKEN_INITIALIZED = 0x00000400;
constexpr CK_FLAGS CKF_USER_PIN_COUNT_LOW = 0x00010000;
constexpr CK_FLAGS CKF_USER_PIN_LOCKED = 0x00040000;
constexpr CK_FLAGS CKF_RW_SESSION = 0x00000002;
constexpr CK_FLAGS CKF_SERIAL_SESSION = 0x00000004;
constexpr CK_FLAGS CKF_DONT_BLOCK = 0x00000001;
constexpr CK_ULONG CKS_RO_PUBLIC_SESSION = 0;
constexpr CK_ULONG CKS_RW_PUBLIC_SESSION = 2;
constexpr CK_ULONG CK_EFFECTIVELY_INFINITE = 0;
