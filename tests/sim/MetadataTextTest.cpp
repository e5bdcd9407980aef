// The metadata file format: round trips, and refusal of damaged or hostile text.
#include "store/MetadataText.h"

#include <gtest/gtest.h>

using namespace zelmor::sim;

namespace {

DeviceMetadata sampleMetadata() {
    DeviceMetadata m;
    m.serial = "SIM-01";
    m.label = "Token 100% UTF-8 \xc3\xa9";
    m.model = "Zelmor DSC";
    m.firmware = "2.15";
    m.plugged = false;
    m.maxRetries = 10;
    m.remainingRetries = 3;
    m.pin = {100000, Bytes(16, 0xab), Bytes(32, 0xcd)};
    m.keyPairCapacity = 4;
    m.certificateCapacity = 5;
    m.generation = 42;
    KeyPairEntry key;
    key.number = 3;
    key.identifier.fill(0x11);
    key.kind = 6;
    key.usage = 3;
    key.flag = 1;
    key.id = {0x00, 0xff};
    key.label = "  spaced label=with=equals\nand \x7f  ";
    m.keyPairs.push_back(key);
    key.number = 0;
    key.identifier.fill(0x22);
    key.id.clear();
    key.label = std::string(128, 'x');
    m.keyPairs.push_back(key);
    CertificateEntry certificate;
    certificate.number = 1;
    certificate.identifier.fill(0x33);
    certificate.id = Bytes(128, 0x01);
    certificate.label = "";
    m.certificates.push_back(certificate);
    return m;
}

// Replaces the first occurrence of `from` in the serialised sample.
std::string sampleWith(const std::string& from, const std::string& to) {
    std::string text = serialiseMetadata(sampleMetadata());
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

}  // namespace

TEST(MetadataText, RoundTripKeepsEveryField) {
    const DeviceMetadata original = sampleMetadata();
    const auto parsed = parseMetadata(serialiseMetadata(original));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->serial, original.serial);
    EXPECT_EQ(parsed->label, original.label);
    EXPECT_EQ(parsed->firmware, original.firmware);
    EXPECT_FALSE(parsed->plugged);
    EXPECT_EQ(parsed->remainingRetries, 3u);
    EXPECT_EQ(parsed->pin.salt, original.pin.salt);
    EXPECT_EQ(parsed->pin.hash, original.pin.hash);
    EXPECT_EQ(parsed->generation, 42u);
    ASSERT_EQ(parsed->keyPairs.size(), 2u);
    EXPECT_EQ(parsed->keyPairs[0].label, original.keyPairs[0].label);
    EXPECT_EQ(parsed->keyPairs[0].id, original.keyPairs[0].id);
    EXPECT_EQ(parsed->keyPairs[0].flag, 1);
    EXPECT_EQ(parsed->keyPairs[1].label.size(), 128u);
    EXPECT_TRUE(parsed->keyPairs[1].id.empty());
    ASSERT_EQ(parsed->certificates.size(), 1u);
    EXPECT_EQ(parsed->certificates[0].id, original.certificates[0].id);
    EXPECT_EQ(parsed->certificates[0].identifier, original.certificates[0].identifier);
}

TEST(MetadataText, SerialisedTextIsOneRecordPerLine) {
    const std::string text = serialiseMetadata(sampleMetadata());
    EXPECT_EQ(text.rfind("end\n"), text.size() - 4);
    EXPECT_NE(text.find("label Token 100%25 UTF-8 \xc3\xa9\n"), std::string::npos);
    EXPECT_NE(text.find("label=  spaced label=with=equals%0Aand %7F  \n"), std::string::npos);
}

TEST(MetadataText, RefusesDamagedText) {
    const std::string text = serialiseMetadata(sampleMetadata());
    EXPECT_FALSE(parseMetadata(text.substr(0, text.size() - 4))) << "no end line";
    EXPECT_FALSE(parseMetadata(text.substr(0, text.size() / 2))) << "cut in the middle";
    EXPECT_FALSE(parseMetadata(text.substr(0, text.size() - 1))) << "last line without newline";
    EXPECT_FALSE(parseMetadata("")) << "empty";
    EXPECT_FALSE(parseMetadata(std::string("\0\0\0\n", 4)));
    EXPECT_FALSE(parseMetadata(sampleWith("zelmor-sim-device 1", "zelmor-sim-device 2")));
    EXPECT_FALSE(parseMetadata(sampleWith("generation 42\n", "generation 42\ngeneration 43\n"))) << "field twice";
    EXPECT_FALSE(parseMetadata(sampleWith("generation 42\n", ""))) << "field missing";
    EXPECT_FALSE(parseMetadata(sampleWith("generation 42\n", "generation 42\ncolour blue\n"))) << "unknown field";
}

TEST(MetadataText, RefusesValuesOutOfBoundsAndDuplicates) {
    EXPECT_FALSE(parseMetadata(sampleWith("label Token", "label %0AToken"))) << "control byte in the device label";
    EXPECT_FALSE(parseMetadata(sampleWith("kind=6", "kind=8")));
    EXPECT_FALSE(parseMetadata(sampleWith("kind=6", "kind=0")));
    EXPECT_FALSE(parseMetadata(sampleWith("usage=3", "usage=4")));
    EXPECT_FALSE(parseMetadata(sampleWith("retries-left 3", "retries-left 11"))) << "more tries left than allowed";
    EXPECT_FALSE(parseMetadata(sampleWith("retries-max 10", "retries-max 99999999999999999999999")));
    EXPECT_FALSE(parseMetadata(sampleWith("retries-left 3", "retries-left -1")));
    EXPECT_FALSE(parseMetadata(sampleWith("key-pair-capacity 4", "key-pair-capacity 0")));
    EXPECT_FALSE(parseMetadata(sampleWith("serial SIM-01", "serial ../etc")));
    EXPECT_FALSE(parseMetadata(sampleWith("firmware 2.15", "firmware 2.256")));
    EXPECT_FALSE(parseMetadata(sampleWith("pin pbkdf2-sha256 100000", "pin pbkdf2-sha256 1"))) << "too few rounds";
    EXPECT_FALSE(parseMetadata(sampleWith("id=00ff", "id=00f"))) << "odd hex";
    EXPECT_FALSE(parseMetadata(sampleWith("id=00ff", "id=" + std::string(258, '0')))) << "ID over 128 bytes";
    EXPECT_FALSE(parseMetadata(sampleWith("label=  spaced", "label=" + std::string(129, 'y') + "  spaced")));
    EXPECT_FALSE(parseMetadata(sampleWith("label=  spaced", "label=%G0"))) << "bad escape";
    EXPECT_FALSE(parseMetadata(sampleWith("label=  spaced", "label=%4"))) << "cut escape";
    EXPECT_FALSE(parseMetadata(sampleWith("key-pair 3 ", "key-pair 0 "))) << "number twice";
    EXPECT_FALSE(parseMetadata(sampleWith(std::string(32, '1'), std::string(32, '2')))) << "identifier twice";
}
