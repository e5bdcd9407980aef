// Certificate import with the chain of CA certificates from the CA folder.
#include <array>

#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

// A CA folder file: its name for der(), and the subject and issuer the fake parses it into.
using CaFile = std::array<std::string, 3>;
const CaFile inter = {"inter", "CN=Inter,O=Org", "CN=Root,O=Org"};
const CaFile root = {"root", "CN=Root,O=Org", "CN=Root,O=Org"};
const std::vector<CaFile> loop = {{"inter", "CN=Inter", "CN=Other"}, {"other", "CN=Other", "CN=Inter"}};
const CaFile tooLong = {std::string(3071, 'x'), "CN=Inter", "CN=Inter"};

class CertificateImport : public CreationTest {
protected:
    // The CA folder holds these files; a file without a subject does not parse.
    void setCaFiles(const std::vector<CaFile>& files) {
        resetFake();
        for (const auto& [name, subject, issuer] : files) {
            const Bytes value = name.empty() ? Bytes() : der(name);
            fakeLibrary().edit([&](FakeState& state) { state.caFiles.push_back({name + ".cer", value}); });
            if (!subject.empty()) defineCertificate(value, subject, issuer);
        }
        markLog();
    }
    // A label cut to its 128-byte field (no terminator), an ID cut to 128 bytes, an earlier value: the later wins.
    CK_RV importLeaf(CK_OBJECT_HANDLE* handle) {
        const Template label = Template().text(CKA_LABEL, "first").text(CKA_LABEL, std::string(130, 'L'));
        const Template id = Template(label).bytes(CKA_ID, filled(200, 0)).bytes(CKA_VALUE, der("other"));
        return create(Template(id).ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_VALUE, leaf), handle);
    }
    // What each import got: value, label up to its NUL or the field's end, ID.
    std::vector<std::vector<Bytes>> imports() const {
        std::vector<std::vector<Bytes>> records;
        for (const FakeCall& call : fakeLibrary().calls("zelmor_importCertificate")) {
            const ZelmorCertificate& r = call.certificate;
            records.push_back({Bytes(r.value, r.value + r.valueLength),
                               Bytes(r.label, std::find(r.label, r.label + 128, '\0')),
                               Bytes(r.id, r.id + r.idLength)});
        }
        return records;
    }
};

}  // namespace

// The walk from the leaf's issuer through the CA folder: only a complete
// chain to a self-signed certificate is imported, root first, with the common
// names as labels, and the leaf's handle handed out; otherwise the leaf goes
// alone. Files that are empty, too long or unparsable are skipped.
TEST_F(CertificateImport, ChainWalkOutcomes) {
    // The leaf's issuer, the CA folder, the certificates imported, a log line.
    const std::tuple<std::string, std::vector<CaFile>, std::vector<Bytes>, std::string> cases[] = {
        {"CN=Inter,O=Org", {inter}, {leaf}, "Issuer 'Root' NOT found " + emDash + " skipping chain import"},
        {"CN=Inter", loop, {leaf}, "Issuer 'Inter' seen twice in the chain"},
        {"CN=Inter", {{"", "", ""}, {"garbage", "", ""}, tooLong}, {leaf}, "Issuer 'Inter' NOT found"},
        {"CN=Inter,O=Org", {inter, root}, {der("root"), der("inter"), leaf}, ""},
    };
    for (const auto& [leafIssuer, folder, expected, line] : cases) {
        defineCertificate(leaf, "CN=Leaf,O=Org", leafIssuer);
        setCaFiles(folder);
        CK_OBJECT_HANDLE handle = untouched;
        ASSERT_EQ(CKR_OK, importLeaf(&handle));
        std::vector<Bytes> values;
        for (const std::vector<Bytes>& record : imports()) values.push_back(record[0]);
        EXPECT_EQ(expected, values) << leafIssuer;
        EXPECT_EQ(certificateBase + expected.size() - 1, handle);
        EXPECT_TRUE(logged(line));
        EXPECT_EQ(expected.size() == 1,
                  logged("Chain import skipped or failed " + emDash + " Performing normal leaf import"));
        EXPECT_EQ(expected.size() > 1, logged("Certificate imported successfully"));
    }
    EXPECT_EQ((std::vector<std::vector<Bytes>>{{der("root"), bytesOf("Root"), {}},
                                               {der("inter"), bytesOf("Inter"), {}},
                                               {leaf, Bytes(128, 'L'), filled(128, 0)}}),
              imports());
    const FakeCall read = fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER").at(0);
    EXPECT_EQ(0u, read.folder.find(testing_support::testFolder()));  // below ZELMOR_HOME
    EXPECT_EQ((std::vector<std::string>{".cer", ".der", ".pem", ".crt"}), read.extensions);
}
