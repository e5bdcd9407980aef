#include "ApiDriver.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace fuzzing {

namespace {

constexpr CK_ULONG firstSlotId = 0x50000001;

const CK_ATTRIBUTE_TYPE attributeTypes[] = {
    CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_VALUE, CKA_OBJECT_ID, CKA_CERTIFICATE_TYPE, CKA_ISSUER,
    CKA_SERIAL_NUMBER, CKA_TRUSTED, CKA_KEY_TYPE, CKA_SUBJECT, CKA_ID, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT,
    CKA_WRAP, CKA_UNWRAP, CKA_SIGN, CKA_VERIFY, CKA_VERIFY_RECOVER, CKA_DERIVE, CKA_MODULUS, CKA_MODULUS_BITS,
    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
    CKA_COEFFICIENT, CKA_EXTRACTABLE, CKA_LOCAL, CKA_KEY_GEN_MECHANISM, CKA_MODIFIABLE, CKA_EC_PARAMS,
    CKA_EC_POINT, CKA_APPLICATION, CKA_START_DATE, CKA_END_DATE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE,
    CKA_CERTIFICATE_CATEGORY, CKA_CHECK_VALUE, CKA_VENDOR_DEFINED};

const CK_ULONG ulongValues[] = {CKO_DATA, CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY, CKO_SECRET_KEY,
                                CKK_RSA, CKK_EC, CKC_X_509, 1024, 2048, 3072, 4096, 256, 0, 0xFFFFFFFFul};

const CK_MECHANISM_TYPE mechanisms[] = {
    CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_SHA1_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS,
    CKM_SHA512_RSA_PKCS, CKM_EC_KEY_PAIR_GEN, CKM_ECDSA, CKM_ECDSA_SHA1, CKM_ECDSA_SHA256, CKM_ECDSA_SHA384,
    CKM_SHA_1, CKM_SHA256, CKM_SHA384, CKM_SHA512, CKM_RSA_X_509, CKM_RSA_PKCS_OAEP, CKM_RSA_PKCS_PSS,
    CKM_MD5, CKM_AES_CBC};

// DER of the named curves the module knows, and a broken one.
const std::vector<uint8_t> curveParameters[] = {
    {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07},
    {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22},
    {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23},
    {0x06, 0x05, 0x2B, 0x81},
    {0x13, 0x0A, 'p', 'r', 'i', 'm', 'e', '2', '5', '6', 'v', '1'}};

void addValue(Template& t, CK_ATTRIBUTE_TYPE type, std::unique_ptr<Buffer> value, CK_ULONG length) {
    CK_ATTRIBUTE attribute{type, value ? value->data() : nullptr, length};
    t.attributes.push_back(attribute);
    t.values.push_back(std::move(value));
}

std::unique_ptr<Buffer> ulongBuffer(CK_ULONG value) {
    auto buffer = std::make_unique<Buffer>(sizeof value);
    std::memcpy(buffer->data(), &value, sizeof value);
    return buffer;
}

// An output length: null buffer or one of exactly the size announced.
struct Output {
    std::unique_ptr<Buffer> buffer;
    CK_ULONG length = 0;
    CK_BYTE_PTR pointer() { return buffer ? buffer->data() : nullptr; }
};

Output output(FuzzInput& in) {
    Output out;
    switch (in.byte() % 4) {
        case 0: out.length = static_cast<CK_ULONG>(in.u64()); break;  // size query, any length
        case 1: out.buffer = std::make_unique<Buffer>(0); break;
        case 2: out.buffer = std::make_unique<Buffer>(in.below(80)); break;
        default: out.buffer = std::make_unique<Buffer>(in.below(1100)); break;
    }
    if (out.buffer) out.length = out.buffer->size();
    return out;
}

// Input data: null with any length, or bytes of the input.
struct Data {
    std::unique_ptr<Buffer> buffer;
    CK_ULONG length = 0;
    CK_BYTE_PTR pointer() { return buffer ? buffer->data() : nullptr; }
};

Data data(FuzzInput& in) {
    Data d;
    if (in.byte() % 8 == 0) {
        d.length = in.flag() ? 0 : static_cast<CK_ULONG>(in.u64());
        return d;
    }
    std::size_t length = in.below(8) == 0 ? 2000 + in.below(4000) : in.below(600);
    std::vector<uint8_t> content = in.bytes(length);
    content.resize(length, 0x3C);
    d.buffer = std::make_unique<Buffer>(content);
    d.length = d.buffer->size();
    return d;
}

// A PIN: the right one, a wrong one from the input, or null.
struct Pin {
    std::unique_ptr<Buffer> buffer;
    CK_ULONG length = 0;
    CK_UTF8CHAR_PTR pointer() { return buffer ? buffer->data() : nullptr; }
};

Pin pin(FuzzInput& in) {
    Pin p;
    std::string text;
    switch (in.byte() % 5) {
        case 0: p.length = static_cast<CK_ULONG>(in.u64()); return p;
        case 1: text = "12345678"; break;
        case 2: text = std::string("1234\0" "5678", 9); break;
        case 3: text = std::string(in.below(300), '7'); break;
        default: text = in.text(40); break;
    }
    p.buffer = std::make_unique<Buffer>(std::vector<uint8_t>(text.begin(), text.end()));
    p.length = p.buffer->size();
    return p;
}

struct Mechanism {
    CK_MECHANISM mechanism{};
    std::unique_ptr<Buffer> parameter;
    bool null = false;
    CK_MECHANISM_PTR pointer() { return null ? nullptr : &mechanism; }
};

}  // namespace

CK_SESSION_HANDLE ApiDriver::session(FuzzInput& in) {
    uint8_t choice = in.byte();
    if (!sessions.empty() && choice < 200) return sessions[choice % sessions.size()];
    const CK_SESSION_HANDLE values[] = {0, 1, 2, 0xFFFFFFFFul, 0x100000000ull, CK_INVALID_HANDLE + 3};
    return in.pick(values);
}

CK_OBJECT_HANDLE ApiDriver::object(FuzzInput& in) {
    uint8_t choice = in.byte();
    if (!objects.empty() && choice < 160) return objects[choice % objects.size()];
    const CK_OBJECT_HANDLE values[] = {0,          0x70000000, 0x70000001, 0x70000FFF, 0x70001000,
                                       0x70001001, 0x70002000, 0x70002001, 0x70002002, 0x6FFFFFFF,
                                       0xFFFFFFFF, 0x170000000ull};
    return in.pick(values);
}

CK_SLOT_ID ApiDriver::slot(FuzzInput& in) {
    const CK_SLOT_ID values[] = {firstSlotId, firstSlotId, firstSlotId + 1, firstSlotId + 2, 0, firstSlotId - 1,
                                 0xFFFFFFFF, 0x150000001ull};
    return in.pick(values);
}

CK_MECHANISM_TYPE ApiDriver::mechanismType(FuzzInput& in) { return in.pick(mechanisms); }

Template ApiDriver::inputTemplate(FuzzInput& in) {
    Template t;
    std::size_t count = in.below(10);
    for (std::size_t i = 0; i < count; ++i) {
        CK_ATTRIBUTE_TYPE type = in.pick(attributeTypes);
        switch (in.byte() % 7) {
            case 0: addValue(t, type, nullptr, in.flag() ? 0 : static_cast<CK_ULONG>(in.u64())); break;
            case 1: addValue(t, type, ulongBuffer(in.pick(ulongValues)), sizeof(CK_ULONG)); break;
            case 2: {
                auto value = std::make_unique<Buffer>(1);
                value->data()[0] = in.byte() % 3;
                addValue(t, type, std::move(value), 1);
                break;
            }
            case 3: {
                const std::vector<uint8_t>& curve = curveParameters[in.below(5)];
                auto value = std::make_unique<Buffer>(curve);
                CK_ULONG length = value->size();
                addValue(t, CKA_EC_PARAMS, std::move(value), length);
                break;
            }
            default: {
                auto value = std::make_unique<Buffer>(in.bytes(in.flag() ? 40 : 1500));
                CK_ULONG length = value->size();
                addValue(t, type, std::move(value), length);
                break;
            }
        }
    }
    // Duplicates: the same type again with another value.
    if (!t.attributes.empty() && in.byte() % 4 == 0) {
        CK_ATTRIBUTE_TYPE type = t.attributes[in.below(t.attributes.size())].type;
        addValue(t, type, ulongBuffer(in.pick(ulongValues)), sizeof(CK_ULONG));
    }
    if (in.byte() % 16 == 0) t.attributes.resize(0);  // count given, pointer null
    return t;
}

Template ApiDriver::outputTemplate(FuzzInput& in) {
    Template t;
    std::size_t count = in.below(12);
    for (std::size_t i = 0; i < count; ++i) {
        CK_ATTRIBUTE_TYPE type = in.pick(attributeTypes);
        switch (in.byte() % 4) {
            case 0: addValue(t, type, nullptr, static_cast<CK_ULONG>(in.u64())); break;
            case 1: addValue(t, type, nullptr, 0); break;
            default: {
                std::size_t size = in.flag() ? in.below(10) : in.below(4000);
                addValue(t, type, std::make_unique<Buffer>(size), size);
                break;
            }
        }
    }
    return t;
}

void ApiDriver::closeSessions() {
    for (CK_SESSION_HANDLE handle : sessions) f->C_CloseSession(handle);
    sessions.clear();
    objects.clear();
}

void ApiDriver::step(FuzzInput& in) {
    auto mechanism = [&]() {
        Mechanism m;
        m.null = in.byte() % 32 == 0;
        m.mechanism.mechanism = mechanismType(in);
        if (in.byte() % 4 == 0) {
            m.parameter = std::make_unique<Buffer>(in.bytes(64));
            m.mechanism.pParameter = m.parameter->data();
            m.mechanism.ulParameterLen = m.parameter->size();
        } else {
            m.mechanism.ulParameterLen = in.flag() ? 0 : static_cast<CK_ULONG>(in.u32());
        }
        return m;
    };
    auto remember = [&](CK_RV rv, CK_OBJECT_HANDLE handle) {
        if (rv == CKR_OK && objects.size() < 64) objects.push_back(handle);
    };

    switch (in.byte() % 46) {
        case 0: {
            CK_C_INITIALIZE_ARGS args{};
            args.flags = static_cast<CK_FLAGS>(in.u32());
            f->C_Initialize(in.flag() ? &args : nullptr);
            break;
        }
        case 1: {
            CK_INFO info;
            f->C_GetInfo(in.flag() ? &info : nullptr);
            break;
        }
        case 2: {
            Output out = output(in);
            CK_ULONG count = out.length / sizeof(CK_SLOT_ID);
            std::vector<CK_SLOT_ID> list(out.buffer ? count : 0);
            bool countNull = in.byte() % 16 == 0;
            f->C_GetSlotList(static_cast<CK_BBOOL>(in.byte()), out.buffer ? list.data() : nullptr,
                             countNull ? nullptr : &count);
            break;
        }
        case 3: {
            CK_SLOT_INFO info;
            f->C_GetSlotInfo(slot(in), in.byte() % 16 ? &info : nullptr);
            break;
        }
        case 4: {
            CK_TOKEN_INFO info;
            f->C_GetTokenInfo(slot(in), in.byte() % 16 ? &info : nullptr);
            break;
        }
        case 5: {
            CK_ULONG count = in.below(20);
            std::vector<CK_MECHANISM_TYPE> list(count);
            bool withList = in.flag();
            f->C_GetMechanismList(slot(in), withList ? list.data() : nullptr, in.byte() % 16 ? &count : nullptr);
            break;
        }
        case 6: {
            CK_MECHANISM_INFO info;
            f->C_GetMechanismInfo(slot(in), mechanismType(in), in.byte() % 16 ? &info : nullptr);
            break;
        }
        case 7:
        case 8: {
            CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
            const CK_FLAGS flagValues[] = {CKF_SERIAL_SESSION, CKF_SERIAL_SESSION | CKF_RW_SESSION, 0,
                                           CKF_RW_SESSION, 0xFFFFFFFF};
            CK_FLAGS flags = in.pick(flagValues);
            bool nullHandle = in.byte() % 16 == 0;
            CK_RV rv = f->C_OpenSession(slot(in), flags, in.flag() ? &handle : nullptr, nullptr,
                                        nullHandle ? nullptr : &handle);
            if (rv == CKR_OK && sessions.size() < 32) sessions.push_back(handle);
            else if (rv == CKR_OK) f->C_CloseSession(handle);
            break;
        }
        case 9: f->C_CloseSession(session(in)); break;
        case 10: f->C_CloseAllSessions(slot(in)); break;
        case 11: {
            CK_SESSION_INFO info;
            f->C_GetSessionInfo(session(in), in.byte() % 16 ? &info : nullptr);
            break;
        }
        case 12:
        case 13: {
            const CK_USER_TYPE users[] = {CKU_USER, CKU_USER, CKU_SO, CKU_CONTEXT_SPECIFIC, 3};
            CK_SESSION_HANDLE handle = session(in);
            CK_USER_TYPE user = in.pick(users);
            Pin p = pin(in);
            f->C_Login(handle, user, p.pointer(), p.length);
            break;
        }
        case 14: f->C_Logout(session(in)); break;
        case 15: {
            CK_SESSION_HANDLE handle = session(in);
            Pin oldPin = pin(in);
            Pin newPin = pin(in);
            f->C_SetPIN(handle, oldPin.pointer(), oldPin.length, newPin.pointer(), newPin.length);
            break;
        }
        case 16: {
            CK_SESSION_HANDLE handle = session(in);
            Pin p = pin(in);
            f->C_InitPIN(handle, p.pointer(), p.length);
            break;
        }
        case 17:
        case 18: {
            CK_SESSION_HANDLE handle = session(in);
            Template t = inputTemplate(in);
            CK_ULONG count = t.count();
            if (t.attributes.empty() && in.flag()) count = in.u32();
            f->C_FindObjectsInit(handle, t.pointer(), count);
            break;
        }
        case 19: {
            CK_SESSION_HANDLE handle = session(in);
            CK_ULONG room = in.below(40);
            std::vector<CK_OBJECT_HANDLE> found(room);
            CK_ULONG count = 0;
            bool nullList = in.byte() % 16 == 0;
            bool nullCount = in.byte() % 16 == 0;
            CK_RV rv = f->C_FindObjects(handle, nullList ? nullptr : found.data(), room,
                                        nullCount ? nullptr : &count);
            if (rv == CKR_OK && !nullList && !nullCount) {
                for (CK_ULONG i = 0; i < std::min(count, room); ++i) remember(CKR_OK, found[i]);
            }
            break;
        }
        case 20: f->C_FindObjectsFinal(session(in)); break;
        case 21:
        case 22: {
            CK_SESSION_HANDLE handle = session(in);
            CK_OBJECT_HANDLE target = object(in);
            Template t = outputTemplate(in);
            f->C_GetAttributeValue(handle, target, t.pointer(), t.count());
            break;
        }
        case 23: {
            CK_SESSION_HANDLE handle = session(in);
            CK_OBJECT_HANDLE target = object(in);
            Template t = inputTemplate(in);
            f->C_SetAttributeValue(handle, target, t.pointer(), t.count());
            break;
        }
        case 24: {
            CK_SESSION_HANDLE handle = session(in);
            f->C_DestroyObject(handle, object(in));
            break;
        }
        case 25: {
            CK_SESSION_HANDLE handle = session(in);
            Template t = inputTemplate(in);
            CK_OBJECT_HANDLE created = CK_INVALID_HANDLE;
            CK_RV rv = f->C_CreateObject(handle, t.pointer(), t.count(), in.byte() % 16 ? &created : nullptr);
            remember(rv, created);
            break;
        }
        case 26: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            Template publicTemplate = inputTemplate(in);
            Template privateTemplate = inputTemplate(in);
            CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
            CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
            bool nullHandles = in.byte() % 16 == 0;
            CK_RV rv = f->C_GenerateKeyPair(handle, m.pointer(), publicTemplate.pointer(), publicTemplate.count(),
                                            privateTemplate.pointer(), privateTemplate.count(),
                                            nullHandles ? nullptr : &publicKey, nullHandles ? nullptr : &privateKey);
            remember(rv, publicKey);
            remember(rv, privateKey);
            break;
        }
        case 27: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            f->C_SignInit(handle, m.pointer(), object(in));
            break;
        }
        case 28: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_Sign(handle, d.pointer(), d.length, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 29: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            f->C_SignUpdate(handle, d.pointer(), d.length);
            break;
        }
        case 30: {
            CK_SESSION_HANDLE handle = session(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_SignFinal(handle, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 31: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            f->C_VerifyInit(handle, m.pointer(), object(in));
            break;
        }
        case 32: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            Data signature = data(in);
            f->C_Verify(handle, d.pointer(), d.length, signature.pointer(), signature.length);
            break;
        }
        case 33: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            if (in.flag()) {
                f->C_VerifyUpdate(handle, d.pointer(), d.length);
            } else {
                f->C_VerifyFinal(handle, d.pointer(), d.length);
            }
            break;
        }
        case 34: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            f->C_DigestInit(handle, m.pointer());
            break;
        }
        case 35: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_Digest(handle, d.pointer(), d.length, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 36: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            f->C_DigestUpdate(handle, d.pointer(), d.length);
            break;
        }
        case 37: {
            CK_SESSION_HANDLE handle = session(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_DigestFinal(handle, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 38: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            f->C_EncryptInit(handle, m.pointer(), object(in));
            break;
        }
        case 39: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_Encrypt(handle, d.pointer(), d.length, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 40: {
            CK_SESSION_HANDLE handle = session(in);
            Mechanism m = mechanism();
            f->C_DecryptInit(handle, m.pointer(), object(in));
            break;
        }
        case 41: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            Output out = output(in);
            bool nullLength = in.byte() % 16 == 0;
            f->C_Decrypt(handle, d.pointer(), d.length, out.pointer(), nullLength ? nullptr : &out.length);
            break;
        }
        case 42: {
            CK_SESSION_HANDLE handle = session(in);
            Output out = output(in);
            f->C_GenerateRandom(handle, out.pointer(), out.length);
            break;
        }
        case 43: {
            CK_SESSION_HANDLE handle = session(in);
            Data d = data(in);
            f->C_SeedRandom(handle, d.pointer(), d.length);
            break;
        }
        case 44: {
            // Never blocking: the harness runs on one thread.
            CK_SLOT_ID slotId = 0;
            int reserved = 0;
            f->C_WaitForSlotEvent(static_cast<CK_FLAGS>(in.u32()) | CKF_DONT_BLOCK,
                                  in.byte() % 16 ? &slotId : nullptr, in.byte() % 16 ? nullptr : &reserved);
            break;
        }
        default: {
            // The entry points the module refuses, with harmless arguments.
            CK_SESSION_HANDLE handle = session(in);
            CK_ULONG size = 0;
            CK_OBJECT_HANDLE copy = 0;
            switch (in.byte() % 6) {
                case 0: f->C_GetObjectSize(handle, object(in), &size); break;
                case 1: f->C_CopyObject(handle, object(in), nullptr, 0, &copy); break;
                case 2: f->C_GetOperationState(handle, nullptr, &size); break;
                case 3: f->C_CancelFunction(handle); break;
                case 4: f->C_GetFunctionStatus(handle); break;
                default: {
                    CK_FUNCTION_LIST_PTR list = nullptr;
                    f->C_GetFunctionList(in.flag() ? &list : nullptr);
                    break;
                }
            }
            break;
        }
    }
}

}  // namespace fuzzing
