// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal through the module.
#include "ObjectsTest.h"

using namespace objects_test;

namespace {

class SearchTest : public ObjectsTest {};

}  // namespace

TEST_F(SearchTest, FixedOrderPublicPrivateCertificatesAndPrivateKeysNeedALogin) {
    addKeyPair(3);
    addKeyPair(1);
    addCertificate(4, bytesOf("cert-four"));
    addCertificate(0, bytesOf("cert-zero"));
    CK_SESSION_HANDLE session = openSession();

    EXPECT_EQ((Handles{0x70001003, 0x70001001, 0x70002004, 0x70002000}), findAll(session, {}));
    EXPECT_EQ(Handles{}, findByClass(session, CKO_PRIVATE_KEY));
    login(session);
    EXPECT_EQ((Handles{0x70001003, 0x70001001, 0x70000003, 0x70000001, 0x70002004, 0x70002000}),
              findAll(session, {}));
    EXPECT_EQ((Handles{0x70000003, 0x70000001}), findByClass(session, CKO_PRIVATE_KEY));
}

TEST_F(SearchTest, PagesThroughTheResults) {
    for (uint32_t number = 0; number < 3; ++number) addKeyPair(number);
    CK_SESSION_HANDLE session = openSession();
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));

    CK_OBJECT_HANDLE page[2] = {0, 0};
    CK_ULONG count = 99;
    // A count query neither writes nor advances.
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, nullptr, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 2, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ((Handles{publicBase + 0, publicBase + 1}), Handles(page, page + 2));
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 2, &count));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(publicBase + 2, page[0]);
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 2, &count));
    EXPECT_EQ(0u, count);

    // A new search starts from the beginning again.
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 1, &count));
    EXPECT_EQ(publicBase + 0, page[0]);
}

TEST_F(SearchTest, ArgumentAndStateChecks) {
    addKeyPair(0);
    CK_SESSION_HANDLE session = openSession();
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;

    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjects(session, &handle, 1, &count));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjectsInit(session, nullptr, 1));

    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, &handle, 1, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, nullptr, 1, &count));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, nullptr, 0, nullptr));
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjects(session, &handle, 1, &count));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjectsFinal(session));

    const CK_SESSION_HANDLE unknown = session + 100;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_FindObjectsInit(unknown, nullptr, 0));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_FindObjects(unknown, &handle, 1, &count));
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_FindObjectsFinal(unknown));
}

TEST_F(SearchTest, RefusedTemplateEntriesEndTheInitAfterTheReset) {
    addKeyPair(0);
    CK_SESSION_HANDLE session = openSession();
    CK_BYTE wideClass[2 * sizeof(CK_ULONG)] = {CKO_PUBLIC_KEY};
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    char label[] = "x";
    struct Case {
        const char* name;
        CK_ATTRIBUTE entry;
    } cases[] = {
        {"null value", attribute(CKA_LABEL, nullptr, 1)},
        {"zero length", attribute(CKA_LABEL, label, 0)},
        {"ignored type with null value", attribute(CKA_START_DATE, nullptr, 8)},
        {"class too long", attribute(CKA_CLASS, wideClass, sizeof wideClass)},
        {"class too short", attribute(CKA_CLASS, &objectClass, sizeof objectClass - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
        CK_ATTRIBUTE search[] = {attribute(CKA_CLASS, &objectClass, sizeof objectClass), c.entry};
        EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_FindObjectsInit(session, search, 2));
        // The running search stays open but has lost its objects.
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 99;
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, &handle, 1, &count));
        EXPECT_EQ(0u, count);
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    }
}

TEST_F(SearchTest, CriteriaUseOnlyTheFirstOnePresent) {
    ZelmorKeyPair alpha = addKeyPair(0, keyKindRsa2048, "alpha", {0x0A});
    ZelmorKeyPair beta = addKeyPair(1, keyKindEcP256, "beta", {0x0B});
    addKeyPair(2, keyKindRsa1024, "gamma", {0x0B});
    Bytes derA = bytesOf("der-of-a"), derB = bytesOf("der-of-b-longer");
    addCertificate(0, derA, "alpha", {0x0A});
    addCertificate(1, derB, "second", {0x0B});
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[derA].subject = bytesOf("CN=A");
        state.certificateInfo[derB].subject = bytesOf("CN=B");
    });
    CK_SESSION_HANDLE session = openSession();

    char alpha5[] = "alpha";
    char betaWithTail[] = "beta\0ignored";
    CK_BYTE idA[] = {0x0A}, idB[] = {0x0B};
    Bytes subjectB = bytesOf("CN=B");
    const CK_ATTRIBUTE label = attribute(CKA_LABEL, alpha5, 5), byIdA = attribute(CKA_ID, idA, 1),
                       byIdB = attribute(CKA_ID, idB, 1), modulus = attribute(CKA_MODULUS, alpha.publicValue, 256),
                       subject = attribute(CKA_SUBJECT, subjectB.data(), 4),
                       valueB = attribute(CKA_VALUE, derB.data(), static_cast<CK_ULONG>(derB.size()));
    const CK_OBJECT_HANDLE pub = publicBase, cert = certificateBase;
    struct Case {
        const char* name;
        CK_OBJECT_CLASS objectClass;
        std::vector<CK_ATTRIBUTE> criteria;
        Handles expected;
    } cases[] = {
        {"label", CKO_PUBLIC_KEY, {label}, {pub}},
        {"label stops at NUL", CKO_PUBLIC_KEY, {attribute(CKA_LABEL, betaWithTail, sizeof betaWithTail)}, {pub + 1}},
        {"label is not a prefix", CKO_PUBLIC_KEY, {attribute(CKA_LABEL, alpha5, 4)}, {}},
        {"label before ID", CKO_PUBLIC_KEY, {byIdB, label}, {pub}},
        {"value before ID", CKO_PUBLIC_KEY, {byIdA, attribute(CKA_VALUE, beta.publicValue, 65)}, {pub + 1}},
        {"ID", CKO_PUBLIC_KEY, {byIdB}, {pub + 1, pub + 2}},
        {"ID before modulus", CKO_PUBLIC_KEY, {modulus, byIdB}, {pub + 1, pub + 2}},
        {"modulus", CKO_PUBLIC_KEY, {modulus}, {pub}},
        {"modulus must match in length", CKO_PUBLIC_KEY, {attribute(CKA_MODULUS, alpha.publicValue, 255)}, {}},
        {"subject is ignored for keys", CKO_PUBLIC_KEY, {subject}, {pub, pub + 1, pub + 2}},
        {"later label wins", CKO_PUBLIC_KEY, {label, attribute(CKA_LABEL, betaWithTail, 4)}, {pub + 1}},
        {"certificate label before value", CKO_CERTIFICATE, {valueB, label}, {cert}},
        {"certificate value", CKO_CERTIFICATE, {valueB}, {cert + 1}},
        {"certificate ID before subject", CKO_CERTIFICATE, {subject, byIdA}, {cert}},
        {"certificate subject", CKO_CERTIFICATE, {subject}, {cert + 1}},
        {"modulus is ignored for certificates", CKO_CERTIFICATE, {modulus}, {cert, cert + 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, findByClass(session, c.objectClass, c.criteria));
    }
    // The subject comes from the device library, given the certificate's DER.
    auto subjectCalls = fakeLibrary().calls("zelmor_getCertificateSubject");
    ASSERT_FALSE(subjectCalls.empty());
    EXPECT_EQ(nullptr, subjectCalls[0].instance);
}

TEST_F(SearchTest, ClassSelectsTheKindOfObject) {
    addKeyPair(0, keyKindRsa2048, "one");
    addCertificate(0, bytesOf("der"), "one");
    CK_SESSION_HANDLE session = openSession();
    login(session);
    char label[] = "nothing-matches";
    // Without a class the label is not applied.
    EXPECT_EQ((Handles{publicBase, privateBase, certificateBase}),
              findAll(session, {attribute(CKA_LABEL, label, sizeof label - 1)}));
    EXPECT_EQ((Handles{publicBase, privateBase, certificateBase}), findByClass(session, CKO_VENDOR_DEFINED));
    EXPECT_EQ(Handles{}, findByClass(session, CKO_DATA));
    EXPECT_EQ(Handles{}, findByClass(session, CKO_SECRET_KEY));
}

TEST_F(SearchTest, EmptyListsMakeTheDeviceInitialiseOnce) {
    CK_SESSION_HANDLE session = openSession();
    addKeyPair(0);
    fakeLibrary().clearCalls();
    EXPECT_EQ(Handles{publicBase}, findAll(session, {}));
    ASSERT_EQ(1u, fakeLibrary().callCount("zelmor_initDevice"));
    EXPECT_TRUE(fakeLibrary().calls("zelmor_initDevice")[0].flag);
    EXPECT_EQ(defaultDevice, fakeLibrary().calls("zelmor_initDevice")[0].deviceName);
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(2u, fakeLibrary().callCount("zelmor_getCertificateList"));

    // A failed initialisation is logged; the search goes on without the second reading.
    fakeLibrary().setResult("zelmor_initDevice", -7);
    fakeLibrary().clearCalls();
    EXPECT_EQ(Handles{publicBase}, findAll(session, {}));
    EXPECT_TRUE(logHas("ERROR", "Init device for certificates in find objects failed : -7"));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_getKeyPairList"));

    addCertificate(0, bytesOf("der"));
    fakeLibrary().clearCalls();
    findAll(session, {});
    EXPECT_EQ(0u, fakeLibrary().callCount("zelmor_initDevice"));
}
