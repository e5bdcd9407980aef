// The test fake: its state, its control interface and the 28 device operations.
// Every operation enters through one Entry, which runs the test's hook, records
// the call and looks up a forced result; unless one is forced, the operation
// answers from the device model.
#include "FakeDeviceLibrary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <numeric>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr int32_t ok = ZelmorResult::ok;
constexpr int32_t failure = 1;
int instanceToken;
FakeLibrary library;

struct Fake {
    std::mutex mutex;
    FakeState state;
};

// Made on first use, whatever the order of static initialisation, and never
// destroyed: the module's monitor thread may still call in at process exit.
Fake& fake() {
    static Fake& instance = *new Fake;
    return instance;
}

// The state under the fake's lock, held as long as this object lives.
struct Locked {
    std::lock_guard<std::mutex> guard{fake().mutex};
    FakeState& state = fake().state;
    FakeState* operator->() { return &state; }
};

template <typename Map>
auto lookUp(Map& map, const typename Map::key_type& key) -> decltype(&map.begin()->second) {
    auto found = map.find(key);
    return found != map.end() ? &found->second : nullptr;
}

std::size_t countCalls(const std::vector<FakeCall>& calls, const std::string& name) {
    return std::count_if(calls.begin(), calls.end(), [&](const FakeCall& call) { return call.operation == name; });
}

std::string text(const char* value) { return value != nullptr ? value : ""; }

ZelmorBytes bytes(const uint8_t* data, int64_t length) {
    return data != nullptr && length > 0 ? ZelmorBytes(data, data + length) : ZelmorBytes();
}

// Zeroes field and copies up to limit bytes of value into it; gives the length copied.
template <typename Field, std::size_t size, typename Value>
int32_t put(Field (&field)[size], const Value& value, std::size_t limit = size) {
    std::memset(field, 0, size);
    std::size_t length = std::min(value.size(), limit);
    if (length > 0) std::memcpy(field, value.data(), length);
    return static_cast<int32_t>(length);
}

// The record of a call of operation: its other arguments set by fill, and the
// device, password and key pair or certificate it names. Made on entry, before
// the test's hook runs.
FakeCall recorded(const char* operation, const std::function<void(FakeCall&)>& fill = nullptr,
                  const char* device = nullptr, const char* password = nullptr, const uint8_t* identifier = nullptr) {
    FakeCall call;
    call.operation = operation; call.deviceName = text(device); call.password = text(password);
    call.identifier = bytes(identifier, zelmorIdentifierSize);
    if (fill) fill(call);
    return call;
}

// One call of an operation: runs the test's hook outside the lock, records the
// call, then holds the lock until the operation returns.
class Entry {
public:
    Entry(FakeCall call, ZelmorInstance instance) {
        std::function<void()> during;
        if (Locked held; held->duringCall.count(call.operation) > 0) during = held->duringCall[call.operation];
        if (during) during();
        lock = std::unique_lock<std::mutex>(fake().mutex);
        call.instance = instance;
        state.calls.push_back(call);
        const auto* onCall = lookUp(state.forcedResultsOnCall, call.operation);
        forced = onCall != nullptr ? lookUp(*onCall, countCalls(state.calls, call.operation)) : nullptr;
        if (forced == nullptr) forced = lookUp(state.forcedResults, call.operation);
    }

    FakeCall& call() { return state.calls.back(); }
    // The call's device if it exists and is connected.
    FakeDevice* device() {
        bool connected = std::count(state.connected.begin(), state.connected.end(), call().deviceName) > 0;
        return connected ? lookUp(state.devices, call().deviceName) : nullptr;
    }
    // The forced result, else deviceNotConnected, else what model does with the device.
    template <typename Model>
    int32_t onDevice(Model model) {
        FakeDevice* found = forced != nullptr ? nullptr : device();
        return forced != nullptr ? *forced : found != nullptr ? model(*found) : ZelmorResult::deviceNotConnected;
    }
    ZelmorBytes output(const ZelmorBytes& fallback) {
        const ZelmorBytes* set = lookUp(state.outputs, call().operation);
        return set != nullptr ? *set : fallback;
    }
    // The result, with the output's length misreported after a success where the test set one.
    int32_t reported(int32_t result, uint32_t* length) {
        const uint32_t* set = lookUp(state.reportedLengths, call().operation);
        if (result == ok && set != nullptr) *length = *set;
        return result;
    }
    // Stores record under the lowest free number and a new identifier.
    template <typename Record>
    Record& store(std::vector<Record>& records, Record record) {
        auto taken = [&](const Record& other) { return other.number == record.number; };
        for (record.number = 0; std::any_of(records.begin(), records.end(), taken);) ++record.number;
        uint32_t n = state.nextIdentifier++;
        for (std::size_t i = 0; i < zelmorIdentifierSize; ++i) {
            record.identifier[i] = static_cast<uint8_t>((n >> (8 * (i % 4))) + i);
        }
        return records.emplace_back(record);
    }

    std::unique_lock<std::mutex> lock;
    FakeState& state = fake().state;
    const int32_t* forced = nullptr;  // points into the state, valid while the lock is held
};

template <typename Record>
typename std::vector<Record>::iterator byIdentifier(std::vector<Record>& records, const uint8_t* identifier) {
    return std::find_if(records.begin(), records.end(), [&](const Record& record) {
        return identifier != nullptr && std::memcmp(record.identifier, identifier, zelmorIdentifierSize) == 0;
    });
}

template <typename Record>
int32_t erase(std::vector<Record>& records, const uint8_t* identifier) {
    auto found = byIdentifier(records, identifier);
    if (found == records.end()) return failure;
    records.erase(found);
    return ok;
}

// A list valid until this thread's next call, like the library's own lists.
template <typename Record>
const std::vector<Record>& deviceList(const char* operation, const char* device, ZelmorInstance instance,
                                      std::vector<Record> FakeDevice::*list) {
    thread_local std::vector<Record> copy;
    Entry entry(recorded(operation, nullptr, device), instance);
    FakeDevice* found = entry.device();
    return copy = found != nullptr ? found->*list : std::vector<Record>();
}

ZelmorBytes certificatePart(const char* operation, const uint8_t* der, int32_t length, ZelmorInstance instance,
                            ZelmorBytes FakeCertificateInfo::*part) {
    Entry entry(recorded(operation, [&](FakeCall& call) { call.der = bytes(der, length); }), instance);
    const FakeCertificateInfo* info = lookUp(entry.state.certificateInfo, entry.call().der);
    return info != nullptr ? info->*part : ZelmorBytes();
}

// Writes output into a caller buffer of *length bytes.
int32_t writeOutput(const ZelmorBytes& output, uint8_t* buffer, uint32_t* length) {
    if (output.size() > *length) return failure;
    if (!output.empty()) std::memcpy(buffer, output.data(), output.size());
    *length = static_cast<uint32_t>(output.size());
    return ok;
}

ZelmorBytes reversed(const ZelmorBytes& data) { return ZelmorBytes(data.rbegin(), data.rend()); }

// The algorithm and the data hashed so far.
using FakeHashContext = std::pair<int32_t, ZelmorBytes>;

// A deterministic stand-in digest (not cryptographic): equal data, equal digest.
ZelmorBytes fakeDigest(int32_t algorithm, const ZelmorBytes& data) {
    uint64_t hash = 1469598103934665603ULL ^ static_cast<uint64_t>(algorithm);
    for (uint8_t byte : data) hash = (hash ^ byte) * 1099511628211ULL;
    ZelmorBytes digest(algorithm == hashSha1 ? 20 : algorithm == hashSha384 ? 48 : algorithm == hashSha512 ? 64 : 32);
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>((hash * (2 * i + 1)) >> 24);
    return digest;
}

}  // namespace

FakeLibrary& fakeLibrary() { return library; }

void FakeLibrary::reset() { Locked().state = FakeState(); }

void FakeLibrary::edit(const std::function<void(FakeState&)>& edit) { edit(Locked().state); }

void FakeLibrary::addDevice(const std::string& name, const std::string& pin) {
    FakeDevice device;
    device.pin = pin;
    TokenInfo& token = device.tokenInfo;
    token.serialNumber = name; token.label = "Fake token " + name; token.model = "Fake model";
    token.firmwareVersion = "1.0"; token.remainingPinAttempts = 10;
    Locked locked;
    locked->devices[name] = device;
    locked->connected.push_back(name);
}

void FakeLibrary::setConnected(const std::vector<std::string>& names) { Locked()->connected = names; }

void FakeLibrary::setResult(const std::string& name, int32_t result) { Locked()->forcedResults[name] = result; }

void FakeLibrary::setOutput(const std::string& name, const ZelmorBytes& bytes) { Locked()->outputs[name] = bytes; }

void FakeLibrary::addKeyPair(const std::string& device, const ZelmorKeyPair& keyPair) {
    Locked()->devices[device].keyPairs.push_back(keyPair);
}

void FakeLibrary::addCertificate(const std::string& device, const ZelmorCertificate& certificate) {
    Locked()->devices[device].certificates.push_back(certificate);
}

std::vector<FakeCall> FakeLibrary::calls(const std::string& name) const {
    Locked locked;
    std::vector<FakeCall> selected;
    std::copy_if(locked->calls.begin(), locked->calls.end(), std::back_inserter(selected),
                 [&](const FakeCall& call) { return name.empty() || call.operation == name; });
    return selected;
}

std::size_t FakeLibrary::callCount(const std::string& name) const { return countCalls(Locked()->calls, name); }

void FakeLibrary::clearCalls() { Locked()->calls.clear(); }

int FakeLibrary::liveHashContexts() const { return Locked()->liveHashContexts; }

ZelmorKeyPair makeFakeKeyPair(uint32_t number, uint32_t keyKind, const std::string& label, const ZelmorBytes& id) {
    static const int32_t publicLengths[] = {256, 128, 256, 384, 512, 65, 97, 133};
    ZelmorKeyPair made{};
    made.number = number;
    std::iota(made.identifier, made.identifier + zelmorIdentifierSize, static_cast<uint8_t>(0xA0 + number));
    made.publicValueLength = keyKind < 8 ? publicLengths[keyKind] : 256;
    made.publicValue[0] = keyKind >= keyKindEcP256 && keyKind <= keyKindEcP521 ? 0x04 : 0xC1;
    for (int i = 1; i < made.publicValueLength; ++i) made.publicValue[i] = static_cast<uint8_t>(i * 7 + number);
    made.idLength = put(made.id, id);
    put(made.label, label, zelmorLabelSize);
    made.usageFlags = keyUsageSign | keyUsageDecrypt;
    made.keyKind = keyKind;
    made.keyFlag = 1;
    return made;
}

ZelmorCertificate makeFakeCertificate(uint32_t number, const ZelmorBytes& der, const std::string& label,
                                      const ZelmorBytes& id) {
    ZelmorCertificate made{};
    made.number = number;
    std::iota(made.identifier, made.identifier + zelmorIdentifierSize, static_cast<uint8_t>(0xC0 + number));
    made.valueLength = put(made.value, der);
    made.idLength = put(made.id, id);
    put(made.label, label);
    return made;
}

void zelmor_createInstance(ZelmorInstance* instance) {
    *instance = Entry(recorded(__func__), nullptr).state.createInstanceGivesNull ? nullptr : &instanceToken;
}

void zelmor_releaseInstance(ZelmorInstance instance) { Entry entry(recorded(__func__), instance); }

std::vector<std::string> zelmor_getConnectedDeviceList(bool refresh, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.refresh = refresh; }), instance);
    return instance != nullptr ? entry.state.connected : std::vector<std::string>();
}

TokenInfo zelmor_getTokenInfo(const char* device, ZelmorInstance instance) {
    Entry entry(recorded(__func__, nullptr, device), instance);
    const FakeDevice* found = lookUp(entry.state.devices, text(device));
    return found != nullptr ? found->tokenInfo : TokenInfo{};
}

int32_t zelmor_initDevice(const char* device, bool full, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.fullInit = full; }, device), instance);
    return entry.onDevice([](FakeDevice&) { return ok; });
}

int32_t zelmor_validatePassword(const char* device, const char* password, int32_t user, int32_t* tries,
                                ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.userType = user; }, device, password), instance);
    return entry.onDevice([&](FakeDevice& found) {
        bool right = found.remainingTries > 0 && found.pin == text(password);
        int32_t left = right ? 10 : found.remainingTries - (found.remainingTries > 0 ? 1 : 0);
        found.remainingTries = found.tokenInfo.remainingPinAttempts = left;
        if (!right) *tries = left;
        return right ? ok : failure;
    });
}

bool zelmor_changeUserPassword(const char* device, const char* password, const char* newPassword, int32_t* tries,
                               bool flag1, bool flag2, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.newPassword = text(newPassword); call.changeFlag1 = flag1; call.changeFlag2 = flag2;
    }, device, password), instance);
    if (entry.forced != nullptr) return *entry.forced == ok;
    FakeDevice* found = entry.device();
    bool right = found != nullptr && found->pin == text(password);
    if (right) found->pin = text(newPassword);
    if (!right && tries != nullptr) *tries = found != nullptr ? found->remainingTries : 0;
    return right;
}

const std::vector<ZelmorKeyPair>& zelmor_getKeyPairList(const char* device, ZelmorInstance instance) {
    return deviceList(__func__, device, instance, &FakeDevice::keyPairs);
}

const std::vector<ZelmorCertificate>& zelmor_getCertificateList(const char* device, ZelmorInstance instance) {
    return deviceList(__func__, device, instance, &FakeDevice::certificates);
}

ZelmorBytes zelmor_getCertificateSubject(const uint8_t* der, int32_t length, ZelmorInstance instance) {
    return certificatePart(__func__, der, length, instance, &FakeCertificateInfo::subject);
}

ZelmorBytes zelmor_getCertificateIssuer(const uint8_t* der, int32_t length, ZelmorInstance instance) {
    return certificatePart(__func__, der, length, instance, &FakeCertificateInfo::issuer);
}

ZelmorBytes zelmor_getCertificateSerialDER(const uint8_t* der, int32_t length, ZelmorInstance instance) {
    return certificatePart(__func__, der, length, instance, &FakeCertificateInfo::serial);
}

int32_t zelmor_getCertificateDetails(const uint8_t* der, int32_t length, CertificateDetails* out,
                                     ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.der = bytes(der, length); }), instance);
    const FakeCertificateInfo* info = lookUp(entry.state.certificateInfo, entry.call().der);
    if (entry.forced != nullptr || info == nullptr) return entry.forced != nullptr ? *entry.forced : failure;
    *out = info->details;
    return ok;
}

ZelmorFileList zelmor_getFilesWithExtensionsAndConvertDER(const char* folder, const std::vector<std::string>& suffixes,
                                                          ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.folder = text(folder); call.extensions = suffixes;
    }), instance);
    return entry.state.caFiles;
}

int32_t zelmor_importCertificate(const char* device, const char* password, ZelmorCertificate* input,
                                 ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.certificate = *input; }, device, password), instance);
    return entry.onDevice([&](FakeDevice& found) {
        std::memcpy(input->identifier, entry.store(found.certificates, *input).identifier, zelmorIdentifierSize);
        return ok;
    });
}

int32_t zelmor_importPfx(const char* device, const char* password, ImportPFXDetails* pfx, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.pfx = *pfx; }, device, password), instance);
    return entry.onDevice([&](FakeDevice& found) {
        ZelmorKeyPair keyPair = makeFakeKeyPair(0, keyKindRsa2048, pfx->label, pfx->id);
        keyPair.publicValueLength = put(keyPair.publicValue, pfx->modulus);
        const uint8_t* identifier = entry.store(found.keyPairs, keyPair).identifier;
        pfx->keyPairIdentifier.assign(identifier, identifier + zelmorIdentifierSize);
        return ok;
    });
}

int32_t zelmor_generateKeyPair(const char* device, const char* password, ZelmorKeyPair* input,
                               ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.keyPair = *input; }, device, password), instance);
    return entry.onDevice([&](FakeDevice& found) {
        // The caller's label, ID and usage with a public value of the key kind.
        ZelmorKeyPair& stored = entry.store(found.keyPairs, *input);
        ZelmorKeyPair generated = makeFakeKeyPair(stored.number, input->keyKind, "", {});
        std::memcpy(stored.publicValue, generated.publicValue, sizeof generated.publicValue);
        stored.publicValueLength = generated.publicValueLength;
        stored.keyFlag = generated.keyFlag;
        *input = stored;
        return ok;
    });
}

int32_t zelmor_updateKeyPairDetails(const char* device, const uint8_t* key, const char* password, const char* label,
                                    const uint8_t* id, int32_t idLength, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.label = text(label); call.id = bytes(id, idLength); call.length = idLength;
    }, device, password, key), instance);
    return entry.onDevice([&](FakeDevice& found) {
        auto keyPair = byIdentifier(found.keyPairs, key);
        if (keyPair == found.keyPairs.end()) return failure;
        put(keyPair->label, entry.call().label, zelmorLabelSize);
        keyPair->idLength = put(keyPair->id, entry.call().id);
        return ok;
    });
}

int32_t zelmor_deleteKeyPair(const char* device, const uint8_t* key, const char* password, bool keyFlag,
                             ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.keyFlag = keyFlag; }, device, password, key), instance);
    return entry.onDevice([&](FakeDevice& found) { return erase(found.keyPairs, key); });
}

int32_t zelmor_deleteCertificate(const char* device, const uint8_t* certificate, const char* password,
                                 ZelmorInstance instance) {
    Entry entry(recorded(__func__, nullptr, device, password, certificate), instance);
    return entry.onDevice([&](FakeDevice& found) { return erase(found.certificates, certificate); });
}

int32_t zelmor_initHash(const char* device, int32_t algorithm, ZelmorHashContext* context, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.hashAlgorithm = algorithm; }, device), instance);
    if (entry.forced != nullptr) return *entry.forced;
    *context = new FakeHashContext{algorithm, {}};
    ++entry.state.liveHashContexts;
    return ok;
}

int32_t zelmor_updateHash(ZelmorHashContext context, const uint8_t* data, uint32_t length, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.data = bytes(data, length); call.length = length;
    }), instance);
    if (entry.forced != nullptr || context == nullptr) return entry.forced != nullptr ? *entry.forced : failure;
    ZelmorBytes& hashed = static_cast<FakeHashContext*>(context)->second;
    hashed.insert(hashed.end(), entry.call().data.begin(), entry.call().data.end());
    return ok;
}

int32_t zelmor_finalHash(ZelmorHashContext context, uint8_t* output, uint32_t* length, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) { call.outputLength = *length; }), instance);
    if (entry.forced == nullptr && context == nullptr) return failure;
    // The context is finished whatever the result.
    std::unique_ptr<FakeHashContext> hash(static_cast<FakeHashContext*>(context));
    entry.state.liveHashContexts -= hash != nullptr ? 1 : 0;
    if (entry.forced != nullptr) return *entry.forced;
    entry.call().hashed = hash->second;
    // A length of 0 on the way in is output only: digesting offers 128 bytes so.
    if (*length == 0) *length = 128;
    return entry.reported(writeOutput(entry.output(fakeDigest(hash->first, hash->second)), output, length), length);
}

int32_t zelmor_signHash(const char* device, const uint8_t* key, const char* password, const uint8_t* data,
                        uint32_t length, uint8_t* signature, uint32_t* signatureLength, bool flag,
                        ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.data = bytes(data, length); call.outputLength = *signatureLength; call.signFlag = flag;
    }, device, password, key), instance);
    if (entry.forced != nullptr) return *entry.forced;
    ZelmorBytes fallback(64);
    std::iota(fallback.begin(), fallback.end(), static_cast<uint8_t>(length));
    return entry.reported(writeOutput(entry.output(fallback), signature, signatureLength), signatureLength);
}

int32_t zelmor_verifySignatureHash(uint32_t keyKind, const char* device, const uint8_t* data, uint32_t length,
                                   const uint8_t* publicValue, uint32_t publicValueLength, const uint8_t* signature,
                                   uint32_t signatureLength, ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.keyKind = keyKind; call.data = bytes(data, length); call.publicKey = bytes(publicValue, publicValueLength);
        call.signature = bytes(signature, signatureLength);
    }, device), instance);
    return entry.forced != nullptr ? *entry.forced : ok;
}

int32_t zelmor_encrypt(EncryptionType type, PaddingMode padding, const uint8_t* data, uint32_t length,
                       uint8_t* output, uint32_t* outputLength, const uint8_t* publicKey, uint32_t publicKeyLength,
                       ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.encryptionType = type; call.paddingMode = padding; call.data = bytes(data, length);
        call.publicKey = bytes(publicKey, publicKeyLength);
    }), instance);
    if (entry.forced != nullptr) return *entry.forced;
    // The length is output only: the module offers a 1024-byte buffer.
    *outputLength = zelmorOutputBufferSize;
    return entry.reported(writeOutput(entry.output(reversed(entry.call().data)), output, outputLength), outputLength);
}

int32_t zelmor_decrypt(const char* device, const uint8_t* key, const char* password, const uint8_t* data,
                       uint32_t length, uint8_t** output, uint32_t* outputLength, bool keyFlag,
                       ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.data = bytes(data, length); call.keyFlag = keyFlag;
    }, device, password, key), instance);
    if (entry.forced != nullptr && !entry.state.decryptAllocatesOnFailure) return *entry.forced;
    if (const uint32_t* misreported = lookUp(entry.state.reportedLengths, entry.call().operation)) {
        *output = nullptr;  // a length with no buffer
        *outputLength = *misreported;
        return ok;
    }
    ZelmorBytes plain = entry.output(reversed(entry.call().data));
    // On the process heap, where the module frees it.
#if defined(_WIN32)
    *output = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), 0, std::max<std::size_t>(plain.size(), 1)));
#else
    *output = static_cast<uint8_t*>(std::malloc(std::max<std::size_t>(plain.size(), 1)));
#endif
    if (!plain.empty()) std::memcpy(*output, plain.data(), plain.size());
    *outputLength = static_cast<uint32_t>(plain.size());
    return entry.forced != nullptr ? *entry.forced : ok;
}

int32_t zelmor_generateRamdomNumber(const char* device, uint32_t length, uint8_t* output, bool flag,
                                    ZelmorInstance instance) {
    Entry entry(recorded(__func__, [&](FakeCall& call) {
        call.length = length; call.randomFlag = flag;
    }, device), instance);
    if (entry.forced != nullptr) return *entry.forced;
    for (uint32_t i = 0; i < length; ++i) output[i] = static_cast<uint8_t>(0x5A ^ i);
    return ok;
}
