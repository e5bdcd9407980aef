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
    CK_ATTRIBUTE entry;
    entry.type = type;
    entry.pValue = value;
    entry.ulValueLen = length;
    return entry;
}

class ObjectsTest : public testing_support::ModuleTest {
protected:
    std::string log() const { return testing_support::readFile(testing_support::todaysLogFile()); }
    bool logHas(const std::string& severity, const std::string& text) const {
        return log().find("->" + severity + " ::=>" + text + "\n") != std::string::npos;
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

    // C_FindObjectsInit with the template, then every handle in pages of pageSize.
    Handles findAll(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> search, CK_ULONG pageSize = 16) {
        Handles found;
        CK_RV rv = f()->C_FindObjectsInit(session, search.empty() ? nullptr : search.data(),
                                          static_cast<CK_ULONG>(search.size()));
        EXPECT_EQ(CKR_OK, rv);
        if (rv != CKR_OK) return found;
        for (;;) {
            Handles page(pageSize);
            CK_ULONG count = 99;
            EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), pageSize, &count));
            if (count == 0 || count > pageSize) break;
            found.insert(found.end(), page.begin(), page.begin() + count);
        }
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
        return found;
    }
    Handles findByClass(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass) {
        return findAll(session, {attribute(CKA_CLASS, &objectClass, sizeof objectClass)});
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
    CK_ULONG readUlong(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
        Bytes value = readAttribute(session, object, type);
        EXPECT_EQ(sizeof(CK_ULONG), value.size()) << "type " << type;
        CK_ULONG number = 0;
        if (value.size() == sizeof number) std::memcpy(&number, value.data(), sizeof number);
        return number;
    }
};

}  // namespace objects_test
