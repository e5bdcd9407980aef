#include "TokenSetup.h"

#include "CertificateMaker.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace bench {

namespace {

CK_BBOOL yes = CK_TRUE;
CK_BYTE publicExponent[] = {0x01, 0x00, 0x01};
// DER of the named curve P-256 (1.2.840.10045.3.1.7).
CK_BYTE p256Parameters[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length)
{
    CK_ATTRIBUTE entry;
    entry.type = type;
    entry.pValue = value;
    entry.ulValueLen = length;
    return entry;
}

std::vector<CK_OBJECT_HANDLE> findByLabel(const Session& session, CK_OBJECT_CLASS objectClass, std::string label)
{
    return findObjects(session, {attribute(CKA_CLASS, &objectClass, sizeof objectClass),
                                 attribute(CKA_LABEL, &label[0], label.size())});
}

size_t countClass(const Session& session, CK_OBJECT_CLASS objectClass)
{
    return findObjects(session, {attribute(CKA_CLASS, &objectClass, sizeof objectClass)}).size();
}

KeyPairHandles generateKeyPair(const Session& session, bool rsa, std::string label, std::string id)
{
    CK_MECHANISM mechanism = {rsa ? CKM_RSA_PKCS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG modulusBits = 2048;
    CK_KEY_TYPE keyType = rsa ? CKK_RSA : CKK_EC;
    std::vector<CK_ATTRIBUTE> publicTemplate = {
        attribute(CKA_TOKEN, &yes, sizeof yes),
        attribute(CKA_VERIFY, &yes, sizeof yes),
        attribute(CKA_LABEL, &label[0], label.size()),
        attribute(CKA_ID, &id[0], id.size()),
    };
    if (rsa) {
        publicTemplate.push_back(attribute(CKA_MODULUS_BITS, &modulusBits, sizeof modulusBits));
        publicTemplate.push_back(attribute(CKA_PUBLIC_EXPONENT, publicExponent, sizeof publicExponent));
    } else {
        publicTemplate.push_back(attribute(CKA_EC_PARAMS, p256Parameters, sizeof p256Parameters));
    }
    std::vector<CK_ATTRIBUTE> privateTemplate = {
        attribute(CKA_TOKEN, &yes, sizeof yes),
        attribute(CKA_PRIVATE, &yes, sizeof yes),
        attribute(CKA_SENSITIVE, &yes, sizeof yes),
        attribute(CKA_SIGN, &yes, sizeof yes),
        attribute(CKA_KEY_TYPE, &keyType, sizeof keyType),
        attribute(CKA_LABEL, &label[0], label.size()),
        attribute(CKA_ID, &id[0], id.size()),
    };
    KeyPairHandles handles;
    check(session.functions()->C_GenerateKeyPair(session.handle(), &mechanism, publicTemplate.data(),
                                                 publicTemplate.size(), privateTemplate.data(),
                                                 privateTemplate.size(), &handles.publicKey, &handles.privateKey),
          "C_GenerateKeyPair (" + label + ")");
    return handles;
}

KeyPairHandles findOrGenerate(const Session& session, bool rsa, const std::string& label, const std::string& id)
{
    std::vector<CK_OBJECT_HANDLE> publicKeys = findByLabel(session, CKO_PUBLIC_KEY, label);
    std::vector<CK_OBJECT_HANDLE> privateKeys = findByLabel(session, CKO_PRIVATE_KEY, label);
    if (!publicKeys.empty() && !privateKeys.empty()) return {publicKeys.front(), privateKeys.front()};
    std::cout << "generating " << label << std::endl;
    return generateKeyPair(session, rsa, label, id);
}

std::string numbered(const char* prefix, unsigned number)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s%03u", prefix, number);
    return text;
}

} // namespace

BenchKeys prepareBenchKeys(const Session& session)
{
    BenchKeys keys;
    keys.rsa = findOrGenerate(session, true, "bench-rsa2048", "bench-rsa2048-id");
    keys.ec = findOrGenerate(session, false, "bench-p256", "bench-p256-id");
    return keys;
}

void populateToken(const Session& session, unsigned count)
{
    // The two signing key pairs are on the token already.
    size_t keyPairs = countClass(session, CKO_PRIVATE_KEY);
    size_t wantedKeyPairs = count + 2;
    if (keyPairs < wantedKeyPairs) {
        std::cout << "generating " << wantedKeyPairs - keyPairs << " RSA-2048 key pairs" << std::flush;
        for (size_t number = keyPairs; number < wantedKeyPairs; ++number) {
            generateKeyPair(session, true, numbered("bench-pair-", number), numbered("pair-id-", number));
            if (number % 10 == 0) std::cout << "." << std::flush;
        }
        std::cout << std::endl;
    }

    size_t certificates = countClass(session, CKO_CERTIFICATE);
    if (certificates >= count) return;
    std::cout << "creating " << count - certificates << " certificates" << std::endl;
    std::vector<MadeCertificate> made = makeCertificates(count, "Zelmor Bench Certificate");
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
    for (size_t number = certificates; number < count; ++number) {
        MadeCertificate& certificate = made[number];
        std::string label = numbered("bench-cert-", static_cast<unsigned>(number));
        std::string id = numbered("cert-id-", static_cast<unsigned>(number));
        std::vector<CK_ATTRIBUTE> object = {
            attribute(CKA_CLASS, &certificateClass, sizeof certificateClass),
            attribute(CKA_CERTIFICATE_TYPE, &certificateType, sizeof certificateType),
            attribute(CKA_TOKEN, &yes, sizeof yes),
            attribute(CKA_LABEL, &label[0], label.size()),
            attribute(CKA_ID, &id[0], id.size()),
            attribute(CKA_SUBJECT, certificate.subjectDer.data(), certificate.subjectDer.size()),
            attribute(CKA_VALUE, certificate.der.data(), certificate.der.size()),
        };
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        check(session.functions()->C_CreateObject(session.handle(), object.data(), object.size(), &handle),
              "C_CreateObject (" + label + ")");
    }
}

} // namespace bench
