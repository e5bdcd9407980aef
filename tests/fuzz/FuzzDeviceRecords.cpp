// Fuzzer: a hostile device library. The fake answers with token information,
// key-pair and certificate records, certificate details, CA-folder files and
// operation outputs and results taken from the input: lengths negative or
// past their fields, labels without terminator, empty or 3000-byte texts,
// numbers duplicated or past the handle range, lists of up to ~300 records.
// A walk then reads every attribute of every object it finds; the rest of
// the input drives calls (see ApiDriver).
#include <cstring>

#include "HarnessSupport.h"

using fuzzing::FuzzInput;

namespace {

int32_t hostileLength(FuzzInput& in, std::size_t field) {
    const int32_t n = static_cast<int32_t>(field);
    const int32_t values[] = {0, 1, 64, 128, 129, 256, 1025, 4096, n - 1, n, n + 1, -1, INT32_MIN, INT32_MAX};
    return in.pick(values);
}

std::string hostileText(FuzzInput& in) {
    const std::vector<uint8_t> bytes = in.bytes(80);
    const std::string texts[] = {"", std::string(3000, 'S'), std::string("A\0B", 3), {bytes.begin(), bytes.end()}};
    return texts[in.byte() % 4];
}

// Input bytes over the first size bytes of the field, then a non-zero pattern (no terminator).
void fill(FuzzInput& in, void* field, std::size_t size) {
    std::vector<uint8_t> bytes = in.bytes(size);
    bytes.resize(size, 'L');
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(field));
}

template <typename Record>
Record& hostileRecord(FuzzInput& in, std::vector<Record>& list, const Record& plain) {
    Record& record = list.emplace_back(plain);
    const uint32_t numbers[] = {0, 1, 0xFFF, 0x1000, 0xFFFFFFFF, 0x8FFFDFFF, 0x8FFFE000};
    if (in.flag()) record.number = in.pick(numbers);
    fill(in, record.identifier, in.flag() ? 0 : sizeof record.identifier);
    fill(in, record.id, sizeof record.id);
    record.idLength = hostileLength(in, sizeof record.id);
    fill(in, record.label, in.flag() ? sizeof record.label : in.below(sizeof record.label));
    return record;
}

// Rarely huge (each list call copies the whole list): just past what an
// 8-bit count or a one-page buffer holds.
std::size_t listLength(FuzzInput& in) { return in.byte() % 64 == 0 ? 250 + in.below(60) : in.below(6); }

void hostileDevices(FuzzInput& in, FakeState& state) {
    state = FakeState();
    for (std::size_t d = 0, devices = 1 + in.below(3); d < devices; ++d) {
        const std::string name = d == 0 ? "ZLM0000001" : hostileText(in);
        FakeDevice& device = state.devices[name];
        state.connected.push_back(name);
        TokenInfo& token = device.tokenInfo;
        for (std::string* text : {&token.serialNumber, &token.label, &token.model}) *text = hostileText(in);
        if (in.flag()) token.serialNumber = name;
        token.remainingPinAttempts = hostileLength(in, 10);
        device.remainingTries = hostileLength(in, 10);
        for (uint32_t i = 0, n = listLength(in); i < n; ++i) {
            ZelmorKeyPair& keyPair = hostileRecord(in, device.keyPairs, makeFakeKeyPair(i, keyKindEcP256, "k", {}));
            fill(in, keyPair.publicValue, sizeof keyPair.publicValue);
            keyPair.publicValueLength = hostileLength(in, sizeof keyPair.publicValue);
            keyPair.usageFlags = in.byte() % 4;
            keyPair.keyKind = in.byte() % 9;
        }
        for (uint32_t i = 0, n = listLength(in); i < n; ++i) {
            ZelmorCertificate& certificate =
                hostileRecord(in, device.certificates, makeFakeCertificate(i, fuzzing::sampleCertificate, "c", {}));
            fill(in, certificate.value, in.flag() ? 64 : sizeof certificate.value);
            certificate.valueLength = hostileLength(in, sizeof certificate.value);
            // What the parser says of the part of the value the length covers (what the module passes).
            const std::size_t cut = std::min<std::size_t>(std::max(0, certificate.valueLength), sizeof certificate.value);
            FakeCertificateInfo& info = state.certificateInfo[ZelmorBytes(certificate.value, certificate.value + cut)];
            info = {in.flag() ? 0 : -1, {}, in.bytes(3000), in.bytes(3000), in.bytes(300)};
            info.details.subject = hostileText(in);
        }
    }
    if (in.byte() % 8 == 0) state.connected.push_back(state.connected.front());  // listed twice
    for (std::size_t i = 0, n = in.below(6); i < n; ++i) state.caFiles.emplace_back(hostileText(in), in.bytes(4000));
    const char* operations[] = {"zelmor_signHash", "zelmor_finalHash", "zelmor_encrypt", "zelmor_decrypt",
                                "zelmor_generateRamdomNumber", "zelmor_validatePassword",
                                "zelmor_getCertificateDetails", "zelmor_importCertificate", "zelmor_generateKeyPair"};
    const int32_t results[] = {1, ZelmorResult::deviceMemoryFull, ZelmorResult::deviceNotConnected, -1, INT32_MIN};
    for (std::size_t i = 0, n = in.below(6); i < n; ++i) {
        ZelmorBytes& output = state.outputs[operations[in.below(5)]] = in.bytes(1200);
        output.resize(in.flag() ? output.size() : in.below(6000), 0x30);
    }
    for (std::size_t i = 0, n = in.below(4); i < n; ++i) state.forcedResults[operations[in.below(9)]] = in.pick(results);
    state.decryptAllocatesOnFailure = in.flag();
}

// Logs in on every slot and reads every attribute of the objects found:
// the sizes, then the values into buffers of exactly those sizes.
void walk(fuzzing::ApiDriver& driver) {
    CK_FUNCTION_LIST_PTR f = driver.f;
    CK_SLOT_ID slots[8];
    CK_ULONG slotCount = 8, found = 0;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE objects[8];
    CK_UTF8CHAR pin[] = "12345678";
    f->C_GetSlotList(CK_TRUE, slots, &slotCount);
    for (CK_ULONG s = 0; s < slotCount; ++s) {
        if (f->C_OpenSession(slots[s], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session)) continue;
        driver.sessions.push_back(session);
        f->C_Login(session, CKU_USER, pin, 8);
        if (f->C_FindObjectsInit(session, nullptr, 0) == CKR_OK) f->C_FindObjects(session, objects, 8, &found);
        f->C_FindObjectsFinal(session);
        driver.objects.insert(driver.objects.end(), objects, objects + found);
        for (CK_ULONG i = 0; i < found; ++i) {
            std::vector<CK_ATTRIBUTE> attributes;
            for (CK_ATTRIBUTE_TYPE type : fuzzing::attributeTypes) attributes.push_back({type, nullptr, 0});
            f->C_GetAttributeValue(session, objects[i], attributes.data(), attributes.size());
            std::vector<std::vector<uint8_t>> values;
            for (CK_ATTRIBUTE& attribute : attributes) {
                attribute.ulValueLen = attribute.ulValueLen > 1 << 20 ? 0 : attribute.ulValueLen;  // unavailable
                attribute.pValue = values.emplace_back(attribute.ulValueLen).data();
            }
            f->C_GetAttributeValue(session, objects[i], attributes.data(), attributes.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    fuzzing::ApiDriver driver{fuzzing::initialisedModule()};
    fakeLibrary().edit([&](FakeState& state) { hostileDevices(in, state); });
    walk(driver);
    fuzzing::driveAndClose(driver, in, 32);
    return 0;
}
