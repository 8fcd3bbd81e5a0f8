// QuorvanSoftP11.dll: the soft token's PKCS#11 module. One slot, which holds the soft token while
// it is plugged in; slot events follow the token's presence as any process changes it.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <set>

#include "pkcs11types.h"
#include "store.h"

namespace {

constexpr CK_SLOT_ID kSlot = 1;
constexpr DWORD kPollMs = 50;

std::mutex g_lock;
bool g_initialised = false;
DWORD g_reportedSerial = 0;  // presence changes already reported by C_WaitForSlotEvent
HANDLE g_finalised = nullptr;  // set by C_Finalize to release blocked waits
std::set<CK_SESSION_HANDLE> g_sessions;
CK_SESSION_HANDLE g_nextSession = 1;

void Pad(CK_UTF8CHAR* field, size_t size, const char* text) {
    std::memset(field, ' ', size);
    size_t n = std::strlen(text);
    std::memcpy(field, text, n < size ? n : size);
}

softtoken::TokenState Token() {
    softtoken::TokenState state;
    softtoken::ReadToken(state);
    return state;
}

bool Present() {
    softtoken::TokenState state = Token();
    return state.initialised && state.present;
}

CK_RV QV_CK_CALL NotSupported() { return CKR_FUNCTION_NOT_SUPPORTED; }

CK_RV QV_CK_CALL Initialize(CK_VOID_PTR) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_initialised) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    g_finalised = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_finalised) return CKR_HOST_MEMORY;
    g_reportedSerial = Token().serial;
    g_initialised = true;
    return CKR_OK;
}

CK_RV QV_CK_CALL Finalize(CK_VOID_PTR reserved) {
    if (reserved) return CKR_ARGUMENTS_BAD;
    HANDLE event;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
        g_initialised = false;
        g_sessions.clear();
        event = g_finalised;
        g_finalised = nullptr;
    }
    SetEvent(event);
    // Blocked waiters hold their own duplicate of the handle; closing ours is safe.
    CloseHandle(event);
    return CKR_OK;
}

CK_RV QV_CK_CALL GetInfo(CK_INFO* info) {
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!info) return CKR_ARGUMENTS_BAD;
    info->cryptokiVersion = {2, 20};
    Pad(info->manufacturerID, sizeof(info->manufacturerID), "Quorvan");
    info->flags = 0;
    Pad(info->libraryDescription, sizeof(info->libraryDescription), "Quorvan Soft Token");
    info->libraryVersion = {1, 0};
    return CKR_OK;
}

CK_RV QV_CK_CALL GetFunctionList(CK_FUNCTION_LIST** list);

CK_RV QV_CK_CALL GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* slots, CK_ULONG* count) {
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (!count) return CKR_ARGUMENTS_BAD;
    CK_ULONG n = (!tokenPresent || Present()) ? 1 : 0;
    if (!slots) {
        *count = n;
        return CKR_OK;
    }
    if (*count < n) {
        *count = n;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (n) slots[0] = kSlot;
    *count = n;
    return CKR_OK;
}

CK_RV QV_CK_CALL GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot != kSlot) return CKR_SLOT_ID_INVALID;
    if (!info) return CKR_ARGUMENTS_BAD;
    Pad(info->slotDescription, sizeof(info->slotDescription), "Quorvan Soft Token Slot");
    Pad(info->manufacturerID, sizeof(info->manufacturerID), "Quorvan");
    info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (Present() ? CKF_TOKEN_PRESENT : 0);
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    return CKR_OK;
}

CK_RV QV_CK_CALL GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot != kSlot) return CKR_SLOT_ID_INVALID;
    if (!info) return CKR_ARGUMENTS_BAD;
    softtoken::TokenState state = Token();
    if (!state.initialised || !state.present) return CKR_TOKEN_NOT_PRESENT;
    std::memset(info, 0, sizeof(*info));
    Pad(info->label, sizeof(info->label), state.label.c_str());
    Pad(info->manufacturerID, sizeof(info->manufacturerID), "Quorvan");
    Pad(info->model, sizeof(info->model), "SoftToken");
    Pad(info->serialNumber, sizeof(info->serialNumber), "0000000000000001");
    info->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    if (state.retriesLeft == 0) info->flags |= CKF_USER_PIN_LOCKED;
    else if (state.retriesLeft < softtoken::kMaxRetries) info->flags |= CKF_USER_PIN_COUNT_LOW;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        info->ulSessionCount = static_cast<CK_ULONG>(g_sessions.size());
    }
    info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    info->ulMaxPinLen = static_cast<CK_ULONG>(softtoken::kMaxPinLength);
    info->ulMinPinLen = 1;
    info->ulTotalPublicMemory = info->ulFreePublicMemory = 0xFFFFFFFF;  // unavailable
    info->ulTotalPrivateMemory = info->ulFreePrivateMemory = 0xFFFFFFFF;
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 0};
    Pad(info->utcTime, sizeof(info->utcTime), "");
    return CKR_OK;
}

CK_RV QV_CK_CALL OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                             CK_SESSION_HANDLE* session) {
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot != kSlot) return CKR_SLOT_ID_INVALID;
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    if (!Present()) return CKR_TOKEN_NOT_PRESENT;
    std::lock_guard<std::mutex> hold(g_lock);
    *session = g_nextSession++;
    g_sessions.insert(*session);
    return CKR_OK;
}

CK_RV QV_CK_CALL CloseSession(CK_SESSION_HANDLE session) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return g_sessions.erase(session) ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

CK_RV QV_CK_CALL CloseAllSessions(CK_SLOT_ID slot) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
    if (slot != kSlot) return CKR_SLOT_ID_INVALID;
    g_sessions.clear();
    return CKR_OK;
}

CK_RV QV_CK_CALL GetSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO* info) {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
        if (!g_sessions.count(session)) return CKR_SESSION_HANDLE_INVALID;
    }
    if (!info) return CKR_ARGUMENTS_BAD;
    if (!Present()) return CKR_DEVICE_REMOVED;
    info->slotID = kSlot;
    info->state = CKS_RO_PUBLIC_SESSION;
    info->flags = CKF_SERIAL_SESSION;
    info->ulDeviceError = 0;
    return CKR_OK;
}

// One event per change of presence: the token's change counter against the last one reported.
bool TakeEvent() {
    DWORD serial = Token().serial;
    std::lock_guard<std::mutex> hold(g_lock);
    if (serial == g_reportedSerial) return false;
    g_reportedSerial = serial;
    return true;
}

CK_RV QV_CK_CALL WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, CK_VOID_PTR reserved) {
    if (!slot || reserved) return CKR_ARGUMENTS_BAD;
    HANDLE finalised = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_initialised) return CKR_CRYPTOKI_NOT_INITIALIZED;
        if (!DuplicateHandle(GetCurrentProcess(), g_finalised, GetCurrentProcess(), &finalised,
                             0, FALSE, DUPLICATE_SAME_ACCESS))
            return CKR_GENERAL_ERROR;
    }
    CK_RV rv = CKR_NO_EVENT;
    for (;;) {
        if (TakeEvent()) {
            *slot = kSlot;
            rv = CKR_OK;
            break;
        }
        if (flags & CKF_DONT_BLOCK) break;
        if (WaitForSingleObject(finalised, kPollMs) == WAIT_OBJECT_0) {
            rv = CKR_CRYPTOKI_NOT_INITIALIZED;
            break;
        }
    }
    CloseHandle(finalised);
    return rv;
}

#define QV_NS reinterpret_cast<CK_ANY_FN>(NotSupported)

CK_FUNCTION_LIST g_functions = {
    {2, 20},        Initialize,     Finalize,         GetInfo,        GetFunctionList,
    GetSlotList,    GetSlotInfo,    GetTokenInfo,     QV_NS,          QV_NS,
    QV_NS,          QV_NS,          QV_NS,            OpenSession,    CloseSession,
    CloseAllSessions, GetSessionInfo,
    // C_GetOperationState … C_CancelFunction: 51 functions.
    QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS,
    QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS,
    QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS,
    QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS, QV_NS,
    WaitForSlotEvent,
};

CK_RV QV_CK_CALL GetFunctionList(CK_FUNCTION_LIST** list) {
    if (!list) return CKR_ARGUMENTS_BAD;
    *list = &g_functions;
    return CKR_OK;
}

}  // namespace

extern "C" __declspec(dllexport) CK_RV QV_CK_CALL C_GetFunctionList(CK_FUNCTION_LIST** list) {
    return GetFunctionList(list);
}
