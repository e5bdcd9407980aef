// Certificate import with the chain of CA certificates from the CA folder.
#include <algorithm>

#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

std::string labelOf(const ZelmorCertificate& record) {
    return std::string(record.label, std::find(record.label, record.label + sizeof record.label, '\0'));
}
Bytes valueOf(const ZelmorCertificate& record) { return Bytes(record.value, record.value + record.valueLength); }

class CertificateImport : public CreationTest {
protected:
    CK_RV create(const Bytes& value, CK_OBJECT_HANDLE* handle, const std::string& label = "my cert") {
        Template t;
        t.ulong(CKA_CLASS, CKO_CERTIFICATE).text(CKA_LABEL, label).bytes(CKA_ID, Bytes{1, 2, 3}).bytes(CKA_VALUE, value);
        return CreationTest::create(t, handle);
    }

    // Root (self-signed) issues Inter, Inter issues the leaf.
    void chainOfThree() {
        defineCertificate(der("inter"), "CN=Inter,O=Org", "CN=Root,O=Org");
        defineCertificate(der("root"), "CN=Root,O=Org", "CN=Root,O=Org");
        setCaFiles({der("inter"), der("root")});
    }

    std::vector<Bytes> importedValues() const {
        std::vector<Bytes> values;
        for (const FakeCall& call : imports()) values.push_back(valueOf(call.certificate));
        return values;
    }
};

TEST_F(CertificateImport, ChainOfThreeGoesRootFirstAndTheHandleIsTheLeafs) {
    chainOfThree();
    CK_OBJECT_HANDLE handle = untouched;
    ASSERT_EQ(CKR_OK, create(leaf, &handle));

    EXPECT_EQ((std::vector<Bytes>{der("root"), der("inter"), leaf}), importedValues());
    std::vector<FakeCall> calls = imports();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("Root", labelOf(calls[0].certificate));
    EXPECT_EQ("Inter", labelOf(calls[1].certificate));
    EXPECT_EQ("my cert", labelOf(calls[2].certificate));
    EXPECT_EQ(0, calls[0].certificate.idLength);
    EXPECT_EQ(3, calls[2].certificate.idLength);
    for (const FakeCall& call : calls) {
        EXPECT_EQ(testing_support::defaultDevice, call.deviceName);
        EXPECT_EQ(testing_support::defaultPin, call.password);
    }
    EXPECT_EQ(0x70002000u + 2, handle);  // the leaf got number 2 on the device

    std::vector<FakeCall> reads = fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER");
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(caFolderUnder(home), reads[0].text);
    EXPECT_EQ(".cer;.der;.pem;.crt;", reads[0].deviceName);  // the fake records the extensions there
    EXPECT_EQ(nullptr, reads[0].instance);
    for (const FakeCall& call : fakeLibrary().calls("zelmor_getCertificateDetails")) EXPECT_EQ(nullptr, call.instance);
}

// How the walk from the leaf's issuer through the CA folder ends. Only a
// complete chain to a self-signed certificate is imported; otherwise the
// leaf goes alone.
TEST_F(CertificateImport, ChainWalkOutcomes) {
    struct Certificate {
        const char* name;
        const char* subject;
        const char* issuer;
    };
    struct Case {
        const char* name;
        const char* leafIssuer;
        std::vector<Certificate> folder;
        std::vector<const char*> imported;
        std::string logged;
    };
    const Case cases[] = {
        {"missing intermediate", "CN=Inter,O=Org", {{"inter", "CN=Inter,O=Org", "CN=Root,O=Org"}}, {"leaf"},
         "Issuer 'Root' NOT found " + emDash + " skipping chain import"},
        {"duplicate names: first certificate, last issuer", "CN=Inter,O=Org",
         {{"interA", "CN=Inter,O=A", "CN=RootA"}, {"rootA", "CN=RootA", "CN=RootA"},
          {"interB", "CN=Inter,O=B", "CN=RootB"}, {"rootB", "CN=RootB", "CN=RootB"}},
         {"rootB", "interA", "leaf"}, ""},
        {"mutual issuers", "CN=Inter,O=Org",
         {{"inter", "CN=Inter", "CN=Other"}, {"other", "CN=Other", "CN=Inter"}}, {"leaf"},
         "Issuer 'Inter' seen twice in the chain"},
        {"self-signed leaf in the folder", "CN=Leaf,O=Org", {{"leaf", "CN=Leaf,O=Org", "CN=Leaf,O=Org"}},
         {"leaf", "leaf"}, ""},
        {"names without a common name serve whole", "O=Root Org,C=DE",
         {{"root", "O=Root Org,C=DE", "O=Root Org,C=DE"}}, {"root", "leaf"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeLibrary().edit([](FakeState& state) { state.devices[testing_support::defaultDevice].certificates.clear(); });
        fakeLibrary().clearCalls();
        defineCertificate(leaf, "CN=Leaf,O=Org", c.leafIssuer);
        std::vector<Bytes> files;
        for (const Certificate& file : c.folder) {
            defineCertificate(der(file.name), file.subject, file.issuer);
            files.push_back(der(file.name));
        }
        setCaFiles(files);
        std::vector<Bytes> expected;
        for (const char* name : c.imported) expected.push_back(der(name));
        LogWatch log;
        CK_OBJECT_HANDLE handle = untouched;
        ASSERT_EQ(CKR_OK, create(leaf, &handle));
        EXPECT_EQ(expected, importedValues());
        EXPECT_EQ(0x70002000u + expected.size() - 1, handle);
        if (!c.logged.empty()) {
            EXPECT_TRUE(log.contains(c.logged));
        }
        EXPECT_EQ(expected.size() == 1, log.contains("Chain import skipped or failed " + emDash +
                                                     " Performing normal leaf import"));
    }
}

TEST_F(CertificateImport, RefusedImportStopsTheChainWithTheMappedCode) {
    struct Case {
        int32_t result;
        CK_RV expected;
    };
    for (Case c : {Case{242, CKR_DEVICE_MEMORY}, Case{40, CKR_DEVICE_MEMORY}, Case{48, CKR_FUNCTION_FAILED}}) {
        SCOPED_TRACE(c.result);
        fakeLibrary().edit([&](FakeState& state) {
            state.devices[testing_support::defaultDevice].certificates.clear();
            state.forcedResultsOnCall["zelmor_importCertificate"] = {{2, c.result}};
        });
        fakeLibrary().clearCalls();
        chainOfThree();
        LogWatch log;
        CK_OBJECT_HANDLE handle = untouched;
        EXPECT_EQ(c.expected, create(leaf, &handle));
        EXPECT_EQ(untouched, handle);
        EXPECT_EQ((std::vector<Bytes>{der("root"), der("inter")}), importedValues());
        EXPECT_TRUE(log.contains("Leaf import failed: " + std::to_string(c.result)));
        EXPECT_FALSE(log.contains("Performing normal leaf import"));  // no fallback after a chain failure
        fakeLibrary().edit([](FakeState& state) {
            EXPECT_EQ(1u, state.devices[testing_support::defaultDevice].certificates.size());  // the root stays
        });
    }
}

TEST_F(CertificateImport, HomeFolderChoice) {
    // Set but missing: used as it is, the reader finds nothing, the leaf goes alone.
    std::string missing = home + separator + "does-not-exist";
    setHome(missing);
    LogWatch log;
    CK_OBJECT_HANDLE handle = untouched;
    ASSERT_EQ(CKR_OK, create(leaf, &handle));
    EXPECT_EQ(caFolderUnder(missing), fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER")[0].text);
    EXPECT_FALSE(log.contains("ZELMOR_HOME not set"));

    // Empty or unset: the defaults, which do not exist here, then the executable's folder.
    for (bool unset : {false, true}) {
        SCOPED_TRACE(unset ? "unset" : "empty");
        setHome("", unset);
        fakeLibrary().clearCalls();
        LogWatch again;
        ASSERT_EQ(CKR_OK, create(leaf, &handle));
        EXPECT_TRUE(again.contains("ZELMOR_HOME not set " + emDash + " Using Windows defaults"));
        EXPECT_EQ(caFolderUnder(testing_support::executableFolder()),
                  fakeLibrary().calls("zelmor_getFilesWithExtensionsAndConvertDER")[0].text);
    }
}

TEST_F(CertificateImport, JunkInTheCaFolderIsSkipped) {
    Bytes oversized = filled(3073, 7);
    defineCertificate(oversized, "CN=Inter", "CN=Inter");  // parsable, but too long for a record
    Bytes garbage = der("garbage");                         // the fake cannot parse it
    setCaFiles({Bytes(), garbage, oversized});
    LogWatch log;
    CK_OBJECT_HANDLE handle = untouched;
    ASSERT_EQ(CKR_OK, create(leaf, &handle));
    EXPECT_EQ(std::vector<Bytes>{leaf}, importedValues());
    EXPECT_TRUE(log.contains("Issuer 'Inter' NOT found"));
    for (const FakeCall& call : fakeLibrary().calls("zelmor_getCertificateDetails")) {
        EXPECT_NE(oversized, call.data);
        EXPECT_FALSE(call.data.empty());
    }
}

TEST_F(CertificateImport, LeafChecksComeBeforeTheDevice) {
    LogWatch log;
    CK_OBJECT_HANDLE handle = untouched;
    Template noValue;
    noValue.text(CKA_LABEL, "x");
    EXPECT_EQ(CKR_FUNCTION_FAILED, CreationTest::create(noValue, &handle));
    EXPECT_TRUE(log.contains("Certificate data not available in create object"));

    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, create(filled(3073, 1), &handle));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_getCertificateDetails"));

    EXPECT_EQ(CKR_DATA_INVALID, create(der("unparsable"), &handle));
    EXPECT_EQ(0u, imports().size());
    EXPECT_EQ(untouched, handle);

    Bytes largest = filled(3072, 3);
    defineCertificate(largest, "CN=Big", "CN=Nobody");
    ASSERT_EQ(CKR_OK, create(largest, &handle));
    EXPECT_EQ(largest, valueOf(imports().at(0).certificate));
}

TEST_F(CertificateImport, LabelAndIdAreBoundedToTheirFields) {
    CK_OBJECT_HANDLE handle = untouched;
    Template t;
    t.text(CKA_LABEL, std::string(130, 'L')).bytes(CKA_ID, filled(200, 0)).bytes(CKA_VALUE, leaf);
    ASSERT_EQ(CKR_OK, CreationTest::create(t, &handle));
    const ZelmorCertificate record = imports().at(0).certificate;
    EXPECT_EQ(std::string(128, 'L'), std::string(record.label, sizeof record.label));  // no terminator
    EXPECT_EQ(128, record.idLength);
    EXPECT_EQ(filled(128, 0), Bytes(record.id, record.id + 128));

    Template embedded;
    embedded.text(CKA_LABEL, std::string("ab\0cd", 5)).bytes(CKA_VALUE, leaf);
    ASSERT_EQ(CKR_OK, CreationTest::create(embedded, &handle));
    EXPECT_EQ("ab", labelOf(imports().at(1).certificate));
}

}  // namespace
