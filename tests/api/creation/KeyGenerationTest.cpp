// C_GenerateKeyPair: what the templates turn into, and the refusals.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

using KeyGeneration = CreationTest;

const Bytes secp256k1{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x0A};
const Bytes shortValue(sizeof(CK_ULONG) - 1, 1);
Template bits(CK_ULONG value) { return Template().ulong(CKA_MODULUS_BITS, value); }
Template curve(const Bytes& value) { return Template().bytes(CKA_EC_PARAMS, value); }
Template type(CK_ULONG value) { return Template().ulong(CKA_KEY_TYPE, value); }

// The private template gives key type and usage (sign unless any), the public
// one size or curve for that type: the first unsupported value refuses before
// the device, the last valid one wins; the mechanism is not looked at. Device
// refusals are mapped and leave the handles.
TEST_F(KeyGeneration, TemplatesDecideKindAndUsage) {
    const CK_MECHANISM_TYPE rsa = CKM_RSA_PKCS_KEY_PAIR_GEN;
    const Template sign = Template().bytes(CKA_SIGN, yes);
    const Template shortType = Template().bytes(CKA_KEY_TYPE, shortValue);
    // Name, mechanism, templates, device result, code, requested kind and usage (kind 0: no device call).
    using Row = std::tuple<const char*, CK_MECHANISM_TYPE, Template, Template, std::optional<int32_t>, CK_RV, int, int>;
    const Row cases[] = {
        {"defaults", CKM_EC_KEY_PAIR_GEN, curve(p384).ulong(CKA_MODULUS_BITS, 3072), {}, {}, CKR_OK, 3, 1},
        {"rsa1024", rsa, bits(1024), sign, {}, CKR_OK, 1, 1},
        {"rsa2048", rsa, bits(2048), sign, {}, CKR_OK, 2, 1},
        {"rsa3072", rsa, bits(3072), type(CKK_RSA).bytes(CKA_SIGN, yes).bytes(CKA_DECRYPT, yes), {}, CKR_OK, 3, 3},
        {"rsa4096", rsa, bits(4096), Template().bytes(CKA_SIGN, no).bytes(CKA_DECRYPT, no), {}, CKR_OK, 4, 1},
        {"ec default curve", rsa, {}, type(CKK_EC), {}, CKR_OK, 5, 1},
        {"p384, ignoring bits", rsa, bits(1536).bytes(CKA_EC_PARAMS, p384), type(CKK_EC), {}, CKR_OK, 6, 1},
        {"p521", rsa, curve(p521), type(CKK_EC).bytes(CKA_SIGN, no).bytes(CKA_DECRYPT, yes), {}, CKR_OK, 7, 2},
        {"dsa reads no public template", rsa, bits(1536), type(CKK_DSA), {}, CKR_OK, 2, 1},
        {"rsa 1536", rsa, bits(1536).ulong(CKA_MODULUS_BITS, 2048), {}, {}, CKR_MECHANISM_INVALID, 0, 0},
        {"secp256k1", rsa, curve(secp256k1).bytes(CKA_EC_PARAMS, p256), type(CKK_EC), {}, CKR_MECHANISM_INVALID, 0, 0},
        {"short key type", rsa, {}, shortType, {}, CKR_ATTRIBUTE_VALUE_INVALID, 0, 0},
        {"device memory", rsa, {}, {}, 40, CKR_DEVICE_MEMORY, 2, 1},
        {"device memory, second code", rsa, {}, {}, 242, CKR_DEVICE_MEMORY, 2, 1},
        {"any other device refusal", rsa, {}, {}, 41, CKR_FUNCTION_FAILED, 2, 1},
    };
    for (const auto& [name, mechanism, publicTemplate, privateTemplate, deviceResult, expected, kind, usage] : cases) {
        resetFake(deviceResult, {"zelmor_generateKeyPair"});
        EXPECT_EQ(expected, generate(publicTemplate, privateTemplate, mechanism)) << name;
        const std::vector<FakeCall> calls = fakeLibrary().calls("zelmor_generateKeyPair");
        ASSERT_EQ(kind != 0 ? 1u : 0u, calls.size()) << name;
        EXPECT_EQ(expected == CKR_OK ? privateKey + 0x1000 : untouched, publicKey);
        if (kind == 0) continue;
        const ZelmorKeyPair& sent = calls[0].keyPair;
        EXPECT_EQ((std::vector<int64_t>{kind, usage, 0, 0, 0}),
                  (std::vector<int64_t>{sent.keyKind, sent.usageFlags, sent.number, sent.idLength, sent.keyFlag}));
    }
}

// The checks in their order; the standards setting accepts an empty private
// template, also a null one, but not null with a count, and takes the key
// type of a template without one from the mechanism. Handles come from the
// number the device assigns, the password from the login; the last label and
// ID go along, cut to 128 bytes.
TEST_F(KeyGeneration, ArgumentsHandlesPasswordLabelAndId) {
    addKeyPair(0);
    const Template label = Template().text(CKA_LABEL, "first").text(CKA_LABEL, std::string(200, 'L'));
    ASSERT_EQ(CKR_OK, generate({}, Template(label).bytes(CKA_ID, filled(200, 1))));
    // The fake's lowest free number.
    EXPECT_EQ((Handles{publicBase + 1, privateBase + 1}), (Handles{publicKey, privateKey}));
    const FakeCall call = fakeLibrary().calls("zelmor_generateKeyPair").at(0);
    EXPECT_EQ(std::string(128, 'L'), call.keyPair.label);
    EXPECT_EQ(defaultPin, call.password);
    EXPECT_EQ(filled(128, 1), Bytes(call.keyPair.id, call.keyPair.id + call.keyPair.idLength));
    // A shorter label or ID replaces a longer one wholly: nothing of the first stays in its field.
    fakeLibrary().clearCalls();
    ASSERT_EQ(CKR_OK, generate({}, Template().text(CKA_LABEL, "LL").text(CKA_LABEL, "S").bytes(CKA_ID, {1, 1})
                                       .bytes(CKA_ID, {2})));
    const ZelmorKeyPair replaced = fakeLibrary().calls("zelmor_generateKeyPair").at(0).keyPair;
    EXPECT_EQ((Bytes{'S', 0}), Bytes(replaced.label, replaced.label + 2));
    EXPECT_EQ((Bytes{2, 0}), Bytes(replaced.id, replaced.id + 2));
    fakeLibrary().clearCalls();
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE t[] = {{CKA_TOKEN, &token, 1}};
    CK_MECHANISM plain{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE *const a = &publicKey, *const b = &privateKey;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateKeyPair(openSession(false), nullptr, t, 1, t, 1, a, b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, nullptr, t, 1, t, 1, a, b));
    // Any mechanism parameter, a pointer or a length alone too, is refused before the templates are read.
    const struct {
        const char* name; CK_MECHANISM mechanism;
    } parameters[] = {
        {"pointer and length", {CKM_RSA_PKCS_KEY_PAIR_GEN, &token, 1}},
        {"pointer alone", {CKM_RSA_PKCS_KEY_PAIR_GEN, &token, 0}},
        {"length alone", {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 1}},
    };
    for (auto row : parameters) {
        EXPECT_EQ(CKR_MECHANISM_PARAM_INVALID, f()->C_GenerateKeyPair(session, &row.mechanism, nullptr, 0, t, 1, a, b))
            << row.name;
    }
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, nullptr, 1, t, 1, a, b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, t, 1, nullptr, 1, a, b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, t, 1, t, 0, a, b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, t, 1, t, 1, nullptr, b));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, t, 1, t, 1, a, nullptr));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_generateKeyPair"));
    reinitialiseWithStandardsMode(1);
    session = openSession(true);
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_GenerateKeyPair(session, &plain, t, 1, nullptr, 1, a, b));
    EXPECT_EQ(CKR_OK, f()->C_GenerateKeyPair(session, &plain, t, 1, nullptr, 0, a, b));
    EXPECT_EQ(CKR_OK, f()->C_GenerateKeyPair(session, &plain, t, 1, t, 1, a, b));
    // The key type from the mechanism.
    EXPECT_EQ(keyKindEcP256, fakeLibrary().calls("zelmor_generateKeyPair").at(1).keyPair.keyKind);
}

// A generated key pair whose number no handle can carry is reported as
// failed: its handles would name other objects.
TEST_F(KeyGeneration, NumberWithoutHandlesFails) {
    fakeLibrary().edit([](FakeState& state) {
        for (uint32_t number = 0; number < 0x1000; ++number)
            state.devices[defaultDevice].keyPairs.push_back(makeFakeKeyPair(number, keyKindRsa2048, "", {}));
    });
    EXPECT_EQ(CKR_FUNCTION_FAILED, generate({}, Template().bytes(CKA_SIGN, yes)));
}

}  // namespace
