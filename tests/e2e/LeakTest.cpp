// Leaks of the module and the virtual device library: repeated
// C_Initialize/C_Finalize cycles with work left unfinished in sessions that
// are closed, or left open for C_Finalize to clear. Under AddressSanitizer,
// LeakSanitizer checks the whole process at exit; any block lost fails the
// program.
#include "E2eSupport.h"

namespace e2e {
namespace {

const char pin[] = "51627384";

// One session's worth of work, every operation left half done.
void leaveWorkUnfinished(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE rsaPrivate, CK_OBJECT_HANDLE rsaPublic) {
    CK_BYTE data[64] = {9};
    CK_MECHANISM sha256{CKM_SHA256, nullptr, 0};
    EXPECT_EQ(p11()->C_DigestInit(session, &sha256), CKR_OK);
    EXPECT_EQ(p11()->C_DigestUpdate(session, data, sizeof data), CKR_OK);
    // Sign started and fed, never finished; another session verifies halfway.
    CK_SESSION_HANDLE second = CK_INVALID_HANDLE;
    CK_SLOT_ID slot = slotOf("LEAK0001");
    ASSERT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &second), CKR_OK);
    CK_MECHANISM signing{CKM_SHA256_RSA_PKCS, nullptr, 0};
    EXPECT_EQ(p11()->C_SignInit(second, &signing, rsaPrivate), CKR_OK);
    EXPECT_EQ(p11()->C_SignUpdate(second, data, sizeof data), CKR_OK);
    CK_SESSION_HANDLE third = CK_INVALID_HANDLE;
    ASSERT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &third), CKR_OK);
    EXPECT_EQ(p11()->C_VerifyInit(third, &signing, rsaPublic), CKR_OK);
    EXPECT_EQ(p11()->C_VerifyUpdate(third, data, sizeof data), CKR_OK);
    // A search and a decryption left open, a sign size query not followed up.
    CK_SESSION_HANDLE fourth = CK_INVALID_HANDLE;
    ASSERT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &fourth), CKR_OK);
    EXPECT_EQ(p11()->C_FindObjectsInit(fourth, nullptr, 0), CKR_OK);
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    CK_BYTE encrypted[128];
    CK_ULONG encryptedLength = sizeof encrypted;
    EXPECT_EQ(p11()->C_FindObjectsFinal(fourth), CKR_OK);
    EXPECT_EQ(p11()->C_EncryptInit(fourth, &rsa, rsaPublic), CKR_OK);
    EXPECT_EQ(p11()->C_Encrypt(fourth, data, 32, encrypted, &encryptedLength), CKR_OK);
    EXPECT_EQ(p11()->C_DecryptInit(fourth, &rsa, rsaPrivate), CKR_OK);
    CK_ULONG plainLength = 0;
    EXPECT_EQ(p11()->C_Decrypt(fourth, encrypted, encryptedLength, nullptr, &plainLength), CKR_OK);
    // Closed: the digest and signing in these two; the rest goes with C_Finalize.
    EXPECT_EQ(p11()->C_CloseSession(session), CKR_OK);
    EXPECT_EQ(p11()->C_CloseSession(second), CKR_OK);
}

TEST(LeakTest, InitialiseFinaliseCyclesWithUnfinishedWorkLoseNothing) {
    createDevice("LEAK0001", pin);
    ensureInitialised();
    CK_SESSION_HANDLE setup = openSession("LEAK0001");
    ASSERT_EQ(login(setup, pin), CKR_OK);
    CK_OBJECT_HANDLE rsaPublic = 0, rsaPrivate = 0;
    ASSERT_EQ(generateRsaKeyPair(setup, "leak", &rsaPublic, &rsaPrivate), CKR_OK);
    ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);

    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
        CK_SESSION_HANDLE session = openSession("LEAK0001");
        ASSERT_EQ(login(session, pin), CKR_OK);
        leaveWorkUnfinished(session, rsaPrivate, rsaPublic);
        ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);
    }
    // Leave the module initialised for the tests that follow.
    ensureInitialised();
}

}  // namespace
}  // namespace e2e
