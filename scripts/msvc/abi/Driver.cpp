// Loads the clang-cl-built module beside the MSVC-ABI fake device library and
// goes through initialise, slot list, token information, login, key-pair
// search, signing, verification, decryption and finalise; then unloads the module and asks the fake
// whether its own records and the heap are intact. Exit code 0 when all holds.
#include <windows.h>

#include <cstdio>
#include <string>

#include "pkcs11.h"

namespace {
int failures = 0;

void check(bool passed, const char* what) {
    std::fputs(passed ? "ok   " : "FAIL ", stdout);
    std::fputs(what, stdout);
    std::fputs("\n", stdout);
    if (!passed) ++failures;
}

std::string text(const CK_UTF8CHAR* field, std::size_t size) {
    std::string value(reinterpret_cast<const char*>(field), size);
    return value.substr(0, value.find_last_not_of(std::string(" \0", 2)) + 1);
}
}  // namespace

int main() {
    HMODULE fake = LoadLibraryA("ZelmorDSCLibrary.dll");
    HMODULE module = LoadLibraryA("ZelmorPKCS11Driver.dll");
    check(fake != nullptr && module != nullptr, "the module and the fake device library load");
    if (fake == nullptr || module == nullptr) return 1;
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(GetProcAddress(module, "C_GetFunctionList"));
    auto fakeStillIntact = reinterpret_cast<bool (*)()>(GetProcAddress(fake, "fakeStillIntact"));
    CK_FUNCTION_LIST_PTR p11 = nullptr;
    check(getFunctionList != nullptr && getFunctionList(&p11) == CKR_OK, "C_GetFunctionList");
    if (p11 == nullptr || fakeStillIntact == nullptr) return 1;

    check(p11->C_Initialize(nullptr) == CKR_OK, "C_Initialize");
    CK_SLOT_ID slots[4];
    CK_ULONG slotCount = 4;
    check(p11->C_GetSlotList(CK_TRUE, slots, &slotCount) == CKR_OK && slotCount == 1, "C_GetSlotList: one token");
    CK_TOKEN_INFO token{};
    check(p11->C_GetTokenInfo(slots[0], &token) == CKR_OK, "C_GetTokenInfo");
    check(text(token.serialNumber, sizeof token.serialNumber) == "MSVC-ABI-FAKE-01", "serial number of the fake");
    check(text(token.label, sizeof token.label) == "Token of the MSVC-ABI fake", "label of the fake");

    CK_SESSION_HANDLE session = 0;
    check(p11->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session) == CKR_OK, "C_OpenSession");
    CK_UTF8CHAR pin[] = "12345678";
    check(p11->C_Login(session, CKU_USER, pin, 8) == CKR_OK, "C_Login");

    CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &privateKey, sizeof privateKey}};
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    check(p11->C_FindObjectsInit(session, search, 1) == CKR_OK && p11->C_FindObjects(session, &key, 1, &found) == CKR_OK &&
              p11->C_FindObjectsFinal(session) == CKR_OK && found == 1,
          "the key-pair list gives one private key");
    CK_UTF8CHAR label[64] = {};
    CK_ATTRIBUTE labelAttribute = {CKA_LABEL, label, sizeof label};
    check(p11->C_GetAttributeValue(session, key, &labelAttribute, 1) == CKR_OK &&
              text(label, labelAttribute.ulValueLen) == "key pair of the MSVC-ABI fake",
          "label of the key pair");

    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    CK_BYTE data[] = {0x5A, 1, 2, 3};
    CK_BYTE signature[512] = {};
    CK_ULONG signatureLength = sizeof signature;
    check(p11->C_SignInit(session, &mechanism, key) == CKR_OK &&
              p11->C_Sign(session, data, sizeof data, signature, &signatureLength) == CKR_OK &&
              signatureLength == 256 && signature[0] == 0x5A && signature[255] == 0x5A,
          "C_Sign returns the fake's signature");

    CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
    CK_ATTRIBUTE publicSearch[] = {{CKA_CLASS, &publicKey, sizeof publicKey}};
    CK_OBJECT_HANDLE verifyKey = 0;
    check(p11->C_FindObjectsInit(session, publicSearch, 1) == CKR_OK &&
              p11->C_FindObjects(session, &verifyKey, 1, &found) == CKR_OK &&
              p11->C_FindObjectsFinal(session) == CKR_OK && found == 1,
          "the key-pair list gives one public key");
    check(p11->C_VerifyInit(session, &mechanism, verifyKey) == CKR_OK &&
              p11->C_Verify(session, data, sizeof data, signature, signatureLength) == CKR_OK,
          "C_Verify accepts the fake's signature");
    signature[7] ^= 1;
    check(p11->C_VerifyInit(session, &mechanism, verifyKey) == CKR_OK &&
              p11->C_Verify(session, data, sizeof data, signature, signatureLength) == CKR_SIGNATURE_INVALID,
          "C_Verify rejects a changed signature");

    CK_BYTE plaintext[512] = {};
    CK_ULONG plaintextLength = sizeof plaintext;
    check(p11->C_DecryptInit(session, &mechanism, key) == CKR_OK &&
              p11->C_Decrypt(session, signature, signatureLength, plaintext, &plaintextLength) == CKR_OK &&
              text(plaintext, plaintextLength) == "plaintext of the MSVC-ABI fake",
          "C_Decrypt returns the fake's plaintext");

    check(p11->C_Finalize(nullptr) == CKR_OK, "C_Finalize");
    check(FreeLibrary(module) != FALSE, "the module unloads");
    check(fakeStillIntact(), "the fake's records and the heap are intact, its instance released once");
    std::fputs(failures == 0 ? "all checks passed\n" : "checks failed\n", stdout);
    return failures == 0 ? 0 : 1;
}
