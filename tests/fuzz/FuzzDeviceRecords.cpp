// Harness: a hostile device library. The fake answers with token information,
// key-pair and certificate lists, certificate details, CA-folder files,
// operation outputs and results all taken from the input: lengths negative or
// past their fields, labels without terminators, empty serials, duplicate
// numbers and identifiers, huge lists. A fixed walk then reads everything the
// module offers and uses every key, followed by input-driven calls.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ApiDriver.h"
#include "HarnessSupport.h"

using fuzzing::FuzzInput;

namespace {

const int32_t hostileResults[] = {0, 1, ZelmorResult::deviceMemoryFull, ZelmorResult::deviceNotConnected,
                                  ZelmorResult::deviceMemoryFullAlt, -1, INT32_MIN, INT32_MAX, 2};

const char* const operations[] = {
    "zelmor_initDevice", "zelmor_validatePassword", "zelmor_changeUserPassword", "zelmor_getCertificateDetails",
    "zelmor_importCertificate", "zelmor_importPfx", "zelmor_generateKeyPair", "zelmor_updateKeyPairDetails",
    "zelmor_deleteKeyPair", "zelmor_deleteCertificate", "zelmor_initHash", "zelmor_updateHash", "zelmor_finalHash",
    "zelmor_signHash", "zelmor_verifySignatureHash", "zelmor_encrypt", "zelmor_decrypt",
    "zelmor_generateRamdomNumber"};

const char* const outputOperations[] = {"zelmor_signHash", "zelmor_finalHash", "zelmor_encrypt", "zelmor_decrypt",
                                        "zelmor_generateRamdomNumber"};

std::string hostileText(FuzzInput& in) {
    switch (in.byte() % 6) {
        case 0: return std::string();
        case 1: return std::string(in.below(3000), 'S');
        case 2: return std::string("A\0B", 3);
        case 3: return "CN=Fuzz,O=Zelmor";
        default: return in.text(80);
    }
}

// Fills size bytes of field: a pattern, or bytes of the input.
void fill(FuzzInput& in, void* field, std::size_t size) {
    auto* bytes = static_cast<uint8_t*>(field);
    std::vector<uint8_t> taken = in.bytes(size);
    uint8_t pattern = in.byte();
    for (std::size_t i = 0; i < size; ++i) bytes[i] = i < taken.size() ? taken[i] : static_cast<uint8_t>(pattern + i);
}

// A label of n non-zero bytes; at the full size it has no terminator.
void fillLabel(FuzzInput& in, char* label, std::size_t size) {
    std::size_t length = in.flag() ? size : in.below(size + 1);
    std::memset(label, 0, size);
    std::vector<uint8_t> taken = in.bytes(length);
    for (std::size_t i = 0; i < length; ++i) label[i] = i < taken.size() && taken[i] != 0 ? taken[i] : 'L';
}

uint32_t recordNumber(FuzzInput& in, std::size_t position) {
    const uint32_t values[] = {0, 1, 2, 0xFFF, 0x1000, 0x1001, 0xFFFFFFFF, 0x8FFFDFFF, 0x8FFFE000};
    uint8_t choice = in.byte() % 4;
    if (choice < 2) return static_cast<uint32_t>(position);
    if (choice == 2) return values[in.below(sizeof values / sizeof values[0])];
    return in.u32();
}

ZelmorKeyPair hostileKeyPair(FuzzInput& in, std::size_t position) {
    ZelmorKeyPair keyPair = makeFakeKeyPair(static_cast<uint32_t>(position), keyKindRsa2048, "k", {0x01});
    keyPair.number = recordNumber(in, position);
    if (in.flag()) fill(in, keyPair.identifier, sizeof keyPair.identifier);
    if (in.flag()) fill(in, keyPair.publicValue, sizeof keyPair.publicValue);
    keyPair.publicValueLength = in.hostileLength(static_cast<int32_t>(zelmorPublicValueSize));
    if (in.flag()) fill(in, keyPair.id, sizeof keyPair.id);
    keyPair.idLength = in.hostileLength(static_cast<int32_t>(zelmorIdSize));
    fillLabel(in, keyPair.label, sizeof keyPair.label);
    if (in.flag()) std::memset(keyPair.padding1, 'P', sizeof keyPair.padding1);
    const uint32_t usages[] = {0, 1, 2, 3, 0xFFFFFFFF};
    keyPair.usageFlags = in.pick(usages);
    const uint32_t kinds[] = {1, 2, 3, 4, 5, 6, 7, 0, 8, 0xFFFFFFFF};
    keyPair.keyKind = in.pick(kinds);
    keyPair.keyFlag = in.byte();
    return keyPair;
}

ZelmorCertificate hostileCertificate(FuzzInput& in, std::size_t position) {
    ZelmorCertificate certificate =
        makeFakeCertificate(static_cast<uint32_t>(position), fuzzing::sampleCertificate(), "c", {0x01});
    certificate.number = recordNumber(in, position);
    if (in.flag()) fill(in, certificate.identifier, sizeof certificate.identifier);
    if (in.flag()) fill(in, certificate.value, in.flag() ? 64 : sizeof certificate.value);
    certificate.valueLength = in.hostileLength(static_cast<int32_t>(zelmorCertificateValueSize));
    if (in.flag()) fill(in, certificate.id, sizeof certificate.id);
    certificate.idLength = in.hostileLength(static_cast<int32_t>(zelmorIdSize));
    fillLabel(in, certificate.label, sizeof certificate.label);
    if (in.flag()) fill(in, certificate.libraryFields, sizeof certificate.libraryFields);
    return certificate;
}

// What the parsing operations say about a certificate value: the bytes the
// module will pass are those the record's clamped length covers, so answers
// are registered for several cuts of the value.
void describeCertificate(FuzzInput& in, FakeState& state, const ZelmorCertificate& certificate) {
    const std::size_t cuts[] = {zelmorCertificateValueSize,
                                static_cast<std::size_t>(std::max<int32_t>(0, certificate.valueLength))};
    FakeCertificateInfo info;
    const int32_t detailResults[] = {0, 0, 1, -1};
    info.detailsResult = in.pick(detailResults);
    info.details.issuer = hostileText(in);
    info.details.subject = hostileText(in);
    info.details.text1 = hostileText(in);
    info.subject = in.bytes(in.flag() ? 16 : 3000);
    info.issuer = in.bytes(in.flag() ? 16 : 3000);
    info.serial = in.bytes(in.flag() ? 4 : 300);
    for (std::size_t cut : cuts) {
        std::size_t length = std::min(cut, zelmorCertificateValueSize);
        state.certificateInfo[ZelmorBytes(certificate.value, certificate.value + length)] = info;
    }
}

std::size_t listLength(FuzzInput& in) {
    // A huge list is rare and only as long as needed to pass the counts an
    // 8-bit field or a one-page buffer would hold: every list call copies the
    // whole list (the fake into its answer, a search into its own copy), about
    // 1 MB for 300 certificates, which under AddressSanitizer costs
    // milliseconds each time.
    switch (in.byte() % 64) {
        case 0: case 1: case 2: case 3: return 0;
        case 4: return 250 + in.below(60);
        default: return in.below(6);
    }
}

void buildHostileDevices(FuzzInput& in) {
    fakeLibrary().edit([&](FakeState& state) {
        state = FakeState();
        std::size_t deviceCount = 1 + in.below(3);
        for (std::size_t d = 0; d < deviceCount; ++d) {
            std::string name = d == 0 ? "ZLM0000001" : hostileText(in);
            FakeDevice device;
            device.tokenInfo.serialNumber = in.byte() % 4 == 0 ? hostileText(in) : name;
            device.tokenInfo.label = hostileText(in);
            device.tokenInfo.model = hostileText(in);
            device.tokenInfo.firmwareVersion = in.flag() ? hostileText(in) : "1.0";
            device.tokenInfo.text7 = hostileText(in);
            device.tokenInfo.remainingPinAttempts = in.hostileLength(10);
            device.tokenInfo.value1 = in.hostileLength(0);
            device.tokenInfo.value11 = in.hostileLength(0);
            device.remainingTries = in.flag() ? 10 : in.hostileLength(10);
            std::size_t keyPairs = listLength(in);
            for (std::size_t i = 0; i < keyPairs; ++i) device.keyPairs.push_back(hostileKeyPair(in, i));
            std::size_t certificates = listLength(in);
            for (std::size_t i = 0; i < certificates; ++i) {
                device.certificates.push_back(hostileCertificate(in, i));
                if (i < 8) describeCertificate(in, state, device.certificates.back());
            }
            state.devices[name] = device;
            state.connected.push_back(name);
        }
        if (in.byte() % 8 == 0) state.connected.push_back(state.connected.front());  // listed twice
        std::size_t files = in.below(6);
        for (std::size_t i = 0; i < files; ++i) {
            ZelmorBytes content = in.flag() ? fuzzing::sampleCertificate() : in.bytes(in.flag() ? 40 : 4000);
            state.caFiles.emplace_back(hostileText(in), content);
        }
        std::size_t outputs = in.below(6);
        for (std::size_t i = 0; i < outputs; ++i) {
            const char* operation = outputOperations[in.below(sizeof outputOperations / sizeof outputOperations[0])];
            std::size_t length = in.flag() ? in.below(1200) : in.below(6000);
            ZelmorBytes output = in.bytes(length);
            output.resize(length, 0x30);
            state.outputs[operation] = output;
        }
        std::size_t forced = in.below(4);
        for (std::size_t i = 0; i < forced; ++i) {
            const char* operation = operations[in.below(sizeof operations / sizeof operations[0])];
            state.forcedResults[operation] = in.pick(hostileResults);
        }
        state.decryptAllocatesOnFailure = in.flag();
    });
}

const CK_ATTRIBUTE_TYPE everyAttribute[] = {
    CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_VALUE, CKA_OBJECT_ID, CKA_CERTIFICATE_TYPE, CKA_ISSUER,
    CKA_SERIAL_NUMBER, CKA_TRUSTED, CKA_KEY_TYPE, CKA_SUBJECT, CKA_ID, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT,
    CKA_WRAP, CKA_SIGN, CKA_VERIFY, CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_EXTRACTABLE,
    CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_MODIFIABLE, CKA_EC_PARAMS, CKA_EC_POINT, CKA_APPLICATION};

// Reads every attribute: sizes first, then the values into exact buffers.
void readAllAttributes(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    constexpr std::size_t count = sizeof everyAttribute / sizeof everyAttribute[0];
    CK_ATTRIBUTE attributes[count];
    for (std::size_t i = 0; i < count; ++i) attributes[i] = {everyAttribute[i], nullptr, 0};
    f->C_GetAttributeValue(session, object, attributes, count);
    std::vector<std::unique_ptr<fuzzing::Buffer>> values;
    for (std::size_t i = 0; i < count; ++i) {
        if (attributes[i].ulValueLen == CK_UNAVAILABLE_INFORMATION || attributes[i].ulValueLen > 1 << 20) {
            attributes[i].ulValueLen = 0;
        }
        values.push_back(std::make_unique<fuzzing::Buffer>(attributes[i].ulValueLen));
        attributes[i].pValue = values.back()->data();
    }
    f->C_GetAttributeValue(session, object, attributes, count);
}

void useKey(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, FuzzInput& in) {
    const CK_MECHANISM_TYPE signing[] = {CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS, CKM_ECDSA, CKM_ECDSA_SHA256};
    CK_MECHANISM mechanism{signing[in.below(4)], nullptr, 0};
    CK_BYTE data[48] = {1, 2, 3};
    fuzzing::Buffer out(in.flag() ? 1100 : in.below(600));
    CK_ULONG length = out.size();
    if (f->C_SignInit(session, &mechanism, key) == CKR_OK) f->C_Sign(session, data, sizeof data, out.data(), &length);
    length = out.size();
    if (f->C_VerifyInit(session, &mechanism, key) == CKR_OK) f->C_Verify(session, data, sizeof data, out.data(), out.size());
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    if (f->C_EncryptInit(session, &rsa, key) == CKR_OK) f->C_Encrypt(session, data, sizeof data, out.data(), &length);
    length = out.size();
    if (f->C_DecryptInit(session, &rsa, key) == CKR_OK) f->C_Decrypt(session, data, sizeof data, out.data(), &length);
}

void walk(CK_FUNCTION_LIST_PTR f, fuzzing::ApiDriver& driver, FuzzInput& in) {
    CK_ULONG count = 0;
    f->C_GetSlotList(CK_TRUE, nullptr, &count);
    CK_SLOT_ID slots[8];
    count = 8;
    if (f->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK) return;
    for (CK_ULONG s = 0; s < count && s < 8; ++s) {
        CK_SLOT_INFO slotInfo;
        CK_TOKEN_INFO tokenInfo;
        f->C_GetSlotInfo(slots[s], &slotInfo);
        f->C_GetTokenInfo(slots[s], &tokenInfo);
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        if (f->C_OpenSession(slots[s], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK) {
            continue;
        }
        driver.sessions.push_back(session);
        CK_UTF8CHAR pin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
        f->C_Login(session, CKU_USER, pin, sizeof pin);
        if (f->C_FindObjectsInit(session, nullptr, 0) == CKR_OK) {
            CK_OBJECT_HANDLE found[64];
            CK_ULONG foundCount = 0;
            if (f->C_FindObjects(session, found, 64, &foundCount) == CKR_OK) {
                for (CK_ULONG i = 0; i < foundCount && i < 64; ++i) driver.objects.push_back(found[i]);
            }
            f->C_FindObjectsFinal(session);
        }
        for (std::size_t i = 0; i < driver.objects.size() && i < 8; ++i) {
            // The fake records every call; the record is not needed here.
            fakeLibrary().clearCalls();
            readAllAttributes(f, session, driver.objects[i]);
            if (i < 4) useKey(f, session, driver.objects[i], in);
        }
        CK_MECHANISM digest{CKM_SHA256, nullptr, 0};
        CK_BYTE hash[64];
        CK_ULONG hashLength = in.below(65);
        if (f->C_DigestInit(session, &digest) == CKR_OK) f->C_Digest(session, hash, 10, hash, &hashLength);
        CK_BYTE random[200];
        f->C_GenerateRandom(session, random, in.below(201));
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        ZelmorBytes value = fuzzing::sampleCertificate();
        CK_ATTRIBUTE certificate[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                                      {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                                      {CKA_VALUE, value.data(), value.size()}};
        CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
        f->C_CreateObject(session, certificate, 3, &created);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CK_FUNCTION_LIST_PTR f = fuzzing::initialisedModule();
    FuzzInput in(data, size);
    buildHostileDevices(in);
    fuzzing::ApiDriver driver(f);
    walk(f, driver, in);
    for (int steps = 0; steps < 32 && !in.empty(); ++steps) {
        fakeLibrary().clearCalls();
        driver.step(in);
    }
    driver.closeSessions();
    return 0;
}
