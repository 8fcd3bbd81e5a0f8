// The soft token's PKCS#11 module, loaded by name as the key monitor loads a key's library.
#include <windows.h>

#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
#include "pkcs11types.h"

namespace {

class P11 : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("QuorvanSoftP11.dll");
        ASSERT_NE(module_, nullptr);
        auto get = reinterpret_cast<CK_RV(QV_CK_CALL*)(CK_FUNCTION_LIST**)>(
            reinterpret_cast<void (*)()>(GetProcAddress(module_, "C_GetFunctionList")));
        ASSERT_NE(get, nullptr);
        EXPECT_EQ(get(nullptr), CKR_ARGUMENTS_BAD);
        ASSERT_EQ(get(&f_), CKR_OK);
        ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override {
        if (f_) f_->C_Finalize(nullptr);
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
    CK_FUNCTION_LIST* f_ = nullptr;
};

}  // namespace

TEST_F(P11, InfoSlotAndTokenWhilePresent) {
    EXPECT_EQ(f_->version.major, 2);
    EXPECT_EQ(f_->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    CK_INFO info;
    ASSERT_EQ(f_->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.cryptokiVersion.minor, 20);
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_GetSlotList(1, nullptr, &count), CKR_OK);
    ASSERT_EQ(count, 1u);
    CK_SLOT_ID slot = 0;
    ASSERT_EQ(f_->C_GetSlotList(1, &slot, &count), CKR_OK);
    CK_SLOT_INFO si;
    ASSERT_EQ(f_->C_GetSlotInfo(slot, &si), CKR_OK);
    EXPECT_TRUE(si.flags & CKF_TOKEN_PRESENT);
    EXPECT_EQ(f_->C_GetSlotInfo(slot + 5, &si), CKR_SLOT_ID_INVALID);
    CK_TOKEN_INFO ti;
    ASSERT_EQ(f_->C_GetTokenInfo(slot, &ti), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ti.label), 18), "Quorvan Soft Token");
    CK_SESSION_HANDLE s = 0;
    EXPECT_EQ(f_->C_OpenSession(slot, 0, nullptr, nullptr, &s), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    ASSERT_EQ(f_->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    EXPECT_EQ(f_->C_CloseSession(s), CKR_OK);
    EXPECT_EQ(f_->C_CloseSession(s), CKR_SESSION_HANDLE_INVALID);
    // Everything else answers "not supported".
    EXPECT_EQ(reinterpret_cast<CK_RV(QV_CK_CALL*)(CK_SESSION_HANDLE, void*, CK_ULONG)>(
                  reinterpret_cast<void (*)()>(f_->C_Login))(s, nullptr, 0),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(f_->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f_->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
}

TEST_F(P11, EachPresenceChangeByAnotherProcessReportedOnce) {
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(f_->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
    ASSERT_EQ(RunToolCode("remove"), 0);
    EXPECT_EQ(f_->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_OK);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(f_->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
    CK_ULONG count = 5;
    CK_SLOT_ID slots[1];
    EXPECT_EQ(f_->C_GetSlotList(1, slots, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    CK_TOKEN_INFO ti;
    EXPECT_EQ(f_->C_GetTokenInfo(1, &ti), CKR_TOKEN_NOT_PRESENT);
    CK_SESSION_HANDLE s = 0;
    EXPECT_EQ(f_->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_TOKEN_NOT_PRESENT);
    ASSERT_EQ(RunToolCode("insert"), 0);
    // Blocking mode sees the insertion that has already happened.
    slot = 0;
    EXPECT_EQ(f_->C_WaitForSlotEvent(0, &slot, nullptr), CKR_OK);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(f_->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_NO_EVENT);
}

TEST_F(P11, BlockedWaitEndsWithFinalize) {
    struct Args { CK_FUNCTION_LIST* f; CK_RV rv; } args{f_, 0};
    struct Waiter {
        static DWORD WINAPI Run(void* p) {
            auto* a = static_cast<Args*>(p);
            CK_SLOT_ID slot;
            a->rv = a->f->C_WaitForSlotEvent(0, &slot, nullptr);
            return 0;
        }
    };
    HANDLE t = CreateThread(nullptr, 0, Waiter::Run, &args, 0, nullptr);
    Sleep(200);
    EXPECT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(args.rv, CKR_CRYPTOKI_NOT_INITIALIZED);
    CloseHandle(t);
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
}
