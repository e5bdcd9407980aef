// Shared fixture of the object tests: records on the fake device and short
// helpers for search and attribute calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ModuleTest.h"

namespace objects_test {

using testing_support::defaultDevice;
using Bytes = std::vector<uint8_t>;
using Handles = std::vector<CK_OBJECT_HANDLE>;

constexpr CK_OBJECT_HANDLE privateBase = 0x70000000;
constexpr CK_OBJECT_HANDLE publicBase = 0x70001000;
constexpr CK_OBJECT_HANDLE certificateBase = 0x70002000;

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A value that does not fit in 32 bits where CK_ULONG has 64 (Linux).
inline CK_ULONG above32Bits(uint32_t low) {
    return static_cast<CK_ULONG>((static_cast<unsigned long long>(1) << 32) | low);
}

inline CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length) {
    return CK_ATTRIBUTE{type, value, length};
}

class ObjectsTest : public testing_support::ModuleTest {
protected:
    bool logHas(const std::string& severity, const std::string& text) const {
        return testing_support::readFile(testing_support::todaysLogFile())
                   .find("->" + severity + " ::=>" + text + "\n") != std::string::npos;
    }

    // Adds a key pair / certificate to the default device; returns the record.
    ZelmorKeyPair addKeyPair(uint32_t number, uint32_t keyKind = keyKindRsa2048, const std::string& label = "",
                             const Bytes& id = Bytes()) {
        ZelmorKeyPair keyPair = makeFakeKeyPair(number, keyKind, label, id);
        fakeLibrary().addKeyPair(defaultDevice, keyPair);
        return keyPair;
    }
    ZelmorCertificate addCertificate(uint32_t number, const Bytes& der, const std::string& label = "",
                                     const Bytes& id = Bytes()) {
        ZelmorCertificate certificate = makeFakeCertificate(number, der, label, id);
        fakeLibrary().addCertificate(defaultDevice, certificate);
        return certificate;
    }

    // C_FindObjectsInit with the template, then every handle in pages of 16.
    Handles findAll(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> search) {
        Handles found;
        CK_RV rv = f()->C_FindObjectsInit(session, search.empty() ? nullptr : search.data(),
                                          static_cast<CK_ULONG>(search.size()));
        EXPECT_EQ(CKR_OK, rv);
        if (rv != CKR_OK) return found;
        for (;;) {
            Handles page(16);
            CK_ULONG count = 99;
            EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), 16, &count));
            if (count == 0 || count > 16) break;
            found.insert(found.end(), page.begin(), page.begin() + count);
        }
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
        return found;
    }
    // A search with the other entries, then CKA_CLASS objectClass last.
    Handles findByClass(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
                        std::vector<CK_ATTRIBUTE> others = {}) {
        others.push_back(attribute(CKA_CLASS, &objectClass, sizeof objectClass));
        return findAll(session, others);
    }

    // The attribute's bytes, read with a length query and a second call.
    Bytes readAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        CK_ATTRIBUTE entry = attribute(type, nullptr, 12345);
        EXPECT_EQ(CKR_OK, f()->C_GetAttributeValue(session, object, &entry, 1));
        Bytes value(entry.ulValueLen + 1, 0xEE);
        entry.pValue = value.data();
        EXPECT_EQ(CKR_OK, f()->C_GetAttributeValue(session, object, &entry, 1));
        value.resize(entry.ulValueLen);
        return value;
    }
};

}  // namespace objects_test
