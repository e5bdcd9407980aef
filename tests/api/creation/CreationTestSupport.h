// Shared pieces of the object-creation tests: certificates the fake parses,
// the CA folder and its home setting, and a logged-in read-write session.
#pragma once

#include <cstdlib>
#include <numeric>
#include <optional>

#include "../objects/ObjectsTest.h"

namespace creation_tests {

using namespace objects_test;

const std::string emDash = "\xE2\x80\x94";

inline Bytes filled(std::size_t length, uint8_t first) {
    Bytes value(length);
    std::iota(value.begin(), value.end(), first);
    return value;
}
// Stand-in DER: distinct bytes per name; the fake parses what it is told to.
inline Bytes der(const std::string& name) { return bytesOf("\x30\x82" + name); }
inline void defineCertificate(const Bytes& value, const std::string& subject, const std::string& issuer) {
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[value].details.subject = subject;
        state.certificateInfo[value].details.issuer = issuer;
    });
}
// ZELMOR_HOME through the C runtime's own environment, which the module reads (under Wine too).
inline void setHome(const std::string& value) {
#if defined(_WIN32)
    _putenv_s("ZELMOR_HOME", value.c_str());
#else
    setenv("ZELMOR_HOME", value.c_str(), 1);
#endif
}

// A read-write session, a logged-in user, a CA home folder of this test
// process (for the rest of the process) without CA files, and a leaf
// certificate the fake parses.
class CreationTest : public ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        setHome(testing_support::testFolder());
        defineCertificate(leaf, "CN=Leaf,O=Org", "CN=Inter,O=Org");
        session = openSession(true);
        login(session);
        fakeLibrary().clearCalls();
    }
    // Empties the device and the CA folder, forces a result on the named calls, forgets the calls.
    void resetFake(std::optional<int32_t> result = {}, const std::vector<std::string>& forced = {}) {
        fakeLibrary().edit([](FakeState& state) {
            state.devices[defaultDevice].certificates.clear();
            state.devices[defaultDevice].keyPairs.clear();
            state.forcedResults.clear();
            state.caFiles.clear();
        });
        for (const std::string& operation : forced) if (result) fakeLibrary().setResult(operation, *result);
        fakeLibrary().clearCalls();
    }
    // Both templates get CKA_TOKEN, which the module ignores, so neither is empty.
    CK_RV generate(Template publicTemplate, Template privateTemplate,
                   CK_MECHANISM_TYPE type = CKM_RSA_PKCS_KEY_PAIR_GEN) {
        CK_MECHANISM mechanism{type, nullptr, 0};
        auto publicEntries = publicTemplate.bytes(CKA_TOKEN, yes).attributes();
        auto privateEntries = privateTemplate.bytes(CKA_TOKEN, yes).attributes();
        publicKey = privateKey = untouched;
        return f()->C_GenerateKeyPair(session, &mechanism, publicEntries.data(), publicEntries.size(),
                                      privateEntries.data(), privateEntries.size(), &publicKey, &privateKey);
    }
    CK_RV create(const Template& t, CK_OBJECT_HANDLE* handle) {
        std::vector<CK_ATTRIBUTE> entries = t.attributes();
        return f()->C_CreateObject(session, entries.data(), entries.size(), handle);
    }

    const Bytes leaf = der("leaf");
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE publicKey = untouched;
    CK_OBJECT_HANDLE privateKey = untouched;
};

}  // namespace creation_tests
