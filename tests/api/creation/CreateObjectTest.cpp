// C_CreateObject: template reading, class dispatch, the RSA private-key
// import, and a session closed while the device works.
#include <chrono>
#include <future>

#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

class CreateObject : public CreationTest {};

// An RSA private key: every component, the three the device takes distinct;
// the one named missing present with an empty value.
Template rsaKey(CK_ATTRIBUTE_TYPE missing = CKA_VENDOR_DEFINED) {
    Template t = Template().ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    for (CK_ATTRIBUTE_TYPE type : {CKA_PUBLIC_EXPONENT, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT})
        t.bytes(type, {9});
    for (CK_ATTRIBUTE_TYPE type : {CKA_MODULUS, CKA_PRIVATE_EXPONENT, CKA_PRIME_1})
        t.sized(type, {uint8_t(type)}, type != missing);
    return t;
}

}  // namespace

// The code, whether the device imports, and the handle: set, or untouched when
// refused or when the device lists no new record. Of a key only modulus,
// private exponent and first prime go to the device, with the last label and
// ID whole, and the login's PIN.
TEST_F(CreateObject, TemplatesCodesAndDeviceCalls) {
    const Template certificate = Template().ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_VALUE, leaf);
    const Template nullAndEmpty =
        Template(certificate).sized(CKA_CLASS, {}, 8, true).sized(CKA_CLASS, ulongBytes(CKO_DATA), 0);
    const Template noValue = Template().ulong(CKA_CLASS, CKO_CERTIFICATE).text(CKA_LABEL, "x");
    const Template key = rsaKey().text(CKA_LABEL, "first").text(CKA_LABEL, std::string(300, 'x')).bytes(CKA_ID, {1});
    const Bytes shortValue(sizeof(CK_ULONG) - 1, 3);
    const std::vector<std::string> imports = {"zelmor_importCertificate", "zelmor_importPfx"};
    defineCertificate(filled(3072, 3), "CN=Big", "CN=Nobody");
    // Name, template, the result forced on the imports, code, handle; the device imports unless refused before.
    const std::tuple<const char*, Template, std::optional<int32_t>, CK_RV, CK_OBJECT_HANDLE> cases[] = {
        {"no class: a certificate", Template().bytes(CKA_VALUE, leaf), {}, CKR_OK, certificateBase},
        {"public", Template(certificate).ulong(CKA_CLASS, CKO_PUBLIC_KEY), {}, CKR_FUNCTION_NOT_SUPPORTED, untouched},
        {"short class", Template(certificate).bytes(CKA_CLASS, shortValue), {}, CKR_ATTRIBUTE_VALUE_INVALID, untouched},
        {"null, empty entries skipped", nullAndEmpty, {}, CKR_OK, certificateBase},
        {"no certificate value", noValue, {}, CKR_FUNCTION_FAILED, untouched},
        {"too long", Template().bytes(CKA_VALUE, filled(3073, 3)), {}, CKR_ATTRIBUTE_VALUE_INVALID, untouched},
        {"longest certificate", Template().bytes(CKA_VALUE, filled(3072, 3)), {}, CKR_OK, certificateBase},
        {"unparsable certificate", Template().bytes(CKA_VALUE, der("unparsable")), {}, CKR_DATA_INVALID, untouched},
        {"certificate refused", certificate, 242, CKR_DEVICE_MEMORY, untouched},
        {"certificate refused otherwise", certificate, 243, CKR_FUNCTION_FAILED, untouched},
        {"certificate not listed", certificate, 0, CKR_OK, untouched},
        {"key of type DSA", rsaKey().ulong(CKA_KEY_TYPE, CKK_DSA), {}, CKR_OK, privateBase},
        {"key of type EC", rsaKey().ulong(CKA_KEY_TYPE, CKK_EC), {}, CKR_FUNCTION_FAILED, untouched},
        {"key without modulus", rsaKey(CKA_MODULUS), {}, CKR_FUNCTION_FAILED, untouched},
        {"key without private exponent", rsaKey(CKA_PRIVATE_EXPONENT), {}, CKR_FUNCTION_FAILED, untouched},
        {"key without first prime", rsaKey(CKA_PRIME_1), {}, CKR_FUNCTION_FAILED, untouched},
        {"key refused", rsaKey(), 40, CKR_DEVICE_MEMORY, untouched},
        {"key refused otherwise", rsaKey(), 39, CKR_FUNCTION_FAILED, untouched},
        {"key not listed", rsaKey(), 0, CKR_OK, untouched},
        {"key", Template(key).bytes(CKA_ID, filled(300, 1)), {}, CKR_OK, privateBase},
    };
    for (const auto& [name, t, forced, expected, expectedHandle] : cases) {
        resetFake(forced, imports);
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(expected, create(t, &handle)) << name;
        EXPECT_EQ(expectedHandle, handle) << name;
        const std::size_t calls = fakeLibrary().callCount(imports[0]) + fakeLibrary().callCount(imports[1]);
        EXPECT_EQ(expected == CKR_OK || forced ? 1u : 0u, calls) << name;
    }
    const FakeCall call = fakeLibrary().calls(imports[1]).at(0);
    const ImportPFXDetails& pfx = call.pfx;
    EXPECT_EQ(
        (std::vector<Bytes>{
            {0x20}, {0x23}, {0x24}, {}, {}, {}, {}, {}, {}, Bytes(300, 'x'), filled(300, 1), bytesOf(defaultPin)}),
        (std::vector<Bytes>{pfx.modulus, pfx.privateExponent, pfx.prime1, pfx.publicExponent, pfx.prime2, pfx.exponent1,
                            pfx.exponent2, pfx.coefficient, pfx.lastField, bytesOf(pfx.label), pfx.id,
                            bytesOf(call.password)}));
    EXPECT_EQ(2, pfx.kind);

    // The key's handle carries the number the device gave the new key pair.
    CK_OBJECT_HANDLE handle = untouched;
    resetFake();
    addKeyPair(0);
    ASSERT_EQ(CKR_OK, create(rsaKey(), &handle));
    EXPECT_EQ(privateBase + 1, handle);
    resetFake();
    ASSERT_EQ(CKR_OK, create(Template(certificate).bytes(CKA_ID, {0x5A}), &handle));  // a one-byte ID goes along too
    const ZelmorCertificate sent = fakeLibrary().calls(imports[0]).at(0).certificate;
    EXPECT_EQ(Bytes{0x5A}, Bytes(sent.id, sent.id + sent.idLength));
    // The number the device gives the new record must fit a handle: the largest such number still does.
    const struct {
        const char* name; bool key; uint32_t number; CK_OBJECT_HANDLE expected;
    } numbers[] = {
        {"largest certificate number", false, 0x8FFFDFFF, 0xFFFFFFFF},
        {"certificate number beyond", false, 0x8FFFE000, untouched},
        {"largest key number", true, 0xFFF, privateBase + 0xFFF},
        {"key number beyond", true, 0x1000, untouched},
    };
    for (const auto& row : numbers) {
        resetFake();
        const auto renumber = [number = row.number](FakeState& state) {
            for (ZelmorCertificate& held : state.devices[defaultDevice].certificates) held.number = number;
            for (ZelmorKeyPair& held : state.devices[defaultDevice].keyPairs) held.number = number;
        };
        fakeLibrary().edit([&](FakeState& state) {
            state.duringCall[row.key ? "zelmor_getKeyPairList" : "zelmor_getCertificateList"] = [renumber] {
                fakeLibrary().edit(renumber);
            };
        });
        handle = untouched;
        EXPECT_EQ(CKR_OK, create(row.key ? rsaKey() : certificate, &handle)) << row.name;
        EXPECT_EQ(row.expected, handle) << row.name;
    }
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    CK_ATTRIBUTE entry{CKA_CLASS, nullptr, 0};
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, &entry, 0, &handle)) << "a template of no entries";
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_CreateObject(session, nullptr, 1, &handle)) << "no template for one entry";
    EXPECT_EQ(CKR_ARGUMENTS_BAD, create(rsaKey(), nullptr)) << "no handle pointer";
    f()->C_Logout(session);  // a read-only session without a login may create too
    session = openSession(false);
    EXPECT_EQ(CKR_OK, create(rsaKey(), &handle));
}

// The device calls run without the module's session lock: another thread
// can close the session meanwhile, and the call then reports the closed
// session and hands out no handle.
TEST_F(CreateObject, SessionClosedWhileTheDeviceWorks) {
    std::future<CK_RV> closer;
    bool closedInTime = false;
    for (const std::string operation : {"zelmor_generateKeyPair", "zelmor_importCertificate", "zelmor_importPfx"}) {
        const CK_SESSION_HANDLE target = session = openSession(true);
        fakeLibrary().edit([&](FakeState& state) {
            state.duringCall = {
                {operation, [&closer, &closedInTime, this, target] {
                     closer = std::async(std::launch::async, [this, target] { return f()->C_CloseSession(target); });
                     // Generous: a module holding its lock here would block the closer for good.
                     closedInTime = closer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
                 }}};
        });
        const Template value = Template().bytes(CKA_VALUE, leaf);
        const CK_RV rv = operation == "zelmor_generateKeyPair"
                             ? generate({}, {})
                             : create(operation == "zelmor_importPfx" ? rsaKey() : value, &publicKey);
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, rv) << operation;
        EXPECT_TRUE(closedInTime);
        EXPECT_EQ(CKR_OK, closer.get());
        EXPECT_EQ((Handles{untouched, untouched}), (Handles{publicKey, privateKey}));
    }
}
