// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal through the module.
#include "ObjectsTest.h"

using namespace objects_test;
using testing_support::defaultDevice;

namespace {

class SearchTest : public ObjectsTest {};

CK_OBJECT_CLASS publicKeyClass = CKO_PUBLIC_KEY;
CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;

}  // namespace

TEST_F(SearchTest, HandlesComeFromRecordNumbersAndPrivateKeysNeedALogin) {
    addKeyPair(5);
    addCertificate(2, bytesOf("cert-two"));
    CK_SESSION_HANDLE session = openSession();

    EXPECT_EQ(Handles{}, findByClass(session, CKO_PRIVATE_KEY));
    EXPECT_TRUE(logHas("DEBUG", "C_FindObjects find object count 0"));
    EXPECT_EQ(Handles{0x70001005}, findByClass(session, CKO_PUBLIC_KEY));
    EXPECT_EQ(Handles{0x70002002}, findByClass(session, CKO_CERTIFICATE));

    login(session);
    EXPECT_EQ(Handles{0x70000005}, findByClass(session, CKO_PRIVATE_KEY));
}

TEST_F(SearchTest, EverythingComesInFixedOrderPublicPrivateCertificates) {
    addKeyPair(3);
    addKeyPair(1);
    addCertificate(4, bytesOf("cert-four"));
    addCertificate(0, bytesOf("cert-zero"));
    CK_SESSION_HANDLE session = openSession();

    EXPECT_EQ((Handles{publicBase + 3, publicBase + 1, certificateBase + 4, certificateBase + 0}),
              findAll(session, {}));
    login(session);
    EXPECT_EQ((Handles{publicBase + 3, publicBase + 1, privateBase + 3, privateBase + 1, certificateBase + 4,
                       certificateBase + 0}),
              findAll(session, {}));
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
    EXPECT_EQ(publicBase + 0, page[0]);
    EXPECT_EQ(publicBase + 1, page[1]);
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 2, &count));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(publicBase + 2, page[0]);
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page, 2, &count));
    EXPECT_EQ(0u, count);
    EXPECT_TRUE(logHas("DEBUG", "Find object return : " + std::to_string(publicBase + 2)));
    EXPECT_TRUE(logHas("DEBUG", "C_FindObjects find object count : 3"));

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
    if (sizeof(CK_ULONG) > 4) {
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID,
                  f()->C_FindObjectsInit(above32Bits(static_cast<uint32_t>(session)), nullptr, 0));
    }
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
        ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
        CK_ATTRIBUTE search[] = {attribute(CKA_CLASS, &objectClass, sizeof objectClass), c.entry};
        EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_FindObjectsInit(session, search, 2)) << c.name;
        // The running search stays open but has lost its objects.
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 99;
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, &handle, 1, &count)) << c.name;
        EXPECT_EQ(0u, count) << c.name;
        EXPECT_EQ(CKR_OK, f()->C_FindObjectsFinal(session));
    }
}

TEST_F(SearchTest, KeyCriteriaUseOnlyTheFirstOnePresent) {
    ZelmorKeyPair alpha = addKeyPair(0, keyKindRsa2048, "alpha", {0x0A});
    ZelmorKeyPair beta = addKeyPair(1, keyKindEcP256, "beta", {0x0B});
    addKeyPair(2, keyKindRsa1024, "gamma", {0x0B});
    CK_SESSION_HANDLE session = openSession();

    char alphaLabel[] = "alpha";
    char betaLabelWithTail[] = "beta\0ignored";
    CK_BYTE idB[] = {0x0B};
    CK_BYTE idA[] = {0x0A};
    Bytes alphaValue(alpha.publicValue, alpha.publicValue + alpha.publicValueLength);
    Bytes betaValue(beta.publicValue, beta.publicValue + beta.publicValueLength);
    Bytes subject = bytesOf("whatever");
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> criteria;
        Handles expected;
    } cases[] = {
        {"label", {attribute(CKA_LABEL, alphaLabel, 5)}, {publicBase + 0}},
        {"label stops at NUL", {attribute(CKA_LABEL, betaLabelWithTail, sizeof betaLabelWithTail)}, {publicBase + 1}},
        {"label is not a prefix", {attribute(CKA_LABEL, alphaLabel, 4)}, {}},
        {"label before ID", {attribute(CKA_ID, idB, 1), attribute(CKA_LABEL, alphaLabel, 5)}, {publicBase + 0}},
        {"value before ID", {attribute(CKA_ID, idA, 1), attribute(CKA_VALUE, betaValue.data(), 65)}, {publicBase + 1}},
        {"ID", {attribute(CKA_ID, idB, 1)}, {publicBase + 1, publicBase + 2}},
        {"ID before modulus", {attribute(CKA_MODULUS, alphaValue.data(), 256), attribute(CKA_ID, idB, 1)},
         {publicBase + 1, publicBase + 2}},
        {"modulus", {attribute(CKA_MODULUS, alphaValue.data(), 256)}, {publicBase + 0}},
        {"modulus must match in length", {attribute(CKA_MODULUS, alphaValue.data(), 255)}, {}},
        {"subject is ignored for keys", {attribute(CKA_SUBJECT, subject.data(), 8)},
         {publicBase + 0, publicBase + 1, publicBase + 2}},
        {"later label wins", {attribute(CKA_LABEL, alphaLabel, 5), attribute(CKA_LABEL, betaLabelWithTail, 4)},
         {publicBase + 1}},
    };
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> search = c.criteria;
        search.insert(search.begin(), attribute(CKA_CLASS, &publicKeyClass, sizeof publicKeyClass));
        EXPECT_EQ(c.expected, findAll(session, search)) << c.name;
    }
}

TEST_F(SearchTest, CertificateCriteriaUseOnlyTheFirstOnePresent) {
    Bytes derA = bytesOf("der-of-a"), derB = bytesOf("der-of-b-longer");
    addCertificate(0, derA, "first", {0x01});
    addCertificate(1, derB, "second", {0x02});
    fakeLibrary().edit([&](FakeState& state) {
        state.certificateInfo[derA].subject = bytesOf("CN=A");
        state.certificateInfo[derB].subject = bytesOf("CN=B");
    });
    CK_SESSION_HANDLE session = openSession();
    char first[] = "first";
    CK_BYTE id2[] = {0x02};
    Bytes subjectB = bytesOf("CN=B");
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> criteria;
        Handles expected;
    } cases[] = {
        {"label before value", {attribute(CKA_VALUE, derB.data(), derB.size()), attribute(CKA_LABEL, first, 5)},
         {certificateBase + 0}},
        {"value", {attribute(CKA_VALUE, derB.data(), derB.size())}, {certificateBase + 1}},
        {"ID before subject", {attribute(CKA_SUBJECT, subjectB.data(), 4), attribute(CKA_ID, id2, 1)},
         {certificateBase + 1}},
        {"subject", {attribute(CKA_SUBJECT, subjectB.data(), 4)}, {certificateBase + 1}},
        {"modulus is ignored for certificates", {attribute(CKA_MODULUS, derA.data(), derA.size())},
         {certificateBase + 0, certificateBase + 1}},
    };
    for (const Case& c : cases) {
        std::vector<CK_ATTRIBUTE> search = c.criteria;
        search.push_back(attribute(CKA_CLASS, &certificateClass, sizeof certificateClass));
        EXPECT_EQ(c.expected, findAll(session, search)) << c.name;
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
    EXPECT_TRUE(logHas("DEBUG", "Find object class : 4"));
    EXPECT_TRUE(logHas("DEBUG", "Find object init count : 1"));
    EXPECT_TRUE(logHas("DEBUG", "Find object init type : 3"));

    CK_BYTE id[] = {0x0A, 0xBC, 0x01};
    findAll(session, {attribute(CKA_ID, id, sizeof id)});
    EXPECT_TRUE(logHas("DEBUG", "Find init id : 0ABC01"));
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

TEST_F(SearchTest, HostileRecordsAreReadWithinTheirFields) {
    // A 128-byte label with no terminator, followed by non-zero bytes.
    ZelmorKeyPair unterminated = makeFakeKeyPair(0, keyKindRsa2048, "", {});
    std::memset(unterminated.label, 'K', sizeof unterminated.label);
    std::memset(unterminated.padding1, 'P', sizeof unterminated.padding1);
    unterminated.publicValueLength = 5000;
    fakeLibrary().addKeyPair(defaultDevice, unterminated);
    ZelmorKeyPair negative = makeFakeKeyPair(1, keyKindRsa2048, "neg", {0x01});
    negative.publicValueLength = -1;
    negative.idLength = -100;
    fakeLibrary().addKeyPair(defaultDevice, negative);
    // Numbers no handle can carry stay out of the results.
    addKeyPair(0x1000);
    addCertificate(0x8FFFE000, bytesOf("der"));

    ZelmorCertificate certificate = makeFakeCertificate(3, bytesOf("der"), "", {});
    std::memset(certificate.label, 'C', sizeof certificate.label);
    std::memset(certificate.libraryFields, 'F', sizeof certificate.libraryFields);
    certificate.idLength = 129;
    fakeLibrary().addCertificate(defaultDevice, certificate);

    CK_SESSION_HANDLE session = openSession();
    std::string keyLabel(128, 'K');
    std::string certificateLabel(128, 'C');
    Bytes fullValue(unterminated.publicValue, unterminated.publicValue + sizeof unterminated.publicValue);
    Bytes fullId(certificate.id, certificate.id + sizeof certificate.id);

    EXPECT_EQ(Handles{publicBase + 0},
              findAll(session, {attribute(CKA_CLASS, &publicKeyClass, sizeof publicKeyClass),
                                attribute(CKA_LABEL, &keyLabel[0], 128)}));
    EXPECT_EQ(Handles{publicBase + 0},
              findAll(session, {attribute(CKA_CLASS, &publicKeyClass, sizeof publicKeyClass),
                                attribute(CKA_VALUE, fullValue.data(), fullValue.size())}));
    EXPECT_EQ(Handles{certificateBase + 3},
              findAll(session, {attribute(CKA_CLASS, &certificateClass, sizeof certificateClass),
                                attribute(CKA_LABEL, &certificateLabel[0], 128)}));
    EXPECT_EQ(Handles{certificateBase + 3},
              findAll(session, {attribute(CKA_CLASS, &certificateClass, sizeof certificateClass),
                                attribute(CKA_ID, fullId.data(), fullId.size())}));
    EXPECT_EQ((Handles{publicBase + 0, publicBase + 1, certificateBase + 3}), findAll(session, {}));
}
