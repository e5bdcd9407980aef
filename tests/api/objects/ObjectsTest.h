// Shared fixture of the object and creation tests: templates that own their
// values, the log since a mark, and short helpers for searches and reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ModuleTest.h"

namespace objects_test {

using testing_support::defaultDevice;
using testing_support::defaultPin;
using Bytes = std::vector<uint8_t>;
using Handles = std::vector<CK_OBJECT_HANDLE>;

constexpr CK_OBJECT_HANDLE privateBase = 0x70000000;
constexpr CK_OBJECT_HANDLE publicBase = 0x70001000;
constexpr CK_OBJECT_HANDLE certificateBase = 0x70002000;
constexpr CK_OBJECT_HANDLE untouched = 0xDEADBEEF;
const Bytes yes{1};
const Bytes no{0};
const Bytes none{};
// DER object identifiers of the named curves.
const Bytes p256{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
const Bytes p384{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};
const Bytes p521{0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x23};

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline Bytes ulongBytes(CK_ULONG value) {
    return Bytes(reinterpret_cast<const uint8_t*>(&value), reinterpret_cast<const uint8_t*>(&value + 1));
}

// A template that owns its values, so that tables can hold templates.
class Template {
public:
    // length may differ from the value's size; null gives a null pointer.
    Template& sized(CK_ATTRIBUTE_TYPE type, const Bytes& value, CK_ULONG length, bool null = false) {
        entries.emplace_back(type, value, length, null);
        return *this;
    }
    Template& bytes(CK_ATTRIBUTE_TYPE type, const Bytes& value) { return sized(type, value, value.size()); }
    Template& text(CK_ATTRIBUTE_TYPE type, const std::string& value) { return bytes(type, bytesOf(value)); }
    Template& ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) { return bytes(type, ulongBytes(value)); }
    // The entries as the module gets them, pointing into this template.
    std::vector<CK_ATTRIBUTE> attributes() const {
        std::vector<CK_ATTRIBUTE> all;
        for (auto& [type, value, length, null] : entries) all.push_back({type, null ? nullptr : value.data(), length});
        return all;
    }

private:
    // mutable: the module gets non-const pointers.
    mutable std::vector<std::tuple<CK_ATTRIBUTE_TYPE, Bytes, CK_ULONG, bool>> entries;
};

class ObjectsTest : public testing_support::ModuleTest {
protected:
    // Whether the log written since the last mark holds text.
    void markLog() { logStart = testing_support::readFile(testing_support::todaysLogFile()).size(); }
    bool logged(const std::string& text) const {
        const std::string all = testing_support::readFile(testing_support::todaysLogFile());
        return all.size() > logStart && all.find(text, logStart) != std::string::npos;
    }
    ZelmorKeyPair addKeyPair(uint32_t number, uint32_t kind = keyKindRsa2048, const std::string& label = "",
                             const Bytes& id = {}) {
        fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(number, kind, label, id));
        return makeFakeKeyPair(number, kind, label, id);
    }
    ZelmorCertificate addCertificate(uint32_t number, const Bytes& der, const std::string& label = "",
                                     const Bytes& id = {}) {
        fakeLibrary().addCertificate(defaultDevice, makeFakeCertificate(number, der, label, id));
        return makeFakeCertificate(number, der, label, id);
    }
    // The handles found with the template (at most 64), after C_FindObjectsFinal.
    Handles findAll(CK_SESSION_HANDLE session, const Template& search = {}) {
        std::vector<CK_ATTRIBUTE> entries = search.attributes();
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsInit(session, entries.data(), entries.size()));
        Handles found(64);
        CK_ULONG count = 0;
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, found.data(), 64, &count));
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
        found.resize(std::min<CK_ULONG>(count, 64));
        return found;
    }
    // The attribute's bytes, read with a length query and a second call.
    Bytes readAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        CK_ATTRIBUTE entry{type, nullptr, 12345};
        EXPECT_EQ(CKR_OK, f()->C_GetAttributeValue(session, object, &entry, 1));
        Bytes value(entry.ulValueLen + 1, 0xEE);
        entry.pValue = value.data();
        EXPECT_EQ(CKR_OK, f()->C_GetAttributeValue(session, object, &entry, 1));
        value.resize(entry.ulValueLen);
        return value;
    }

    std::size_t logStart = testing_support::readFile(testing_support::todaysLogFile()).size();
};

}  // namespace objects_test
