// The test fake of the device library: a programmable in-memory device model
// that records every call. Built as a shared library under the device
// library's own name, so the shipped module binary runs against it.
//
// Tests reach its state through fakeLibrary(); every access locks it, since
// the module's monitor thread calls into the fake concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ZelmorDSCLibrary.h"

#if defined(_WIN32)
#  if defined(ZELMOR_DSC_BUILDING_LIBRARY)
#    define FAKE_API __declspec(dllexport)
#  else
#    define FAKE_API __declspec(dllimport)
#  endif
#else
#  define FAKE_API __attribute__((visibility("default")))
#endif

// One recorded call: the operation's arguments, a field per meaning. Fields an
// operation does not take stay empty, zero or false.
struct FakeCall {
    std::string operation;  // "zelmor_signHash"
    std::string deviceName;
    std::string password;  // the password the call carries (the old one for a change)
    std::string newPassword, label, folder;  // changeUserPassword; updateKeyPairDetails; the CA file listing
    std::vector<std::string> extensions;     // the CA file listing
    ZelmorBytes identifier;  // the key pair or certificate the call names
    ZelmorBytes data;        // the input hashed, signed, verified, encrypted or decrypted
    ZelmorBytes hashed;      // finalHash: all the data the context received
    ZelmorBytes der;         // the certificate parsed
    ZelmorBytes id;          // updateKeyPairDetails: the new CKA_ID bytes
    ZelmorBytes publicKey, signature;  // verifySignatureHash (and encrypt: the public key)
    int64_t length = 0;        // the length argument of updateHash, updateKeyPairDetails (ID) and generateRamdomNumber
    int64_t outputLength = 0;  // the output length offered to signHash and finalHash
    int64_t hashAlgorithm = 0, userType = 0, keyKind = 0;  // initHash; validatePassword; verifySignatureHash
    int64_t encryptionType = 0, paddingMode = 0;           // encrypt
    bool refresh = false, fullInit = false;  // getConnectedDeviceList; initDevice
    bool keyFlag = false;                    // deleteKeyPair, decrypt
    bool signFlag = false, randomFlag = false, changeFlag1 = false, changeFlag2 = false;  // signHash; random; change
    ZelmorInstance instance = nullptr;
    ZelmorKeyPair keyPair{};         // generateKeyPair input
    ZelmorCertificate certificate{};  // importCertificate input
    ImportPFXDetails pfx{};           // importPfx input
};

struct FakeDevice {
    TokenInfo tokenInfo{};  // serialNumber defaults to the device name
    std::string pin = "12345678";
    int32_t remainingTries = 10;
    std::vector<ZelmorKeyPair> keyPairs;
    std::vector<ZelmorCertificate> certificates;
};

// What the certificate parsing operations answer for one DER value.
struct FakeCertificateInfo {
    CertificateDetails details{};
    ZelmorBytes subject, issuer, serial;
};

struct FakeState {
    bool createInstanceGivesNull = false;
    std::vector<std::string> connected;  // the connected-device list, in this order
    std::map<std::string, FakeDevice> devices;
    // A result forced for an operation (by its full name), replacing its behaviour.
    std::map<std::string, int32_t> forcedResults;
    // A result forced for the n-th call (from 1, counted over the recorded
    // calls) of an operation only; the other calls behave as usual.
    std::map<std::string, std::map<std::size_t, int32_t>> forcedResultsOnCall;
    // Run on the caller's thread, outside the fake's lock, when the operation
    // (by its full name) is entered: lets a test hold a call inside the
    // library, or act while the module waits for the device. The monitor
    // asks for the connected-device list under the module's session lock:
    // that hook must not call into the module.
    std::map<std::string, std::function<void()>> duringCall;
    // Output bytes for signHash, finalHash, encrypt, decrypt, generateRamdomNumber.
    std::map<std::string, ZelmorBytes> outputs;
    std::map<ZelmorBytes, FakeCertificateInfo> certificateInfo;
    ZelmorFileList caFiles;
    std::vector<FakeCall> calls;
    int liveHashContexts = 0;
    // A misbehaving library: the output length signHash, finalHash or encrypt
    // report after a success, whatever they wrote; decrypt reports it with no buffer.
    std::map<std::string, uint32_t> reportedLengths;
    // zelmor_decrypt hands out a plaintext buffer even when its result is forced.
    bool decryptAllocatesOnFailure = false;
    uint32_t nextIdentifier = 1;
};

class FAKE_API FakeLibrary {
public:
    // No devices, no forced results, no recorded calls.
    void reset();
    // Runs edit on the state under the fake's lock.
    void edit(const std::function<void(FakeState&)>& edit);

    // A connected device named name (appended to the connected list).
    void addDevice(const std::string& name, const std::string& pin = "12345678");
    void setConnected(const std::vector<std::string>& names);
    void setResult(const std::string& operation, int32_t result);
    void setOutput(const std::string& operation, const ZelmorBytes& bytes);
    void addKeyPair(const std::string& device, const ZelmorKeyPair& keyPair);
    void addCertificate(const std::string& device, const ZelmorCertificate& certificate);

    std::vector<FakeCall> calls(const std::string& operation = std::string()) const;
    std::size_t callCount(const std::string& operation) const;
    void clearCalls();
    int liveHashContexts() const;
};

FAKE_API FakeLibrary& fakeLibrary();

// Builders for records with sensible contents.
FAKE_API ZelmorKeyPair makeFakeKeyPair(uint32_t number, uint32_t keyKind, const std::string& label,
                                       const ZelmorBytes& id);
FAKE_API ZelmorCertificate makeFakeCertificate(uint32_t number, const ZelmorBytes& der, const std::string& label,
                                               const ZelmorBytes& id);
