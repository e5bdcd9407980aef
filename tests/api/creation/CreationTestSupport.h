// Shared pieces of the object-creation tests: template building, the CA
// folder setting, certificates the fake can parse, and log inspection.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "ModuleTest.h"

namespace creation_tests {

using Bytes = std::vector<uint8_t>;
const CK_OBJECT_HANDLE untouched = 0xDEADBEEF;

// A PKCS#11 template whose values stay where they are while it grows.
class Template {
public:
    Template() = default;
    Template(Template&&) = default;  // a moved deque keeps its values in place

    Template& bytes(CK_ATTRIBUTE_TYPE type, const Bytes& value) {
        values.push_back(value);
        return raw(type, values.back().data(), static_cast<CK_ULONG>(value.size()));
    }
    Template& text(CK_ATTRIBUTE_TYPE type, const std::string& value) { return bytes(type, Bytes(value.begin(), value.end())); }
    Template& ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        Bytes data(sizeof value);
        std::memcpy(data.data(), &value, sizeof value);
        return bytes(type, data);
    }
    Template& boolean(CK_ATTRIBUTE_TYPE type, bool value) { return bytes(type, Bytes{static_cast<uint8_t>(value ? 1 : 0)}); }
    Template& raw(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length) {
        attributes.push_back(CK_ATTRIBUTE{type, value, length});
        return *this;
    }
    CK_ATTRIBUTE_PTR data() { return attributes.data(); }
    CK_ULONG count() const { return static_cast<CK_ULONG>(attributes.size()); }

private:
    std::deque<Bytes> values;
    std::vector<CK_ATTRIBUTE> attributes;
};

inline Bytes filled(std::size_t length, uint8_t first) {
    Bytes value(length);
    for (std::size_t i = 0; i < length; ++i) value[i] = static_cast<uint8_t>(first + i);
    return value;
}

// Stand-in DER: distinct bytes per name; the fake parses what it is told to.
inline Bytes der(const std::string& name) {
    Bytes value(name.size() + 2);
    value[0] = 0x30;
    value[1] = 0x82;
    std::copy(name.begin(), name.end(), value.begin() + 2);
    return value;
}

// The fake parses value into these distinguished names.
inline void defineCertificate(const Bytes& value, const std::string& subject, const std::string& issuer) {
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[value] = FakeCertificateInfo();
        state.certificateInfo[value].details.subject = subject;
        state.certificateInfo[value].details.issuer = issuer;
    });
}

// A template both imports accept: the certificate der("leaf") or an RSA
// private key, as objectClass says.
inline Template objectOfClass(CK_OBJECT_CLASS objectClass) {
    Template t;
    t.ulong(CKA_CLASS, objectClass).bytes(CKA_VALUE, der("leaf"));
    t.bytes(CKA_MODULUS, Bytes{1}).bytes(CKA_PRIVATE_EXPONENT, Bytes{2}).bytes(CKA_PRIME_1, Bytes{3});
    return t;
}

inline void setCaFiles(const std::vector<Bytes>& files) {
    fakeLibrary().edit([&](FakeState& state) {
        state.caFiles.clear();
        for (std::size_t i = 0; i < files.size(); ++i) state.caFiles.push_back({"ca" + std::to_string(i) + ".cer", files[i]});
    });
}

// ZELMOR_HOME through the C runtime's own environment, which is the one the
// module reads (under Wine too); an empty value removes it there.
inline void setHome(const std::string& value, bool unset = false) {
#if defined(_WIN32)
    (void)unset;
    _putenv_s("ZELMOR_HOME", value.c_str());
#else
    if (unset) unsetenv("ZELMOR_HOME"); else setenv("ZELMOR_HOME", value.c_str(), 1);
#endif
}

#if defined(_WIN32)
const char separator = '\\';
#else
const char separator = '/';
#endif

inline std::string caFolderUnder(const std::string& home) {
    return home + separator + "ZelmorDSC" + separator + "Certificates";
}

// The log text written since construction.
class LogWatch {
public:
    LogWatch() : start(testing_support::readFile(testing_support::todaysLogFile()).size()) {}
    bool contains(const std::string& line) const {
        std::string all = testing_support::readFile(testing_support::todaysLogFile());
        return all.size() > start && all.find(line, start) != std::string::npos;
    }

private:
    std::size_t start;
};

const std::string emDash = "\xE2\x80\x94";

// Base fixture: a read-write session, a logged-in user, a CA home folder of
// this test process, no CA files, and a leaf certificate the fake parses.
class CreationTest : public testing_support::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        home = testing_support::testFolder();
        setHome(home);
        defineCertificate(leaf, "CN=Leaf,O=Org", "CN=Inter,O=Org");
        session = openSession(true);
        login(session);
        fakeLibrary().clearCalls();
    }
    void TearDown() override {
        setHome("", true);
        ModuleTest::TearDown();
    }

    CK_RV create(Template& t, CK_OBJECT_HANDLE* handle) { return f()->C_CreateObject(session, t.data(), t.count(), handle); }
    std::vector<FakeCall> imports() const { return fakeLibrary().calls("zelmor_importCertificate"); }
    // Device calls other than the monitor's polls, which may come at any time.
    std::size_t deviceCalls() const {
        std::size_t count = 0;
        for (const FakeCall& call : fakeLibrary().calls()) count += call.operation != "zelmor_getConnectedDeviceList";
        return count;
    }

    const Bytes leaf = der("leaf");
    std::string home;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

}  // namespace creation_tests
