// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal through the module.
#include "ObjectsTest.h"

using namespace objects_test;

using SearchTest = ObjectsTest;

// Objects are listed up to the largest numbers their handles can carry; the
// next numbers have no handles and are never listed.
TEST_F(SearchTest, ListedUpToTheLargestNumbersHandlesCarry) {
    addKeyPair(0xFFF);
    addKeyPair(0x1000);
    addCertificate(0x8FFFDFFF, bytesOf("largest"));
    addCertificate(0x8FFFE000, bytesOf("beyond"));
    CK_SESSION_HANDLE session = openSession();
    login(session);
    EXPECT_EQ((Handles{publicBase + 0xFFF, privateBase + 0xFFF, 0xFFFFFFFF}), findAll(session));
}

// Public keys, private keys (after a login), certificates. A class selects
// the kind; only the first criterion present of label, value, ID, modulus,
// EC point (keys, under the standards setting, also as the bare point) or
// subject (certificates) applies, its last occurrence.
TEST_F(SearchTest, TemplatesSelectObjects) {
    const ZelmorKeyPair alpha = addKeyPair(0, keyKindRsa2048, "alpha", {0x0A});
    const ZelmorKeyPair beta = addKeyPair(1, keyKindEcP256, "beta", {0x0B});
    addKeyPair(2, keyKindRsa1024, "gamma", {0x0B});
    const Bytes derA = bytesOf("der-of-a");
    const Bytes derB = bytesOf("der-of-b-longer");
    const Bytes modulus(alpha.publicValue, alpha.publicValue + 256);
    addCertificate(0, derA, "alpha", {0x0A});
    addCertificate(1, derB, "second", {0x0B});
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[derB].subject = bytesOf("CN=B"); });
    reinitialiseWithStandardsMode(1);
    CK_SESSION_HANDLE session = openSession();
    const CK_OBJECT_HANDLE pub = publicBase, priv = privateBase, cert = certificateBase;
    const Bytes point(beta.publicValue, beta.publicValue + 65);
    EXPECT_EQ((Handles{pub, pub + 1, pub + 2, cert, cert + 1}), findAll(session));
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_initDevice"));  // no list empty
    login(session);
    const Template label = Template().text(CKA_LABEL, "alpha");
    const Template idB = Template().bytes(CKA_ID, {0x0B});
    const Template subject = Template().text(CKA_SUBJECT, "CN=B");
    const Template byModulus = Template().bytes(CKA_MODULUS, modulus);
    const Handles everything{pub, pub + 1, pub + 2, priv, priv + 1, priv + 2, cert, cert + 1};
    const CK_OBJECT_CLASS noClass = ~CK_OBJECT_CLASS(0);
    const struct {
        const char* name; CK_OBJECT_CLASS objectClass; Template criteria; Handles expected;
    } cases[] = {
        {"no class: every kind", noClass, label, everything},
        {"vendor class: every kind", CKO_VENDOR_DEFINED, {}, everything},
        {"data class: nothing", CKO_DATA, {}, {}},
        {"private key by label", CKO_PRIVATE_KEY, label, {priv}},
        {"public key by label", CKO_PUBLIC_KEY, label, {pub}},
        {"label up to a NUL", CKO_PUBLIC_KEY, Template().sized(CKA_LABEL, bytesOf(std::string("beta\0x", 6)), 6),
         {pub + 1}},
        {"label wins over ID", CKO_PUBLIC_KEY, Template(idB).text(CKA_LABEL, "alpha"), {pub}},
        {"value wins over ID", CKO_PUBLIC_KEY, Template(idB).bytes(CKA_VALUE, point), {pub + 1}},
        {"ID wins over modulus", CKO_PUBLIC_KEY, Template(byModulus).bytes(CKA_ID, {0x0B}), {pub + 1, pub + 2}},
        {"modulus", CKO_PUBLIC_KEY, byModulus, {pub}},
        {"modulus of another length", CKO_PUBLIC_KEY, Template().sized(CKA_MODULUS, modulus, 255), {}},
        {"subject ignored for keys", CKO_PUBLIC_KEY, subject, {pub, pub + 1, pub + 2}},
        {"last label", CKO_PUBLIC_KEY, Template(label).text(CKA_LABEL, "beta"), {pub + 1}},
        {"certificate label wins over value", CKO_CERTIFICATE,
         Template().bytes(CKA_VALUE, derB).text(CKA_LABEL, "alpha"), {cert}},
        {"certificate value", CKO_CERTIFICATE, Template().bytes(CKA_VALUE, derB), {cert + 1}},
        {"certificate ID wins over subject", CKO_CERTIFICATE, Template(subject).bytes(CKA_ID, {0x0A}), {cert}},
        {"certificate subject", CKO_CERTIFICATE, subject, {cert + 1}},
        {"modulus ignored for certificates", CKO_CERTIFICATE, byModulus, {cert, cert + 1}},
        {"EC point", CKO_PUBLIC_KEY, Template().bytes(CKA_EC_POINT, point), {pub + 1}},
        {"EC point of no key", CKO_PUBLIC_KEY, Template().bytes(CKA_EC_POINT, modulus), {}},
    };
    for (const auto& row : cases) {
        const Template search =
            row.objectClass == noClass ? row.criteria : Template(row.criteria).ulong(CKA_CLASS, row.objectClass);
        EXPECT_EQ(row.expected, findAll(session, search)) << row.name;
    }
    // The subject comes from the device library, given the certificate's DER.
    EXPECT_EQ(derA, fakeLibrary().calls("zelmor_getCertificateSubject").at(0).der);
    EXPECT_EQ(nullptr, fakeLibrary().calls("zelmor_getCertificateSubject").at(0).instance);

    // Argument and state checks; a count query neither writes nor advances; a
    // class of the wrong size is refused.
    Handles page(2);
    CK_ULONG count = 99;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjectsInit(session, nullptr, 1));
    CK_ATTRIBUTE refused{CKA_CLASS, &count, 1};
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_FindObjectsInit(session, &refused, 1));
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, page.data(), 1, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, nullptr, 1, &count));
    const std::pair<CK_ULONG, Handles> pages[] = {
        {0, {}},
        {2, {pub, pub + 1}},
        {2, {pub + 2, priv}},
    };
    for (const auto& [maxCount, expected] : pages) {
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), maxCount, &count));
        EXPECT_EQ(expected, Handles(page.begin(), page.begin() + count));
    }
    EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
}

// A template entry without a value refuses the search and empties the one
// running; a finished search takes no more calls; a running search is a
// snapshot that keeps an object deleted meanwhile.
TEST_F(SearchTest, RefusalsEndingsAndSnapshots) {
    addKeyPair(0);
    addCertificate(0, bytesOf("der"));
    CK_SESSION_HANDLE session = openSession();
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    const struct {
        const char* name; CK_ATTRIBUTE entry;
    } refused[] = {{"null value", {CKA_LABEL, nullptr, 4}}, {"empty value", {CKA_CLASS, &keyClass, 0}}};
    Handles page(4);
    CK_ULONG count = 99;
    for (const auto& row : refused) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
        CK_ATTRIBUTE entry = row.entry;
        EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_FindObjectsInit(session, &entry, 1));
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), 4, &count));
        EXPECT_EQ(0u, count);
    }
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjects(session, page.data(), 4, &count));

    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    ASSERT_EQ(CKR_OK, f()->C_DestroyObject(openSession(), certificateBase));
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), 4, &count));
    EXPECT_EQ((Handles{publicBase, certificateBase}), Handles(page.begin(), page.begin() + count));
}

// An empty key-pair or certificate list has the device initialised fully
// before the search reads the lists again; a failure there is logged and the
// search goes on with what it has. Filled lists need no initialisation.
TEST_F(SearchTest, EmptyListsInitialiseTheDevice) {
    const struct {
        const char* name; bool keyPairs; int32_t initResult;  // keyPairs: or a certificate only
    } rows[] = {{"no certificate", true, 0}, {"no key pair", false, 0}, {"initialisation fails", true, -5}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fakeLibrary().reset();
        fakeLibrary().addDevice(defaultDevice);
        if (row.keyPairs) addKeyPair(0);
        else addCertificate(0, bytesOf("der"));
        fakeLibrary().setResult("zelmor_initDevice", row.initResult);
        markLog();
        EXPECT_EQ(Handles{row.keyPairs ? publicBase : certificateBase}, findAll(openSession(false)));
        const std::vector<FakeCall> inits = fakeLibrary().calls("zelmor_initDevice");
        ASSERT_EQ(1u, inits.size());
        EXPECT_TRUE(inits[0].fullInit);
        // The lists are read again after a successful initialisation only.
        EXPECT_EQ(row.initResult != 0 ? 1u : 2u, fakeLibrary().callCount("zelmor_getKeyPairList"));
        EXPECT_EQ(row.initResult != 0, logged("Init device for certificates in find objects failed : -5"));
    }
}
