// End-to-end tests: the built module loaded by path, running on the virtual
// device library's code. The test program carries the library's functions
// itself and exports them, so the module binds to this copy and the tests
// reach the store's test hooks (write faults) in the same process.
//
// Every run gets a private folder: the store ($ZELMOR_SIM_HOME), the
// temporary folder the module logs under, and the log-level setting (3).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pkcs11.h"

namespace e2e {

const std::string& runFolder();
std::string storeFolder();
std::string logFolder();  // where the module's log files go

CK_FUNCTION_LIST_PTR p11();
void ensureInitialised();

// A plugged device in the store, made through the library's administration code.
void createDevice(const std::string& serial, const std::string& pin, uint32_t capacity = 32);

// The slot of the device with this serial number, or 0.
CK_SLOT_ID slotOf(const std::string& serial);
CK_SESSION_HANDLE openSession(const std::string& serial);
std::vector<CK_OBJECT_HANDLE> findObjects(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass);
std::string labelOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);
// C_Logout, then C_Login as the user.
CK_RV login(CK_SESSION_HANDLE session, const std::string& pin);

// An EC P-256 key pair with this label; returns the result code.
CK_RV generateEcKeyPair(CK_SESSION_HANDLE session, const std::string& label, CK_OBJECT_HANDLE* publicKey,
                        CK_OBJECT_HANDLE* privateKey);
CK_RV generateRsaKeyPair(CK_SESSION_HANDLE session, const std::string& label, CK_OBJECT_HANDLE* publicKey,
                         CK_OBJECT_HANDLE* privateKey);
CK_RV signOnce(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey, CK_MECHANISM_TYPE mechanism);
// A self-signed certificate's DER, made with libcrypto.
std::vector<uint8_t> selfSignedCertificate(const std::string& commonName);
CK_RV importCertificate(CK_SESSION_HANDLE session, const std::vector<uint8_t>& der, const std::string& label,
                        CK_OBJECT_HANDLE* handle);

// Every regular file below folder (recursively), as paths.
std::vector<std::string> filesBelow(const std::string& folder);
std::string readFile(const std::string& path);
unsigned modeOf(const std::string& path);

}  // namespace e2e
