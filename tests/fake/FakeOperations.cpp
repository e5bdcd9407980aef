// The 28 device operations of the fake. Each records its call, then answers
// with a forced result if the test set one, else with the device model.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "FakeDeviceLibrary.h"
#include "FakeInternal.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using Lock = std::lock_guard<std::mutex>;
int instanceToken;
constexpr int32_t genericFailure = 1;

std::string text(const char* value) { return value != nullptr ? std::string(value) : std::string(); }

ZelmorBytes bytes(const uint8_t* data, std::size_t length) {
    return data != nullptr ? ZelmorBytes(data, data + length) : ZelmorBytes();
}

FakeCall& record(FakeState& state, const char* operation, ZelmorInstance instance) {
    FakeCall call;
    call.operation = operation;
    call.instance = instance;
    state.calls.push_back(call);
    return state.calls.back();
}

// Runs the test's hook for operation without holding the fake's lock.
void runDuringCall(const char* operation) {
    std::function<void()> hook;
    {
        Lock guard(fakeMutex());
        auto found = fakeState().duringCall.find(operation);
        if (found != fakeState().duringCall.end()) hook = found->second;
    }
    if (hook) hook();
}

bool forced(FakeState& state, const char* operation, int32_t* result) {
    auto byCall = state.forcedResultsOnCall.find(operation);
    if (byCall != state.forcedResultsOnCall.end()) {
        std::size_t made = static_cast<std::size_t>(std::count_if(
            state.calls.begin(), state.calls.end(), [&](const FakeCall& call) { return call.operation == operation; }));
        auto onThisCall = byCall->second.find(made);
        if (onThisCall != byCall->second.end()) {
            *result = onThisCall->second;
            return true;
        }
    }
    auto found = state.forcedResults.find(operation);
    if (found == state.forcedResults.end()) return false;
    *result = found->second;
    return true;
}

// The device if it exists and is connected.
FakeDevice* connectedDevice(FakeState& state, const std::string& name) {
    if (std::find(state.connected.begin(), state.connected.end(), name) == state.connected.end()) return nullptr;
    auto found = state.devices.find(name);
    return found == state.devices.end() ? nullptr : &found->second;
}

void newIdentifier(FakeState& state, uint8_t* identifier) {
    uint32_t value = state.nextIdentifier++;
    for (std::size_t i = 0; i < zelmorIdentifierSize; ++i) identifier[i] = static_cast<uint8_t>((value >> (8 * (i % 4))) + i);
}

template <typename Record>
uint32_t lowestFreeNumber(const std::vector<Record>& records) {
    uint32_t number = 0;
    while (std::any_of(records.begin(), records.end(), [&](const Record& r) { return r.number == number; })) ++number;
    return number;
}

// Writes output into a caller buffer of *length bytes.
int32_t writeOutput(const ZelmorBytes& output, uint8_t* buffer, uint32_t* length) {
    if (output.size() > *length) return genericFailure;
    if (!output.empty()) std::memcpy(buffer, output.data(), output.size());
    *length = static_cast<uint32_t>(output.size());
    return ZelmorResult::ok;
}

ZelmorBytes outputOr(FakeState& state, const char* operation, const ZelmorBytes& fallback) {
    auto found = state.outputs.find(operation);
    return found != state.outputs.end() ? found->second : fallback;
}

struct FakeHashContext {
    int32_t algorithm;
    ZelmorBytes data;
};

std::size_t digestLength(int32_t algorithm) {
    switch (algorithm) {
        case hashSha1: return 20;
        case hashSha384: return 48;
        case hashSha512: return 64;
        default: return 32;
    }
}

// A deterministic stand-in digest (not cryptographic): equal data, equal digest.
ZelmorBytes fakeDigest(int32_t algorithm, const ZelmorBytes& data) {
    uint64_t hash = 1469598103934665603ULL ^ static_cast<uint64_t>(algorithm);
    ZelmorBytes digest(digestLength(algorithm));
    for (std::size_t i = 0; i < digest.size(); ++i) {
        for (uint8_t byte : data) hash = (hash ^ byte) * 1099511628211ULL;
        hash = (hash ^ i) * 1099511628211ULL;
        digest[i] = static_cast<uint8_t>(hash >> 24);
    }
    return digest;
}

template <typename Record>
Record* byIdentifier(std::vector<Record>& records, const uint8_t* identifier) {
    if (identifier == nullptr) return nullptr;
    for (Record& record : records) {
        if (std::memcmp(record.identifier, identifier, zelmorIdentifierSize) == 0) return &record;
    }
    return nullptr;
}

void* allocateOnProcessHeap(std::size_t size) {
#if defined(_WIN32)
    return HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
#else
    return std::malloc(size == 0 ? 1 : size);
#endif
}

}  // namespace

void zelmor_createInstance(ZelmorInstance* instance) {
    runDuringCall("zelmor_createInstance");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    record(state, "zelmor_createInstance", nullptr);
    *instance = state.createInstanceGivesNull ? nullptr : &instanceToken;
}

void zelmor_releaseInstance(ZelmorInstance instance) {
    runDuringCall("zelmor_releaseInstance");
    Lock guard(fakeMutex());
    record(fakeState(), "zelmor_releaseInstance", instance);
}

std::vector<std::string> zelmor_getConnectedDeviceList(bool refresh, ZelmorInstance instance) {
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    record(state, "zelmor_getConnectedDeviceList", instance).flag = refresh;
    if (instance == nullptr) return {};
    return state.connected;
}

TokenInfo zelmor_getTokenInfo(const char* deviceName, ZelmorInstance instance) {
    runDuringCall("zelmor_getTokenInfo");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    record(state, "zelmor_getTokenInfo", instance).deviceName = text(deviceName);
    auto found = state.devices.find(text(deviceName));
    return found == state.devices.end() ? TokenInfo{} : found->second.tokenInfo;
}

int32_t zelmor_initDevice(const char* deviceName, bool full, ZelmorInstance instance) {
    runDuringCall("zelmor_initDevice");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_initDevice", instance);
    call.deviceName = text(deviceName);
    call.flag = full;
    int32_t result = 0;
    if (forced(state, "zelmor_initDevice", &result)) return result;
    return connectedDevice(state, text(deviceName)) ? ZelmorResult::ok : ZelmorResult::deviceNotConnected;
}

int32_t zelmor_validatePassword(const char* deviceName, const char* password, int32_t userType, int32_t* retryCount,
                                ZelmorInstance instance) {
    runDuringCall("zelmor_validatePassword");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_validatePassword", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.number = userType;
    int32_t result = 0;
    if (forced(state, "zelmor_validatePassword", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    if (device->remainingTries > 0 && device->pin == text(password)) {
        device->remainingTries = 10;
        device->tokenInfo.remainingPinAttempts = 10;
        return ZelmorResult::ok;
    }
    if (device->remainingTries > 0) --device->remainingTries;
    device->tokenInfo.remainingPinAttempts = device->remainingTries;
    *retryCount = device->remainingTries;
    return genericFailure;
}

bool zelmor_changeUserPassword(const char* deviceName, const char* oldPassword, const char* newPassword,
                               int32_t* retryCount, bool flag1, bool flag2, ZelmorInstance instance) {
    runDuringCall("zelmor_changeUserPassword");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_changeUserPassword", instance);
    call.deviceName = text(deviceName);
    call.password = text(oldPassword);
    call.text = text(newPassword);
    call.flag = flag1 || flag2;
    int32_t result = 0;
    if (forced(state, "zelmor_changeUserPassword", &result)) return result == 0;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr || device->pin != text(oldPassword)) {
        if (retryCount != nullptr) *retryCount = device != nullptr ? device->remainingTries : 0;
        return false;
    }
    device->pin = text(newPassword);
    return true;
}

const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char* deviceName, ZelmorInstance instance) {
    // Valid until this thread's next call, like the library's own list.
    thread_local std::vector<ZelmorKeyPair> list;
    runDuringCall("zelmor_getKeyPairList");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    record(state, "zelmor_getKeyPairList", instance).deviceName = text(deviceName);
    FakeDevice* device = connectedDevice(state, text(deviceName));
    list = device != nullptr ? device->keyPairs : std::vector<ZelmorKeyPair>();
    return list;
}

const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char* deviceName, ZelmorInstance instance) {
    thread_local std::vector<ZelmorCertificate> list;
    runDuringCall("zelmor_getCertificateList");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    record(state, "zelmor_getCertificateList", instance).deviceName = text(deviceName);
    FakeDevice* device = connectedDevice(state, text(deviceName));
    list = device != nullptr ? device->certificates : std::vector<ZelmorCertificate>();
    return list;
}

namespace {
template <typename Field>
ZelmorBytes certificatePart(const char* operation, const uint8_t* der, int32_t derLength, ZelmorInstance instance,
                            Field field) {
    runDuringCall(operation);
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    ZelmorBytes value = bytes(der, derLength > 0 ? static_cast<std::size_t>(derLength) : 0);
    record(state, operation, instance).data = value;
    auto found = state.certificateInfo.find(value);
    return found == state.certificateInfo.end() ? ZelmorBytes() : field(found->second);
}
}  // namespace

ZelmorBytes zelmor_getCertificateSubject(const uint8_t* der, int32_t derLength, ZelmorInstance instance) {
    return certificatePart("zelmor_getCertificateSubject", der, derLength, instance,
                           [](const FakeCertificateInfo& info) { return info.subject; });
}

ZelmorBytes zelmor_getCertificateIssuer(const uint8_t* der, int32_t derLength, ZelmorInstance instance) {
    return certificatePart("zelmor_getCertificateIssuer", der, derLength, instance,
                           [](const FakeCertificateInfo& info) { return info.issuer; });
}

ZelmorBytes zelmor_getCertificateSerialDER(const uint8_t* der, int32_t derLength, ZelmorInstance instance) {
    return certificatePart("zelmor_getCertificateSerialDER", der, derLength, instance,
                           [](const FakeCertificateInfo& info) { return info.serial; });
}

int32_t zelmor_getCertificateDetails(const uint8_t* der, int32_t derLength, CertificateDetails* details,
                                     ZelmorInstance instance) {
    runDuringCall("zelmor_getCertificateDetails");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    ZelmorBytes value = bytes(der, derLength > 0 ? static_cast<std::size_t>(derLength) : 0);
    record(state, "zelmor_getCertificateDetails", instance).data = value;
    int32_t result = 0;
    if (forced(state, "zelmor_getCertificateDetails", &result)) return result;
    auto found = state.certificateInfo.find(value);
    if (found == state.certificateInfo.end()) return genericFailure;
    if (found->second.detailsResult == 0) *details = found->second.details;
    return found->second.detailsResult;
}

ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char* folder, const std::vector<std::string>& extensions,
                                                          ZelmorInstance instance) {
    runDuringCall("zelmor_getFilesWithExtensionsAndConvertDER");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_getFilesWithExtensionsAndConvertDER", instance);
    call.text = text(folder);
    for (const std::string& extension : extensions) call.deviceName += extension + ";";
    return state.caFiles;
}

int32_t zelmor_importCertificate(const char* deviceName, const char* password, ZelmorCertificate* certificate,
                                 ZelmorInstance instance) {
    runDuringCall("zelmor_importCertificate");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_importCertificate", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.certificate = *certificate;
    int32_t result = 0;
    if (forced(state, "zelmor_importCertificate", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorCertificate stored = *certificate;
    stored.number = lowestFreeNumber(device->certificates);
    newIdentifier(state, stored.identifier);
    std::memcpy(certificate->identifier, stored.identifier, zelmorIdentifierSize);
    device->certificates.push_back(stored);
    return ZelmorResult::ok;
}

int32_t zelmor_importPfx(const char* deviceName, const char* password, ImportPFXDetails* details,
                         ZelmorInstance instance) {
    runDuringCall("zelmor_importPfx");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_importPfx", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.pfx = *details;
    int32_t result = 0;
    if (forced(state, "zelmor_importPfx", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorKeyPair keyPair = makeFakeKeyPair(lowestFreeNumber(device->keyPairs), keyKindRsa2048, details->label, details->id);
    newIdentifier(state, keyPair.identifier);
    std::size_t modulusLength = std::min(details->modulus.size(), zelmorPublicValueSize);
    if (modulusLength > 0) std::memcpy(keyPair.publicValue, details->modulus.data(), modulusLength);
    keyPair.publicValueLength = static_cast<int32_t>(modulusLength);
    details->keyPairIdentifier.assign(keyPair.identifier, keyPair.identifier + zelmorIdentifierSize);
    device->keyPairs.push_back(keyPair);
    return ZelmorResult::ok;
}

int32_t zelmor_generateKeyPair(const char* deviceName, const char* password, ZelmorKeyPair* keyPair,
                               ZelmorInstance instance) {
    runDuringCall("zelmor_generateKeyPair");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_generateKeyPair", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.keyPair = *keyPair;
    int32_t result = 0;
    if (forced(state, "zelmor_generateKeyPair", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorKeyPair generated =
        makeFakeKeyPair(lowestFreeNumber(device->keyPairs), keyPair->keyKind, "", ZelmorBytes());
    newIdentifier(state, generated.identifier);
    generated.idLength = keyPair->idLength;
    std::memcpy(generated.id, keyPair->id, sizeof generated.id);
    std::memcpy(generated.label, keyPair->label, sizeof generated.label);
    generated.usageFlags = keyPair->usageFlags;
    *keyPair = generated;
    device->keyPairs.push_back(generated);
    return ZelmorResult::ok;
}

int32_t zelmor_updateKeyPairDetails(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                                    const char* label, const uint8_t* id, int32_t idLength, ZelmorInstance instance) {
    runDuringCall("zelmor_updateKeyPairDetails");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_updateKeyPairDetails", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.identifier = bytes(keyPairIdentifier, zelmorIdentifierSize);
    call.text = text(label);
    call.data = bytes(id, idLength > 0 ? static_cast<std::size_t>(idLength) : 0);
    call.number = idLength;
    int32_t result = 0;
    if (forced(state, "zelmor_updateKeyPairDetails", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorKeyPair* keyPair = byIdentifier(device->keyPairs, keyPairIdentifier);
    if (keyPair == nullptr) return genericFailure;
    std::memset(keyPair->label, 0, sizeof keyPair->label);
    std::strncpy(keyPair->label, text(label).c_str(), zelmorLabelSize);
    std::size_t length = std::min<std::size_t>(call.data.size(), zelmorIdSize);
    std::memset(keyPair->id, 0, sizeof keyPair->id);
    if (length > 0) std::memcpy(keyPair->id, call.data.data(), length);
    keyPair->idLength = static_cast<int32_t>(length);
    return ZelmorResult::ok;
}

int32_t zelmor_deleteKeyPair(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                             bool keyFlag, ZelmorInstance instance) {
    runDuringCall("zelmor_deleteKeyPair");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_deleteKeyPair", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.identifier = bytes(keyPairIdentifier, zelmorIdentifierSize);
    call.flag = keyFlag;
    int32_t result = 0;
    if (forced(state, "zelmor_deleteKeyPair", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorKeyPair* keyPair = byIdentifier(device->keyPairs, keyPairIdentifier);
    if (keyPair == nullptr) return genericFailure;
    device->keyPairs.erase(device->keyPairs.begin() + (keyPair - device->keyPairs.data()));
    return ZelmorResult::ok;
}

int32_t zelmor_deleteCertificate(const char* deviceName, const uint8_t* certificateIdentifier, const char* password,
                                 ZelmorInstance instance) {
    runDuringCall("zelmor_deleteCertificate");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_deleteCertificate", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.identifier = bytes(certificateIdentifier, zelmorIdentifierSize);
    int32_t result = 0;
    if (forced(state, "zelmor_deleteCertificate", &result)) return result;
    FakeDevice* device = connectedDevice(state, text(deviceName));
    if (device == nullptr) return ZelmorResult::deviceNotConnected;
    ZelmorCertificate* certificate = byIdentifier(device->certificates, certificateIdentifier);
    if (certificate == nullptr) return genericFailure;
    device->certificates.erase(device->certificates.begin() + (certificate - device->certificates.data()));
    return ZelmorResult::ok;
}

int32_t zelmor_initHash(const char* deviceName, int32_t hashAlgorithm, ZelmorHashContext* context,
                        ZelmorInstance instance) {
    runDuringCall("zelmor_initHash");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_initHash", instance);
    call.deviceName = text(deviceName);
    call.number = hashAlgorithm;
    int32_t result = 0;
    if (forced(state, "zelmor_initHash", &result)) return result;
    *context = new FakeHashContext{hashAlgorithm, {}};
    ++state.liveHashContexts;
    return ZelmorResult::ok;
}

int32_t zelmor_updateHash(ZelmorHashContext context, const uint8_t* data, uint32_t length, ZelmorInstance instance) {
    runDuringCall("zelmor_updateHash");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_updateHash", instance);
    call.data = bytes(data, length);
    call.number = length;
    int32_t result = 0;
    if (forced(state, "zelmor_updateHash", &result)) return result;
    if (context == nullptr) return genericFailure;
    auto* hash = static_cast<FakeHashContext*>(context);
    hash->data.insert(hash->data.end(), call.data.begin(), call.data.end());
    return ZelmorResult::ok;
}

int32_t zelmor_finalHash(ZelmorHashContext context, uint8_t* output, uint32_t* length, ZelmorInstance instance) {
    runDuringCall("zelmor_finalHash");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_finalHash", instance);
    call.number2 = *length;
    int32_t result = 0;
    if (forced(state, "zelmor_finalHash", &result)) {
        // The context is finished whatever the result.
        if (context != nullptr) {
            delete static_cast<FakeHashContext*>(context);
            --state.liveHashContexts;
        }
        return result;
    }
    if (context == nullptr) return genericFailure;
    auto* hash = static_cast<FakeHashContext*>(context);
    call.data = hash->data;
    ZelmorBytes digest = outputOr(state, "zelmor_finalHash", fakeDigest(hash->algorithm, hash->data));
    delete hash;
    --state.liveHashContexts;
    // A length of 0 on the way in is output only: digesting offers 128 bytes so.
    if (*length == 0) *length = 128;
    return writeOutput(digest, output, length);
}

int32_t zelmor_signHash(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                        const uint8_t* data, uint32_t dataLength, uint8_t* signature, uint32_t* signatureLength,
                        bool flag, ZelmorInstance instance) {
    runDuringCall("zelmor_signHash");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_signHash", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.identifier = bytes(keyPairIdentifier, zelmorIdentifierSize);
    call.data = bytes(data, dataLength);
    call.number2 = *signatureLength;
    call.flag = flag;
    int32_t result = 0;
    if (forced(state, "zelmor_signHash", &result)) return result;
    ZelmorBytes fallback(64);
    for (std::size_t i = 0; i < fallback.size(); ++i) fallback[i] = static_cast<uint8_t>(dataLength + i);
    return writeOutput(outputOr(state, "zelmor_signHash", fallback), signature, signatureLength);
}

int32_t zelmor_verifySignatureHash(uint32_t keyKind, const char* deviceName, const uint8_t* data, uint32_t dataLength,
                                   const uint8_t* publicValue, uint32_t publicValueLength, const uint8_t* signature,
                                   uint32_t signatureLength, ZelmorInstance instance) {
    runDuringCall("zelmor_verifySignatureHash");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_verifySignatureHash", instance);
    call.deviceName = text(deviceName);
    call.number = keyKind;
    call.data = bytes(data, dataLength);
    call.identifier = bytes(publicValue, publicValueLength);
    call.text.assign(reinterpret_cast<const char*>(signature), signature != nullptr ? signatureLength : 0);
    int32_t result = 0;
    if (forced(state, "zelmor_verifySignatureHash", &result)) return result;
    return ZelmorResult::ok;
}

int32_t zelmor_encrypt(int32_t encryptionType, int32_t paddingMode, const uint8_t* data, uint32_t dataLength,
                       uint8_t* output, uint32_t* outputLength, const uint8_t* publicKeyDer,
                       uint32_t publicKeyDerLength, ZelmorInstance instance) {
    runDuringCall("zelmor_encrypt");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_encrypt", instance);
    call.number = encryptionType;
    call.number2 = paddingMode;
    call.data = bytes(data, dataLength);
    call.identifier = bytes(publicKeyDer, publicKeyDerLength);
    int32_t result = 0;
    if (forced(state, "zelmor_encrypt", &result)) return result;
    ZelmorBytes fallback(call.data.rbegin(), call.data.rend());
    // The length is output only: the module offers a 1024-byte buffer.
    uint32_t capacity = zelmorOutputBufferSize;
    int32_t written = writeOutput(outputOr(state, "zelmor_encrypt", fallback), output, &capacity);
    *outputLength = capacity;
    return written;
}

int32_t zelmor_decrypt(const char* deviceName, const uint8_t* keyPairIdentifier, const char* password,
                       const uint8_t* data, uint32_t dataLength, uint8_t** output, uint32_t* outputLength,
                       bool keyFlag, ZelmorInstance instance) {
    runDuringCall("zelmor_decrypt");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_decrypt", instance);
    call.deviceName = text(deviceName);
    call.password = text(password);
    call.identifier = bytes(keyPairIdentifier, zelmorIdentifierSize);
    call.data = bytes(data, dataLength);
    call.flag = keyFlag;
    int32_t result = 0;
    bool failed = forced(state, "zelmor_decrypt", &result);
    if (failed && !state.decryptAllocatesOnFailure) return result;
    ZelmorBytes plain = outputOr(state, "zelmor_decrypt", ZelmorBytes(call.data.rbegin(), call.data.rend()));
    auto* buffer = static_cast<uint8_t*>(allocateOnProcessHeap(plain.size()));
    if (!plain.empty()) std::memcpy(buffer, plain.data(), plain.size());
    *output = buffer;
    *outputLength = static_cast<uint32_t>(plain.size());
    return failed ? result : ZelmorResult::ok;
}

int32_t zelmor_generateRamdomNumber(const char* deviceName, uint32_t length, uint8_t* output, bool flag,
                                    ZelmorInstance instance) {
    runDuringCall("zelmor_generateRamdomNumber");
    Lock guard(fakeMutex());
    FakeState& state = fakeState();
    FakeCall& call = record(state, "zelmor_generateRamdomNumber", instance);
    call.deviceName = text(deviceName);
    call.number = length;
    call.flag = flag;
    int32_t result = 0;
    if (forced(state, "zelmor_generateRamdomNumber", &result)) return result;
    for (uint32_t i = 0; i < length; ++i) output[i] = static_cast<uint8_t>(0x5A ^ i);
    return ZelmorResult::ok;
}
