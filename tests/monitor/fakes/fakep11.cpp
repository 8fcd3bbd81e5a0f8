// A scripted PKCS#11 module for the monitor's tests. What it does is chosen by environment
// variables of the process that loads it, and what it was asked is written back to one:
//   FAKEP11_MODE    "events" (default), "getlist-fails", "init-fails", "wait-fails"
//   FAKEP11_EVENTS  one character per C_WaitForSlotEvent call: '.' no event, 'o' event with the
//                   token gone (C_OpenSession fails), 'i' event with the token present; once
//                   used up, no more events
//   FAKEP11_LOG     appended: I (C_Initialize), O+ / O- (C_OpenSession worked / failed),
//                   C (C_CloseSession), F (C_Finalize)
//   FAKEP11_WAITS   the number of C_WaitForSlotEvent calls so far
// Built a second time with FAKEP11_NO_ENTRY: a library without C_GetFunctionList.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pkcs11.h"

namespace {

std::string Env(const char* name) {
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

void Log(const char* what) {
    std::string log = Env("FAKEP11_LOG");
    if (log.size() < 3000) {
        log += what;
        SetEnvironmentVariableA("FAKEP11_LOG", log.c_str());
    }
}

#ifndef FAKEP11_NO_ENTRY

const std::string& Mode() {
    static const std::string mode = Env("FAKEP11_MODE");
    return mode;
}

constexpr CK_SLOT_ID kSlot = 7;
unsigned long g_waits = 0;
char g_pending = 0;  // the event whose session is being opened

CK_RV QV_CK_CALL NotSupported() { return CKR_FUNCTION_NOT_SUPPORTED; }

CK_RV QV_CK_CALL Initialize(CK_VOID_PTR) {
    Log("I");
    return Mode() == "init-fails" ? CKR_GENERAL_ERROR : CKR_OK;
}

CK_RV QV_CK_CALL Finalize(CK_VOID_PTR) {
    Log("F");
    return CKR_OK;
}

CK_RV QV_CK_CALL WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID* slot, CK_VOID_PTR) {
    const unsigned long index = g_waits++;
    char count[16];
    std::snprintf(count, sizeof count, "%lu", g_waits);
    SetEnvironmentVariableA("FAKEP11_WAITS", count);
    if (!(flags & CKF_DONT_BLOCK)) return CKR_ARGUMENTS_BAD;  // would block the poll cycle
    if (Mode() == "wait-fails") return CKR_FUNCTION_NOT_SUPPORTED;
    const std::string events = Env("FAKEP11_EVENTS");
    if (index >= events.size() || (events[index] != 'o' && events[index] != 'i')) return CKR_NO_EVENT;
    g_pending = events[index];
    *slot = kSlot;
    return CKR_OK;
}

CK_RV QV_CK_CALL OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE* session) {
    const bool ok = slot == kSlot && flags == (CKF_SERIAL_SESSION | CKF_RW_SESSION) && session != nullptr &&
                    *session == 0 && g_pending == 'i';
    Log(ok ? "O+" : "O-");
    if (!ok) return CKR_TOKEN_NOT_PRESENT;
    *session = 42;
    return CKR_OK;
}

CK_RV QV_CK_CALL CloseSession(CK_SESSION_HANDLE session) {
    Log(session == 42 ? "C" : "C?");
    return CKR_OK;
}

#define NS reinterpret_cast<CK_ANY_FN>(NotSupported)

CK_FUNCTION_LIST g_functions = {
    {2, 20}, Initialize, Finalize, nullptr, nullptr, nullptr, nullptr, nullptr, NS, NS, NS, NS, NS,
    OpenSession, CloseSession, nullptr, nullptr,
    // C_GetOperationState … C_CancelFunction: 51 functions.
    NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS,
    NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS, NS,
    WaitForSlotEvent,
};

#endif

}  // namespace

#ifdef FAKEP11_NO_ENTRY
extern "C" __declspec(dllexport) CK_RV QV_CK_CALL C_Initialize(CK_VOID_PTR) {
    Log("I");
    return CKR_OK;
}
#else
extern "C" __declspec(dllexport) CK_RV QV_CK_CALL C_GetFunctionList(CK_FUNCTION_LIST** list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    if (Mode() == "getlist-fails") return CKR_GENERAL_ERROR;
    *list = &g_functions;
    return CKR_OK;
}
#endif
