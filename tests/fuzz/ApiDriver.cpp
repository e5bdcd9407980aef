#include "ApiDriver.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <tuple>
#include <type_traits>

namespace fuzzing {

namespace {

const CK_MECHANISM_TYPE mechanisms[] = {CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_SHA1_RSA_PKCS, CKM_SHA256_RSA_PKCS,
                                        CKM_EC_KEY_PAIR_GEN, CKM_ECDSA, CKM_ECDSA_SHA256, CKM_SHA_1, CKM_SHA256,
                                        CKM_SHA512, CKM_RSA_X_509, CKM_RSA_PKCS_OAEP, CKM_MD5};
// The named curves the module knows, a cut one and one given by name.
const std::vector<uint8_t> curves[] = {
    {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22},
    {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23}, {0x06, 0x05, 0x2B, 0x81}, {0x13, 0x05, 'p', '2', '5', '6', 'v'}};
// Object classes, key types, session flags, user types, key sizes.
const CK_ULONG numbers[] = {0, 1, 2, 3, 4, 6, 256, 1024, 2048, 3072, 4096, 0xFFFFFFFFul};
using Bytes = std::vector<uint8_t>;
const Bytes rightPin = {'1', '2', '3', '4', '5', '6', '7', '8'};
const CK_ULONG sessionValues[] = {0, 1, 2, 0xFFFFFFFFul, 0x100000000ull};
const CK_ULONG objectValues[] = {0, 0x70000000, 0x70000001, 0x70001000, 0x70002000, 0x6FFFFFFF, 0x170000000ull};
const CK_ULONG slotValues[] = {0x50000001, 0x50000001, 0x50000002, 0x50000003, 0, 0x50000000, 0x150000001ull};

// The results every entry point may give (Every), and those of groups of entry points.
enum Group : unsigned { Every = 1, Slot = 2, Session = 4, KeyInit = 8, Operation = 16, Objects = 32, Login = 64 };
const std::vector<CK_RV> groupCodes[] = {
    {CKR_OK, CKR_GENERAL_ERROR, CKR_HOST_MEMORY, CKR_FUNCTION_FAILED, CKR_ARGUMENTS_BAD, CKR_CRYPTOKI_NOT_INITIALIZED,
     CKR_DEVICE_ERROR, CKR_DEVICE_MEMORY, CKR_DEVICE_REMOVED, CKR_TOKEN_NOT_PRESENT},
    {CKR_SLOT_ID_INVALID, CKR_TOKEN_NOT_RECOGNIZED},
    {CKR_SESSION_HANDLE_INVALID, CKR_SESSION_CLOSED},
    {CKR_OPERATION_ACTIVE, CKR_MECHANISM_INVALID, CKR_MECHANISM_PARAM_INVALID, CKR_KEY_HANDLE_INVALID,
     CKR_KEY_TYPE_INCONSISTENT, CKR_KEY_FUNCTION_NOT_PERMITTED, CKR_KEY_SIZE_RANGE, CKR_USER_NOT_LOGGED_IN,
     CKR_OBJECT_HANDLE_INVALID},
    {CKR_OPERATION_NOT_INITIALIZED, CKR_DATA_INVALID, CKR_DATA_LEN_RANGE, CKR_BUFFER_TOO_SMALL,
     CKR_USER_NOT_LOGGED_IN, CKR_FUNCTION_CANCELED, CKR_KEY_HANDLE_INVALID, CKR_OBJECT_HANDLE_INVALID},
    {CKR_OBJECT_HANDLE_INVALID, CKR_ATTRIBUTE_READ_ONLY, CKR_ATTRIBUTE_TYPE_INVALID, CKR_ATTRIBUTE_VALUE_INVALID,
     CKR_TEMPLATE_INCOMPLETE, CKR_TEMPLATE_INCONSISTENT, CKR_SESSION_READ_ONLY, CKR_TOKEN_WRITE_PROTECTED,
     CKR_USER_NOT_LOGGED_IN, CKR_OPERATION_ACTIVE, CKR_DOMAIN_PARAMS_INVALID, CKR_DATA_INVALID},
    {CKR_PIN_INCORRECT, CKR_PIN_INVALID, CKR_PIN_LEN_RANGE, CKR_PIN_LOCKED, CKR_PIN_EXPIRED, CKR_SESSION_READ_ONLY,
     CKR_TOKEN_WRITE_PROTECTED, CKR_USER_NOT_LOGGED_IN, CKR_USER_ALREADY_LOGGED_IN, CKR_USER_TYPE_INVALID,
     CKR_USER_ANOTHER_ALREADY_LOGGED_IN, CKR_USER_PIN_NOT_INITIALIZED, CKR_USER_TOO_MANY_TYPES,
     CKR_SESSION_READ_ONLY_EXISTS}};

// One call's arguments, drawn in the order of its row's letters. Pointers are null or point at heap memory of
// exactly the length the call is told, so AddressSanitizer sees any access past it.
struct Args {
    const char* letters;
    ApiDriver& d;
    FuzzInput& in;

    // The next argument, of type T, as its letter says (see Row).
    template <typename T>
    T next() {
        using Pointee = std::remove_pointer_t<T>;
        const char letter = *letters++;
        if constexpr (!std::is_pointer_v<T>) return static_cast<T>(number(letter));
        else if constexpr (std::is_object_v<Pointee>) return static_cast<T>(pointer(letter, sizeof(Pointee)));
        else return nullptr;  // the application's pointer and callback of C_OpenSession
    }

    uint8_t* heap(const std::vector<uint8_t>& content) {
        memory.emplace_back(new uint8_t[content.size()]);
        return std::copy(content.begin(), content.end(), memory.back().get()) - content.size();
    }
    CK_ULONG anyLength() { return in.flag() ? 0 : static_cast<CK_ULONG>(in.u64()); }
    void* withLength(const std::vector<uint8_t>& content, bool null, std::size_t unit = 1) {  // null: any length
        lengths.push_back(null ? anyLength() : content.size() / unit);
        return null ? nullptr : heap(content);
    }
    // Input templates: null values with any length, numbers, flags, curves, bytes. Output
    // templates: null values with any length, empty ones and buffers of every size.
    void* attributes(bool output) {
        std::vector<CK_ATTRIBUTE>& t = templates.emplace_back();
        for (std::size_t i = 0, n = in.below(12); i < n; ++i) {
            const CK_ATTRIBUTE_TYPE type = in.pick(attributeTypes);
            const CK_ULONG number = in.pick(numbers);
            const auto* numberBytes = reinterpret_cast<const uint8_t*>(&number);
            std::vector<uint8_t> value;
            switch (in.byte() % (output ? 3 : 6)) {
                case 0: t.push_back({type, nullptr, anyLength()}); continue;
                case 1: value.assign(numberBytes, numberBytes + (output ? 0 : sizeof number)); break;
                case 2: value.resize(output ? in.below(in.flag() ? 10 : 4000) : 1, in.byte() % 3); break;
                case 3: value = curves[in.below(5)]; break;
                default: value = in.bytes(in.flag() ? 40 : 1500); break;
            }
            t.push_back({type, heap(value), static_cast<CK_ULONG>(value.size())});
        }
        const bool null = t.empty() || in.byte() % 16 == 0;
        lengths.push_back(null ? anyLength() : t.size());
        return null ? nullptr : t.data();
    }

    CK_ULONG number(char letter) {
        const uint8_t choice = in.byte();
        const std::deque<CK_ULONG>& known = letter == 's' ? d.sessions : d.objects;  // reused most of the time
        switch (letter) {
            case 's': return choice < 200 && !known.empty() ? known[choice % known.size()] : in.pick(sessionValues);
            case 'o': return choice < 160 && !known.empty() ? known[choice % known.size()] : in.pick(objectValues);
            case 'l': return in.pick(slotValues);
            case 'L': return choice % 32 == 0 ? in.pick(slotValues) : 0;  // valid rarely: ends every thread's sessions
            case 'n': return in.pick(numbers);
            case 'w': return in.pick(numbers) | CKF_DONT_BLOCK;  // a fuzzer runs on one thread
            case 'M': return in.pick(mechanisms);
            default: return lengths.back();  // '.'
        }
    }
    void* pointer(char letter, std::size_t pointeeSize) {
        const uint8_t choice = in.byte();
        switch (letter) {
            case 'm': {
                CK_MECHANISM& m = mechanisms_.emplace_back(CK_MECHANISM{in.pick(mechanisms), nullptr, 0});
                m.pParameter = choice % 4 == 0 ? withLength(in.bytes(64), false) : nullptr;
                m.ulParameterLen = choice % 4 == 0 ? lengths.back() : in.flag() ? 0 : in.u64() >> 32;
                return choice % 32 == 1 ? nullptr : &m;
            }
            case 'd':  // up to 600 bytes of the input, sometimes thousands
                return withLength(choice % 8 == 1 ? Bytes(2000 + in.below(4000), 1) : in.bytes(600), choice % 8 == 0);
            case 'p':  // the right PIN, or up to 300 bytes of the input
                return withLength(d.rightPinOnly || choice % 4 == 1 ? rightPin : in.bytes(300), choice % 8 == 0);
            case 'b':  // a size query with any length, or a buffer of exactly the length given
                return withLength(Bytes(choice % 4 < 2 ? 0 : in.below(choice % 4 == 2 ? 80 : 1100)), choice % 4 == 0);
            case 'c':  // a list of numbers or handles, its length a count
                return withLength(Bytes(in.below(40) * sizeof(CK_ULONG)), choice % 4 == 0, sizeof(CK_ULONG));
            case 't':
            case 'g': return attributes(letter == 'g');
            case 'h':  // a new handle, written to the driver's lists
            case 'S': return choice % 16 == 0 ? nullptr : &(letter == 'S' ? d.sessions : d.objects).emplace_back();
            case 'i': return choice % 16 == 0 ? nullptr : heap(std::vector<uint8_t>(pointeeSize));
            default: return choice % 16 == 0 ? nullptr : &lengths.back();  // '.'
        }
    }

    std::deque<std::unique_ptr<uint8_t[]>> memory{};
    std::deque<CK_ULONG> lengths{};
    std::deque<CK_MECHANISM> mechanisms_{};
    std::deque<std::vector<CK_ATTRIBUTE>> templates{};
};

// Calls an entry point with the arguments its letters name, drawn in order (braced lists evaluate in order).
template <typename... Parameters>
CK_RV callWith(CK_RV (*function)(Parameters...), Args& a) {
    return std::apply(function, std::tuple<Parameters...>{a.next<Parameters>()...});
}

struct Row {
    const char* function;
    CK_RV (*call)(CK_FUNCTION_LIST_PTR, Args&);
    // One letter per parameter: s session, o object, l slot (L: mostly an invalid one), n flags or user type
    // (w: with CKF_DONT_BLOCK), M mechanism type, m mechanism, d data, p PIN, b output buffer, c list,
    // t template, g template to read into, . the previous argument's length (or a pointer to it), h new object
    // handle, S new session handle, i information to fill, 0 null.
    const char* letters;
    unsigned groups;
    std::vector<CK_RV> extra;
};

#define ENTRY(name) #name, [](CK_FUNCTION_LIST_PTR f, Args& a) { return callWith(f->name, a); }
const Row rows[] = {
    {ENTRY(C_GetInfo), "i", 0, {}},
    {ENTRY(C_GetSlotList), "nc.", 0, {CKR_BUFFER_TOO_SMALL}},
    {ENTRY(C_GetSlotInfo), "li", Slot, {}},
    {ENTRY(C_GetTokenInfo), "li", Slot, {}},
    {ENTRY(C_GetMechanismList), "lc.", Slot, {CKR_BUFFER_TOO_SMALL}},
    {ENTRY(C_GetMechanismInfo), "lMi", Slot, {CKR_MECHANISM_INVALID}},
    {ENTRY(C_OpenSession), "ln00S", Slot,
     {CKR_SESSION_COUNT, CKR_SESSION_PARALLEL_NOT_SUPPORTED, CKR_SESSION_READ_WRITE_SO_EXISTS}},
    {ENTRY(C_CloseSession), "s", Session, {}},
    {ENTRY(C_CloseAllSessions), "L", Slot, {}},
    {ENTRY(C_GetSessionInfo), "si", Session, {}},
    {ENTRY(C_Login), "snp.", Session | Login, {CKR_OPERATION_NOT_INITIALIZED}},
    {ENTRY(C_Logout), "s", Session, {CKR_USER_NOT_LOGGED_IN}},
    {ENTRY(C_SetPIN), "sp.p.", Session | Login, {}},
    {ENTRY(C_InitPIN), "sp.", Session | Login, {CKR_FUNCTION_NOT_SUPPORTED}},
    {ENTRY(C_FindObjectsInit), "st.", Session | Objects, {}},
    {ENTRY(C_FindObjects), "sc..", Session, {CKR_OPERATION_NOT_INITIALIZED}},
    {ENTRY(C_FindObjectsFinal), "s", Session, {CKR_OPERATION_NOT_INITIALIZED}},
    {ENTRY(C_GetAttributeValue), "sog.", Session | Objects, {CKR_ATTRIBUTE_SENSITIVE, CKR_BUFFER_TOO_SMALL}},
    {ENTRY(C_SetAttributeValue), "sot.", Session | Objects, {}},
    {ENTRY(C_DestroyObject), "so", Session | Objects, {}},
    {ENTRY(C_CreateObject), "st.h", Session | Objects, {CKR_FUNCTION_NOT_SUPPORTED}},
    {ENTRY(C_GenerateKeyPair), "smt.t.hh", Session | Objects | KeyInit, {}},
    {ENTRY(C_SignInit), "smo", Session | KeyInit, {}},
    {ENTRY(C_Sign), "sd.b.", Session | Operation, {}},
    {ENTRY(C_SignUpdate), "sd.", Session | Operation, {}},
    {ENTRY(C_SignFinal), "sb.", Session | Operation, {}},
    {ENTRY(C_VerifyInit), "smo", Session | KeyInit, {}},
    {ENTRY(C_Verify), "sd.d.", Session | Operation, {CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE}},
    {ENTRY(C_VerifyUpdate), "sd.", Session | Operation, {}},
    {ENTRY(C_VerifyFinal), "sd.", Session | Operation, {CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE}},
    {ENTRY(C_DigestInit), "sm", Session | KeyInit, {}},
    {ENTRY(C_Digest), "sd.b.", Session | Operation, {}},
    {ENTRY(C_DigestUpdate), "sd.", Session | Operation, {}},
    {ENTRY(C_DigestFinal), "sb.", Session | Operation, {}},
    {ENTRY(C_EncryptInit), "smo", Session | KeyInit, {}},
    {ENTRY(C_Encrypt), "sd.b.", Session | Operation, {}},
    {ENTRY(C_DecryptInit), "smo", Session | KeyInit, {}},
    {ENTRY(C_Decrypt), "sd.b.", Session | Operation, {CKR_ENCRYPTED_DATA_INVALID, CKR_ENCRYPTED_DATA_LEN_RANGE}},
    {ENTRY(C_GenerateRandom), "sb.", Session, {CKR_RANDOM_NO_RNG, CKR_OPERATION_ACTIVE, CKR_USER_NOT_LOGGED_IN}},
    {ENTRY(C_SeedRandom), "sd.", Session, {CKR_FUNCTION_NOT_SUPPORTED, CKR_RANDOM_SEED_NOT_SUPPORTED}},
    {ENTRY(C_WaitForSlotEvent), "wi0", 0, {CKR_NO_EVENT}},
};
#undef ENTRY

}  // namespace

bool ApiDriver::step(FuzzInput& in) {
    const Row& row = rows[in.byte() % (sizeof rows / sizeof rows[0])];
    Args arguments{row.letters, *this, in};
    const CK_RV rv = row.call(f, arguments);
    for (; sessions.size() > 64; sessions.pop_front()) f->C_CloseSession(sessions.front());
    if (objects.size() > 64) objects.erase(objects.begin(), objects.end() - 64);
    for (unsigned g = 0; g < sizeof groupCodes / sizeof groupCodes[0]; ++g) {
        if (((row.groups | Every) >> g & 1) && std::count(groupCodes[g].begin(), groupCodes[g].end(), rv)) return true;
    }
    if (std::count(row.extra.begin(), row.extra.end(), rv) != 0) return true;
    std::fprintf(stderr, "UNEXPECTED: %s returned 0x%08lX\n", row.function, rv);
    return false;
}

}  // namespace fuzzing
