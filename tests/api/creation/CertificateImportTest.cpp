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
    const std::vector<Bytes> alone = {leaf, Bytes(128, 'L'), filled(128, 0)};  // the leaf's import
    const struct {  // imported: value, label, ID of each import in order; line: the issuer line, or none
        const char* name; std::string leafIssuer; std::vector<CaFile> folder;
        std::vector<std::vector<Bytes>> imported; const char* line;
    } rows[] = {
        {"issuer's issuer missing", "CN=Inter,O=Org", {inter}, {alone},
         "Issuer 'Root' NOT found \xE2\x80\x94 skipping chain import"},
        {"issuers naming each other", "CN=Inter", loop, {alone}, "Issuer 'Inter' seen twice in the chain"},
        {"unusable files skipped", "CN=Inter", {{"", "", ""}, {"garbage", "", ""}, tooLong}, {alone},
         "Issuer 'Inter' NOT found"},
        {"complete chain", "CN=Inter,O=Org", {inter, root},
         {{der("root"), bytesOf("Root"), {}}, {der("inter"), bytesOf("Inter"), {}}, alone}, nullptr},
        // The first file of a common name gives the certificate, the last its issuer.
        {"two files of one common name", "CN=Inter",
         {{"first", "CN=Inter", "CN=Nowhere"}, {"second", "CN=Inter", "CN=Root,O=Org"}, root},
         {{der("root"), bytesOf("Root"), {}}, {der("first"), bytesOf("Inter"), {}}, alone}, nullptr},
        {"self-signed leaf in the folder", "CN=Leaf,O=Org", {{"leaf", "CN=Leaf,O=Org", "CN=Leaf,O=Org"}},
         {{leaf, bytesOf("Leaf"), {}}, alone}, nullptr},
        {"names without CN= serve whole", "O=Issuer", {{"issuer", "O=Issuer", "O=Issuer"}},
         {{der("issuer"), bytesOf("O=Issuer"), {}}, alone}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        defineCertificate(leaf, "CN=Leaf,O=Org", row.leafIssuer);
        setCaFiles(row.folder);
        CK_OBJECT_HANDLE handle = untouched;
        ASSERT_EQ(CKR_OK, importLeaf(&handle));
        EXPECT_EQ(row.imported, imports());
        EXPECT_EQ(certificateBase + row.imported.size() - 1, handle);
        EXPECT_EQ(row.line == nullptr, !logged("Issuer '"));
        if (row.line != nullptr) { EXPECT_TRUE(logged(row.line)) << row.line; }
        EXPECT_EQ(row.imported.size() == 1,
                  logged("Chain import skipped or failed " + emDash + " Performing normal leaf import"));
        EXPECT_EQ(row.imported.size() > 1, logged("Certificate imported successfully"));
    }
    const FakeCall read = fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER").at(0);
#if defined(_WIN32)
    EXPECT_EQ(testing_support::testFolder() + "\\ZelmorDSC\\Certificates", read.folder);  // below ZELMOR_HOME
#else
    EXPECT_EQ(testing_support::testFolder() + "/ZelmorDSC/Certificates", read.folder);
#endif
    EXPECT_EQ((std::vector<std::string>{".cer", ".der", ".pem", ".crt"}), read.extensions);
}

// A refusal inside the chain ends the call with the mapped code: the leaf is
// not tried alone, what went before stays on the device, no handle is given.
TEST_F(CertificateImport, ChainRefusedInTheMiddle) {
    const struct {
        const char* name; int32_t result; CK_RV expected;
    } rows[] = {{"device memory", 40, CKR_DEVICE_MEMORY}, {"other refusal", -3, CKR_FUNCTION_FAILED}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        defineCertificate(leaf, "CN=Leaf,O=Org", "CN=Inter,O=Org");
        setCaFiles({inter, root});
        // The second import, the intermediate's, is refused.
        fakeLibrary().edit([&](FakeState& s) { s.forcedResultsOnCall["zelmor_importCertificate"][2] = row.result; });
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(row.expected, importLeaf(&handle));
        EXPECT_EQ(untouched, handle);
        EXPECT_EQ(2u, imports().size());  // the root, then the refused intermediate; no leaf
        EXPECT_FALSE(logged("Performing normal leaf import"));
        std::vector<Bytes> kept;
        fakeLibrary().edit([&](FakeState& state) {
            for (const ZelmorCertificate& held : state.devices[defaultDevice].certificates)
                kept.emplace_back(held.value, held.value + held.valueLength);
            state.forcedResultsOnCall.clear();
        });
        EXPECT_EQ(std::vector<Bytes>{der("root")}, kept);
    }
}
