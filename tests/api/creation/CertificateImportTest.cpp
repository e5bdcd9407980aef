// Certificate import with the chain of CA certificates from the CA folder.
#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

// A CA folder file: its name for der(), and what the fake parses it into.
struct CaFile {
    std::string name, subject, issuer;
};

class CertificateImport : public CreationTest {
protected:
    // The CA folder holds these files; a file without a subject does not parse.
    void setCaFiles(const std::vector<CaFile>& files) {
        fakeLibrary().edit([&](FakeState& state) {
            state.devices[defaultDevice].certificates.clear();
            state.caFiles.clear();
            for (const CaFile& file : files) state.caFiles.push_back({file.name + ".cer", file.name.empty() ? Bytes() : der(file.name)});
        });
        for (const CaFile& file : files) {
            if (!file.subject.empty()) defineCertificate(der(file.name), file.subject, file.issuer);
        }
        fakeLibrary().clearCalls();
        markLog();
    }
    CK_RV importLeaf(CK_OBJECT_HANDLE* handle, Template t = Template().text(CKA_LABEL, "my cert").bytes(CKA_ID, {1, 2, 3})) {
        return create(t.ulong(CKA_CLASS, CKO_CERTIFICATE).bytes(CKA_VALUE, leaf), handle);
    }
    // What each import got: value, label up to its NUL or the field's end, ID.
    std::vector<std::vector<Bytes>> imports() const {
        std::vector<std::vector<Bytes>> records;
        for (const FakeCall& call : fakeLibrary().calls("zelmor_importCertificate")) {
            const ZelmorCertificate& r = call.certificate;
            records.push_back({Bytes(r.value, r.value + r.valueLength), Bytes(r.label, std::find(r.label, r.label + 128, '\0')),
                               Bytes(r.id, r.id + r.idLength)});
        }
        return records;
    }
};

const std::vector<CaFile> chainOfThree = {{"inter", "CN=Inter,O=Org", "CN=Root,O=Org"}, {"root", "CN=Root,O=Org", "CN=Root,O=Org"}};

// Root (self-signed) issues Inter, Inter the leaf: root first, with the
// common names as labels, the leaf's handle handed out. A refusal stops the
// chain with the mapped code and no fallback to the leaf alone.
TEST_F(CertificateImport, ChainOfThreeGoesRootFirst) {
    setCaFiles(chainOfThree);
    CK_OBJECT_HANDLE handle = untouched;
    ASSERT_EQ(CKR_OK, importLeaf(&handle));
    EXPECT_EQ(certificateBase + 2, handle);
    EXPECT_EQ((std::vector<std::vector<Bytes>>{{der("root"), bytesOf("Root"), {}}, {der("inter"), bytesOf("Inter"), {}},
                                               {leaf, bytesOf("my cert"), {1, 2, 3}}}), imports());
    for (const FakeCall& call : fakeLibrary().calls("zelmor_importCertificate")) {
        EXPECT_EQ((std::vector<std::string>{defaultDevice, defaultPin}), (std::vector<std::string>{call.deviceName, call.password}));
    }
    const FakeCall read = fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER").at(0);
    EXPECT_EQ(testing_support::testFolder() + caFolder, read.text);
    EXPECT_EQ(".cer;.der;.pem;.crt;", read.deviceName);  // the fake records the extensions there
    EXPECT_EQ(nullptr, read.instance);
    for (const FakeCall& call : fakeLibrary().calls("zelmor_getCertificateDetails")) EXPECT_EQ(nullptr, call.instance);

    for (const auto& refusal : {std::make_pair(242, CKR_DEVICE_MEMORY), std::make_pair(48, CKR_FUNCTION_FAILED)}) {
        setCaFiles(chainOfThree);
        fakeLibrary().edit([&](FakeState& state) { state.forcedResultsOnCall["zelmor_importCertificate"] = {{2, refusal.first}}; });
        handle = untouched;
        EXPECT_EQ(refusal.second, importLeaf(&handle));
        EXPECT_EQ(untouched, handle);
        EXPECT_EQ(2u, imports().size());
        EXPECT_FALSE(logged("Performing normal leaf import"));
    }
}

// How the walk from the leaf's issuer through the CA folder ends: only a
// complete chain to a self-signed certificate is imported, otherwise the
// leaf goes alone. Files that are empty, too long or unparsable are skipped.
TEST_F(CertificateImport, ChainWalkOutcomes) {
    const struct Case {
        const char* leafIssuer;
        std::vector<CaFile> folder;
        std::vector<std::string> imported;
        std::string logged;
    } cases[] = {
        {"CN=Inter,O=Org", {chainOfThree[0]}, {"leaf"}, "Issuer 'Root' NOT found " + emDash + " skipping chain import"},
        {"CN=Inter,O=Org", {{"interA", "CN=Inter,O=A", "CN=RootA"}, {"rootA", "CN=RootA", "CN=RootA"},  // first certificate, last issuer
                            {"interB", "CN=Inter,O=B", "CN=RootB"}, {"rootB", "CN=RootB", "CN=RootB"}}, {"rootB", "interA", "leaf"}, ""},
        {"CN=Inter", {{"inter", "CN=Inter", "CN=Other"}, {"other", "CN=Other", "CN=Inter"}}, {"leaf"}, "Issuer 'Inter' seen twice in the chain"},
        {"CN=Leaf,O=Org", {{"leaf", "CN=Leaf,O=Org", "CN=Leaf,O=Org"}}, {"leaf", "leaf"}, ""},
        {"O=Root Org,C=DE", {{"root", "O=Root Org,C=DE", "O=Root Org,C=DE"}}, {"root", "leaf"}, ""},
        {"CN=Inter", {{"", "", ""}, {"garbage", "", ""}, {std::string(3071, 'x'), "CN=Inter", "CN=Inter"}}, {"leaf"}, "Issuer 'Inter' NOT found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leafIssuer);
        defineCertificate(leaf, "CN=Leaf,O=Org", c.leafIssuer);
        setCaFiles(c.folder);
        CK_OBJECT_HANDLE handle = untouched;
        ASSERT_EQ(CKR_OK, importLeaf(&handle));
        std::vector<Bytes> expected, values;
        for (const std::string& name : c.imported) expected.push_back(der(name));
        for (const std::vector<Bytes>& record : imports()) values.push_back(record[0]);
        EXPECT_EQ(expected, values);
        EXPECT_EQ(certificateBase + expected.size() - 1, handle);
        EXPECT_TRUE(logged(c.logged));
        EXPECT_EQ(expected.size() == 1, logged("Chain import skipped or failed " + emDash + " Performing normal leaf import"));
        EXPECT_EQ(expected.size() > 1, logged("Certificate imported successfully"));
        for (const FakeCall& call : fakeLibrary().calls("zelmor_getCertificateDetails")) {
            EXPECT_TRUE(!call.data.empty() && call.data.size() <= 3072);
        }
    }
}

// ZELMOR_HOME set but missing is used as it is; empty or unset: the
// defaults, which do not exist here, then the executable's folder.
TEST_F(CertificateImport, HomeFolderChoice) {
    const std::string missing = testing_support::testFolder() + caFolder[0] + "does-not-exist";
    for (int choice : {0, 1, 2}) {
        setHome(choice == 0 ? missing : "", choice == 2);
        setCaFiles({});
        CK_OBJECT_HANDLE handle = untouched;
        ASSERT_EQ(CKR_OK, importLeaf(&handle));
        EXPECT_EQ((choice == 0 ? missing : testing_support::executableFolder()) + caFolder,
                  fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER").at(0).text);
        EXPECT_EQ(choice != 0, logged("ZELMOR_HOME not set " + emDash + " Using Windows defaults"));
    }
}

// The label is cut to its 128-byte field (no terminator) and ends at a NUL,
// the ID to 128 bytes; a later entry wins.
TEST_F(CertificateImport, LabelAndIdAreBoundedToTheirFields) {
    CK_OBJECT_HANDLE handle = untouched;
    defineCertificate(der("other"), "CN=Other", "CN=Nobody");
    ASSERT_EQ(CKR_OK, create(Template().text(CKA_LABEL, "first").text(CKA_LABEL, std::string(130, 'L')).bytes(CKA_ID, filled(200, 0))
                                 .bytes(CKA_VALUE, leaf).bytes(CKA_VALUE, der("other")), &handle));
    ASSERT_EQ(CKR_OK, importLeaf(&handle, Template().text(CKA_LABEL, std::string("ab\0cd", 5))));
    EXPECT_EQ((std::vector<std::vector<Bytes>>{{der("other"), Bytes(128, 'L'), filled(128, 0)}, {leaf, bytesOf("ab"), {}}}), imports());
}

}  // namespace
