// Fixture of the cryptographic-operation tests: the default device holds an
// RSA-2048 (number 0), an EC P-256 (1) and an RSA-1024 (2) key pair; a
// read-write session is open and the user is logged in.
#pragma once

#include <string>
#include <vector>

#include "ModuleTest.h"

namespace crypto_tests {

using Bytes = std::vector<uint8_t>;

constexpr CK_OBJECT_HANDLE rsaKey = 0x70000000;
constexpr CK_OBJECT_HANDLE ecKey = 0x70000001;
constexpr CK_OBJECT_HANDLE rsa1024Key = 0x70000002;
constexpr CK_OBJECT_HANDLE rsaPublicKey = 0x70001000;
constexpr CK_OBJECT_HANDLE missingKey = 0x70000009;

// C_Sign, C_Digest, C_Encrypt and C_Decrypt share this shape.
using OneCall = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);

class CryptoTest : public testing_support::ModuleTest {
protected:
    void SetUp() override;

    CK_RV signInit(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key = rsaKey);
    CK_RV verifyInit(CK_MECHANISM_TYPE mechanism, CK_OBJECT_HANDLE key = rsaKey);
    CK_RV digestInit(CK_MECHANISM_TYPE mechanism);
    CK_RV encryptInit(CK_OBJECT_HANDLE key = rsaKey);
    CK_RV decryptInit(CK_OBJECT_HANDLE key = rsaKey);

    CK_RV call(OneCall function, Bytes data, CK_BYTE_PTR out, CK_ULONG* length);
    // Two-call output: length query, then fetch.
    Bytes callTwice(OneCall function, const Bytes& data);
    Bytes signAll(const Bytes& data) { return callTwice(f()->C_Sign, data); }
    Bytes digestAll(const Bytes& data) { return callTwice(f()->C_Digest, data); }

    CK_SESSION_HANDLE publicReadOnlySession();

    // Log lines of this test (the log is emptied in SetUp).
    bool hasDebugLine(const std::string& text) const { return logMentions("->DEBUG ::=>" + text + "\n"); }
    bool hasErrorLine(const std::string& text) const { return logMentions("->ERROR ::=>" + text + "\n"); }
    bool logMentions(const std::string& text) const;

    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

// Device calls made for the test, without the monitor thread's polling.
std::size_t deviceCalls();

Bytes bytesOf(const std::string& text);
Bytes identifierOf(uint32_t number);  // the fake's key-pair identifier
Bytes publicValueOf(const ZelmorKeyPair& keyPair);
// The fake's stand-in digest of data for a hash algorithm identifier, as the
// module receives it from zelmor_finalHash.
Bytes fakeDigestOf(int32_t algorithm, const Bytes& data);
CK_BYTE_PTR ptr(Bytes& bytes);

}  // namespace crypto_tests
