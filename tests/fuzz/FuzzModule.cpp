// The fuzzers of the module, run in-process against the test fake; one input
// is a device state and a sequence of calls (see ApiDriver).
//   fuzz_pkcs11_api: one to three devices, the first holding an RSA and an EC
//     key pair and a certificate; up to 96 calls.
//   fuzz_device_records (HOSTILE_DEVICES): a hostile device library. The fake
//     answers with token information, key-pair and certificate records,
//     certificate details, CA-folder files and operation outputs taken from
//     the input: lengths negative or past their fields (by default the
//     largest), labels without terminator, empty or 3000-byte texts, numbers
//     duplicated or past the handle range, lists of up to ~300 records. A
//     walk reads every attribute of every object it finds, then up to 32 calls.
// The module is initialised once per process (C_Finalize pauses for the
// monitor thread) in a private temporary and configuration folder, at log
// level 0 unless FUZZ_LOG_LEVEL says otherwise (log files cost speed).
#include <cstdlib>
#include <fstream>

#include "ApiDriver.h"
#include "FakeDeviceLibrary.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR);

using fuzzing::FuzzInput;

namespace {

// Certificate bytes for the fake's records; the fake never parses them.
const ZelmorBytes certificateBytes = {0x30, 0x82, 0x01, 0x1B, 0x30, 0x81, 0xC2, 0xA0, 0x03, 0x02, 0x01};

CK_FUNCTION_LIST_PTR initialisedModule() {
    std::string base = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/zelmor-fuzz-XXXXXX";
    if (mkdtemp(&base[0]) == nullptr) std::abort();
    setenv("TMPDIR", base.c_str(), 1);
    setenv("ZELMOR_CONFIG_DIR", base.c_str(), 1);
    std::ofstream(base + "/logLevel") << (std::getenv("FUZZ_LOG_LEVEL") ? std::getenv("FUZZ_LOG_LEVEL") : "0") << "\n";
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (C_GetFunctionList(&list) != CKR_OK || list->C_Initialize(nullptr) != CKR_OK) std::abort();
    return list;
}

void plainDevices(FuzzInput& in, FakeState& state) {
    state = FakeState();
    for (int i = in.byte() % 3; i >= 0; --i) state.devices["ZLM000000" + std::to_string(1 + i)];
    for (const auto& device : state.devices) state.connected.push_back(device.first);
    state.devices["ZLM0000001"].keyPairs = {makeFakeKeyPair(0, keyKindRsa2048, "rsa key", {1, 2}),
                                            makeFakeKeyPair(1, keyKindEcP256, "ec key", {3})};
    state.devices["ZLM0000001"].certificates = {makeFakeCertificate(0, certificateBytes, "certificate", {1})};
}

int32_t hostileLength(FuzzInput& in, std::size_t field) {
    const int32_t n = static_cast<int32_t>(field);
    const int32_t values[] = {INT32_MAX, n + 1, 4096, 1025, n, n - 1, 0, 1, 64, 128, 129, 256, -1, INT32_MIN};
    return in.pick(values);
}

std::string hostileText(FuzzInput& in) {  // 3000 bytes or up to 80 of the input (NULs, none)
    const std::vector<uint8_t> bytes = in.bytes(80);
    return in.byte() % 4 == 3 ? std::string(3000, 'S') : std::string(bytes.begin(), bytes.end());
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

// Rarely huge (each list call copies the whole list): just past what an 8-bit
// count or a one-page buffer holds. By default one record.
std::size_t listLength(FuzzInput& in) { return in.below(64) == 63 ? 250 + in.below(60) : (in.byte() + 1) % 6; }

void hostileDevices(FuzzInput& in, FakeState& state) {
    state = FakeState();
    for (std::size_t d = 0, devices = 1 + in.below(3); d < devices; ++d) {
        const std::string name = d == 0 ? "ZLM0000001" : hostileText(in);
        FakeDevice& device = state.devices[name];
        state.connected.push_back(name);
        for (std::string* text : {&device.tokenInfo.label, &device.tokenInfo.model}) *text = hostileText(in);
        device.tokenInfo.serialNumber = in.flag() ? hostileText(in) : name;
        device.tokenInfo.remainingPinAttempts = device.remainingTries = hostileLength(in, 10);
        for (uint32_t i = 0, n = listLength(in); i < n; ++i) {
            ZelmorKeyPair& keyPair = hostileRecord(in, device.keyPairs, makeFakeKeyPair(i, keyKindEcP256, "k", {}));
            fill(in, keyPair.publicValue, sizeof keyPair.publicValue);
            keyPair.publicValueLength = hostileLength(in, sizeof keyPair.publicValue);
            keyPair.usageFlags = in.byte() % 4;
            keyPair.keyKind = in.byte() % 9;
        }
        for (uint32_t i = 0, n = listLength(in); i < n; ++i) {
            ZelmorCertificate& certificate =
                hostileRecord(in, device.certificates, makeFakeCertificate(i, certificateBytes, "c", {}));
            fill(in, certificate.value, in.flag() ? 64 : sizeof certificate.value);
            certificate.valueLength = hostileLength(in, sizeof certificate.value);
        }
    }
    if (in.byte() % 8 == 0) state.connected.push_back(state.connected.front());  // listed twice
    for (std::size_t i = 0, n = in.below(6); i < n; ++i) state.caFiles.emplace_back(hostileText(in), in.bytes(4000));
    const char* outputs[] = {"zelmor_signHash", "zelmor_finalHash", "zelmor_encrypt", "zelmor_decrypt",
                             "zelmor_generateRamdomNumber"};
    for (std::size_t i = 0, n = in.below(6); i < n; ++i) {
        ZelmorBytes& output = state.outputs[outputs[in.below(5)]] = in.bytes(1200);
        output.resize(in.flag() ? output.size() : in.below(6000), 0x30);
    }
    state.decryptAllocatesOnFailure = in.flag();
}

// Logs in on every slot and reads every attribute of the objects found: the
// sizes, then the values into buffers of exactly those sizes.
void walk(fuzzing::ApiDriver& driver) {
    CK_FUNCTION_LIST_PTR f = driver.f;
    CK_ULONG slotCount = 8, found = 0;
    CK_SLOT_ID slots[8];
    CK_OBJECT_HANDLE objects[8];
    CK_UTF8CHAR pin[] = "12345678";
    f->C_GetSlotList(CK_TRUE, slots, &slotCount);
    for (CK_ULONG s = 0; s < slotCount; ++s) {
        CK_SESSION_HANDLE& session = driver.sessions.emplace_back();
        f->C_OpenSession(slots[s], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
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
    static const CK_FUNCTION_LIST_PTR module = initialisedModule();
    FuzzInput in(data, size);
    fuzzing::ApiDriver driver{module};
    fakeLibrary().edit([&](FakeState& s) { HOSTILE_DEVICES ? hostileDevices(in, s) : plainDevices(in, s); });
    if (HOSTILE_DEVICES) walk(driver);
    for (int step = 0; step < (HOSTILE_DEVICES ? 32 : 96) && !in.empty(); ++step) {
        fakeLibrary().clearCalls();  // the fake records every call; not needed here
        if (!driver.step(in)) std::abort();
    }
    return 0;
}
