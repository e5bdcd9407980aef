// Key pairs, signature lengths, PINs and certificates on one device, through
// the library's interface; the certificates are made with libcrypto.
#include "LibcryptoChecks.h"
#include "SimTestSupport.h"

#include <array>
#include <openssl/x509.h>

namespace {

using libcrypto::derOf;

// DER of a certificate for CN=Alice,O=Example Org from CN=Zelmor Test CA,O=Zelmor
// Labs with serial 0x80C0, and of its subject and issuer names.
std::array<Bytes, 3> certificateDer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 0x80C0);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400L * 365);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME* issuer = X509_get_issuer_name(certificate);
    for (const auto& [name, field, text] : {std::tuple{subject, "O", "Example Org"},
                                            {subject, "CN", "Alice"},
                                            {issuer, "O", "Zelmor Labs"},
                                            {issuer, "CN", "Zelmor Test CA"}})
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(text), -1, -1, 0);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, EVP_sha256());
    std::array<Bytes, 3> der{derOf(certificate, i2d_X509), derOf(subject, i2d_X509_NAME), derOf(issuer, i2d_X509_NAME)};
    X509_free(certificate);
    EVP_PKEY_free(key);
    return der;
}

class DeviceTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        createDevice("K1", 4, 3);
    }
    int32_t validate(const char* pin) { return zelmor_validatePassword("K1", pin, 1, &tries, instance); }

    int32_t tries = -1;
};

// A kind and the length of its public value: modulus bytes, or 04||X||Y.
class EveryKeyKind : public DeviceTest, public ::testing::WithParamInterface<std::pair<uint32_t, int32_t>> {};

}  // namespace

// The end-to-end tests check the signatures themselves with libcrypto, and
// the lengths of RSA 3072 and 4096 (whose keys take long to make); here the
// lengths: a buffer one byte short of the signature answers with the length needed.
TEST_P(EveryKeyKind, GivesThePublicValueAndSignatureLengthsOfItsKind) {
    const bool isEc = GetParam().first >= keyKindEcP256;
    const ZelmorKeyPair key = generate(instance, "K1", GetParam().first);
    ASSERT_EQ(key.publicValueLength, GetParam().second);
    uint32_t oneShort = static_cast<uint32_t>(key.publicValueLength - (isEc ? 2 : 1));
    uint8_t output[512];
    EXPECT_EQ(zelmor_signHash("K1", key.identifier, defaultPin, output, 32, output, &oneShort, false, instance),
              result::bufferTooSmall);
    EXPECT_EQ(oneShort, key.publicValueLength - (isEc ? 1 : 0)) << "the length needed";
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKeyKind,
                         ::testing::Values(std::pair{keyKindRsa1024, 128}, std::pair{keyKindRsa2048, 256},
                                           std::pair{keyKindEcP256, 65}, std::pair{keyKindEcP384, 97},
                                           std::pair{keyKindEcP521, 133}),
                         [](const auto& info) { return "kind" + std::to_string(info.param.first); });

TEST_F(DeviceTest, NumbersStartAtZeroTheLowestFreeIsReusedAndAFullDeviceAnswers40) {
    ZelmorKeyPair keys[3];
    for (uint32_t n = 0; n < 3; ++n) EXPECT_EQ((keys[n] = generate(instance, "K1", keyKindEcP256)).number, n);
    EXPECT_EQ(zelmor_deleteKeyPair("K1", keys[1].identifier, defaultPin, false, instance), result::ok);
    EXPECT_EQ(signWith(instance, "K1", keys[1].identifier), result::objectNotFound);
    ZelmorKeyPair request{};
    request.keyKind = keyKindEcP384;
    std::memset(request.label, 'L', zelmorLabelSize);  // 128 bytes, the terminator in the byte after
    ASSERT_EQ(zelmor_generateKeyPair("K1", defaultPin, &request, instance), result::ok);
    EXPECT_EQ(request.number, 1u);
    EXPECT_NE(std::memcmp(request.identifier, keys[1].identifier, 16), 0);
    EXPECT_EQ(std::string(zelmor_getKeyPairList("K1", instance).at(2).label), std::string(128, 'L'));
    generate(instance, "K1", keyKindEcP256);  // the fourth of four
    EXPECT_EQ(generateResult(instance, "K1"), result::deviceMemoryFull);
    EXPECT_EQ(zelmor_getKeyPairList("K1", instance).size(), 4u);
}

TEST_F(DeviceTest, WrongPinsOnAnyOperationUseTriesUntilLockedAndTheRightOneRestoresThem) {
    const ZelmorKeyPair key = generate(instance, "K1", keyKindEcP256);
    EXPECT_EQ(std::make_pair(validate("999999"), tries), std::make_pair(result::pinIncorrect, 2));
    EXPECT_EQ(std::make_pair(validate(defaultPin), tries), std::make_pair(result::ok, 3));
    // An empty PIN is refused without using a try; a wrong one uses a try whatever the operation.
    EXPECT_EQ(std::make_pair(validate(""), tries), std::make_pair(result::pinIncorrect, 3));
    EXPECT_EQ(signWith(instance, "K1", key.identifier, ""), result::pinIncorrect);
    EXPECT_EQ(zelmor_getTokenInfo("K1", instance).remainingPinAttempts, 3);
    EXPECT_EQ(signWith(instance, "K1", key.identifier, "wrong1"), result::pinIncorrect);
    EXPECT_EQ(zelmor_deleteKeyPair("K1", key.identifier, "wrong2", false, instance), result::pinIncorrect);
    EXPECT_EQ(zelmor_getTokenInfo("K1", instance).remainingPinAttempts, 1);
    EXPECT_EQ(std::make_pair(validate("000000"), tries), std::make_pair(result::pinLocked, 0));
    EXPECT_EQ(validate(defaultPin), result::pinLocked);
    EXPECT_EQ(zelmor_getKeyPairList("K1", instance).size(), 1u) << "nothing deleted";
    zelmor::sim::unlockDevice(zelmor::sim::DeviceStore(storeFolder), "K1", std::nullopt);
    EXPECT_EQ(std::make_pair(validate(defaultPin), tries), std::make_pair(result::ok, 3));
    EXPECT_FALSE(zelmor_changeUserPassword("K1", defaultPin, "123", &tries, false, false, instance)) << "too short";
    // A new PIN set elsewhere: the one this instance verified before is no longer trusted.
    zelmor::sim::unlockDevice(zelmor::sim::DeviceStore(storeFolder), "K1", std::string("777777"));
    EXPECT_EQ(validate(defaultPin), result::pinIncorrect);
    EXPECT_EQ(validate("777777"), result::ok);
}

TEST_F(DeviceTest, CertificatesParseAndImportListAndDeleteUpToCapacity) {
    const auto [der, subject, issuer] = certificateDer();
    const auto size = static_cast<int32_t>(der.size());
    CertificateDetails details{};
    ASSERT_EQ(zelmor_getCertificateDetails(der.data(), size, &details, nullptr), result::ok);
    EXPECT_EQ(details.subject, "CN=Alice,O=Example Org");
    EXPECT_EQ(details.issuer, "CN=Zelmor Test CA,O=Zelmor Labs");
    EXPECT_EQ(zelmor_getCertificateSubject(der.data(), size, nullptr), subject);
    EXPECT_EQ(zelmor_getCertificateIssuer(der.data(), size, nullptr), issuer);
    // 0x80C0 needs a leading zero byte to stay positive: the whole INTEGER is 02 03 00 80 C0.
    EXPECT_EQ(zelmor_getCertificateSerialDER(der.data(), size, nullptr), (Bytes{0x02, 0x03, 0x00, 0x80, 0xC0}));
    const Bytes cut(der.begin(), der.end() - 1);  // its own buffer, so an over-read shows under ASan
    EXPECT_EQ(zelmor_getCertificateDetails(cut.data(), size - 1, &details, nullptr), result::dataInvalid);

    createDevice("C1", 2);
    ZelmorCertificate record{}, junk{};
    std::memcpy(record.value, der.data(), der.size());
    record.valueLength = size;
    std::memset(record.label, 'Q', sizeof record.label);  // 128 bytes, no terminator
    junk.valueLength = 300;
    EXPECT_EQ(zelmor_importCertificate("C1", defaultPin, &junk, instance), result::dataInvalid);
    junk.valueLength = zelmorCertificateValueSize + 1;
    EXPECT_EQ(zelmor_importCertificate("C1", defaultPin, &junk, instance), result::invalidArgument);
    ASSERT_EQ(zelmor_importCertificate("C1", defaultPin, &record, instance), result::ok);
    ASSERT_EQ(zelmor_importCertificate("C1", defaultPin, &record, instance), result::ok);  // number 1; deleted below
    EXPECT_EQ(zelmor_importCertificate("C1", defaultPin, &record, instance), result::deviceMemoryFull);
    const ZelmorCertificate stored = zelmor_getCertificateList("C1", instance).at(0);
    EXPECT_EQ(std::string(stored.label, sizeof stored.label), std::string(128, 'Q'));
    EXPECT_EQ(zelmor_deleteCertificate("C1", record.identifier, defaultPin, instance), result::ok);
    EXPECT_EQ(zelmor_deleteCertificate("C1", record.identifier, defaultPin, instance), result::objectNotFound);
    EXPECT_EQ(zelmor_getCertificateList("C1", instance).at(0).number, 0u) << "the other one is left";
}
