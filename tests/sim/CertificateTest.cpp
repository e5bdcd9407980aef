// Certificate parsing, the CA-folder reader, and certificates on a device.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <cstring>
#include <sys/stat.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

class CertificateTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        caKey = makeEcKey();
        leafKey = makeEcKey();
        ca = makeCertificate("Zelmor Test CA", "Zelmor Labs", caKey.get(), nullptr, nullptr, 1);
        leaf = makeCertificate("Alice", "Example Org", leafKey.get(), ca.get(), caKey.get(), 0x80C0);
    }
    Pkey caKey, leafKey;
    Certificate ca, leaf;
};

}  // namespace

TEST_F(CertificateTest, ParsersGiveNamesAsTextAndDerAndRefuseJunk) {
    const Bytes der = derOf(leaf.get());
    const auto size = static_cast<int32_t>(der.size());
    CertificateDetails details{};
    ASSERT_EQ(zelmor_getCertificateDetails(der.data(), size, &details, nullptr), result::ok);
    EXPECT_EQ(details.subject, "CN=Alice,O=Example Org");
    EXPECT_EQ(details.issuer, "CN=Zelmor Test CA,O=Zelmor Labs");
    EXPECT_EQ(details.value1, 3);
    EXPECT_EQ(zelmor_getCertificateSubject(der.data(), size, nullptr),
              derOf(X509_get_subject_name(leaf.get()), i2d_X509_NAME));
    EXPECT_EQ(zelmor_getCertificateIssuer(der.data(), size, nullptr),
              derOf(X509_get_subject_name(ca.get()), i2d_X509_NAME));
    // 0x80C0 needs a leading zero byte to stay positive: the whole INTEGER is 02 03 00 80 C0.
    EXPECT_EQ(zelmor_getCertificateSerialDER(der.data(), size, nullptr), (Bytes{0x02, 0x03, 0x00, 0x80, 0xC0}));

    const Bytes cut(der.begin(), der.end() - 1);  // its own buffer, so an over-read shows under ASan
    EXPECT_NE(zelmor_getCertificateDetails(cut.data(), size - 1, &details, nullptr), result::ok);
    EXPECT_NE(zelmor_getCertificateDetails(der.data(), -1, &details, nullptr), result::ok);
    const Bytes junk = randomData(200);
    EXPECT_TRUE(zelmor_getCertificateSubject(junk.data(), 200, nullptr).empty());
    EXPECT_TRUE(zelmor_getCertificateSerialDER(nullptr, 10, nullptr).empty());
}

TEST_F(CertificateTest, FolderReaderConvertsPemAndListsInNameOrder) {
    const std::string folder = storeFolder() + "-ca";
    ::mkdir(folder.c_str(), 0700);
    writeFile(folder + "/b-leaf.pem", pemOf(leaf.get()));
    writeFile(folder + "/a-root.der", derOf(ca.get()));
    writeFile(folder + "/c-junk.crt", std::string("-----BEGIN CERTIFICATE-----\nnot base64\n"));
    writeFile(folder + "/d-upper.CER", derOf(ca.get()));
    writeFile(folder + "/e-text.txt", pemOf(ca.get()));
    ::mkdir((folder + "/f-folder.pem").c_str(), 0700);
    ::mkdir((folder + "/sub").c_str(), 0700);
    writeFile(folder + "/sub/g-nested.pem", pemOf(ca.get()));

    const ZelmorFileList files =
        zelmor_getFilesWithExtensionsAndConvertDER(folder.c_str(), {".cer", ".der", ".pem", ".crt"}, nullptr);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].first, "a-root.der");
    EXPECT_EQ(files[0].second, derOf(ca.get()));
    EXPECT_EQ(files[1].first, "b-leaf.pem");
    EXPECT_EQ(files[1].second, derOf(leaf.get()));
    EXPECT_EQ(files[2].first, "c-junk.crt");
    EXPECT_TRUE(files[2].second.empty());
    EXPECT_EQ(files[3].first, "d-upper.CER");

    EXPECT_TRUE(zelmor_getFilesWithExtensionsAndConvertDER((folder + "/none").c_str(), {".pem"}, nullptr).empty());
    std::system(("rm -rf '" + folder + "'").c_str());
}

TEST_F(CertificateTest, ImportListAndDeleteOnTheDevice) {
    createDevice("C1", 2);
    ZelmorInstance instance = openInstance();
    const Bytes der = derOf(leaf.get());
    ZelmorCertificate record{};
    std::memcpy(record.value, der.data(), der.size());
    record.valueLength = static_cast<int32_t>(der.size());
    std::memset(record.label, 'Q', sizeof record.label);  // 128 bytes, no terminator
    record.idLength = 2;
    record.id[0] = 9;
    ASSERT_EQ(zelmor_importCertificate("C1", defaultPin, &record, instance), result::ok);
    EXPECT_EQ(record.number, 0u);

    const ZelmorCertificate stored = zelmor_getCertificateList("C1", instance).at(0);
    EXPECT_EQ(std::memcmp(stored.identifier, record.identifier, 16), 0);
    EXPECT_EQ(Bytes(stored.value, stored.value + stored.valueLength), der);
    EXPECT_EQ(std::string(stored.label, sizeof stored.label), std::string(128, 'Q'));
    EXPECT_EQ(stored.idLength, 2);

    ZelmorCertificate second = record;
    ASSERT_EQ(zelmor_importCertificate("C1", defaultPin, &second, instance), result::ok);
    EXPECT_EQ(second.number, 1u);
    EXPECT_EQ(zelmor_importCertificate("C1", defaultPin, &second, instance), ZelmorResult::deviceMemoryFull);

    EXPECT_EQ(zelmor_deleteCertificate("C1", record.identifier, defaultPin, instance), result::ok);
    EXPECT_EQ(zelmor_deleteCertificate("C1", record.identifier, defaultPin, instance), result::objectNotFound);
    ASSERT_EQ(zelmor_getCertificateList("C1", instance).size(), 1u);
    EXPECT_EQ(zelmor_getCertificateList("C1", instance)[0].number, 1u);
}

TEST_F(CertificateTest, ImportRefusesWhatIsNotACertificate) {
    createDevice("C2");
    ZelmorInstance instance = openInstance();
    ZelmorCertificate record{};
    const Bytes junk = randomData(300);
    std::memcpy(record.value, junk.data(), junk.size());
    record.valueLength = 300;
    EXPECT_EQ(zelmor_importCertificate("C2", defaultPin, &record, instance), result::dataInvalid);
    record.valueLength = 3073;
    EXPECT_EQ(zelmor_importCertificate("C2", defaultPin, &record, instance), result::invalidArgument);
    EXPECT_TRUE(zelmor_getCertificateList("C2", instance).empty());
}
