// C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal through the module.
#include "ObjectsTest.h"

using namespace objects_test;

namespace {

class SearchTest : public ObjectsTest {};

}  // namespace

// Public keys, private keys (after a login), certificates. A class selects
// the kind; only the first criterion present of label, value, ID, modulus,
// EC point (keys, under the standards setting: the DER form or the bare
// point) or subject (certificates) applies, its last occurrence.
TEST_F(SearchTest, TemplatesSelectObjects) {
    const ZelmorKeyPair alpha = addKeyPair(0, keyKindRsa2048, "alpha", {0x0A}), beta = addKeyPair(1, keyKindEcP256, "beta", {0x0B});
    addKeyPair(2, keyKindRsa1024, "gamma", {0x0B});
    const Bytes derA = bytesOf("der-of-a"), derB = bytesOf("der-of-b-longer"), modulus(alpha.publicValue, alpha.publicValue + 256);
    addCertificate(0, derA, "alpha", {0x0A});
    addCertificate(1, derB, "second", {0x0B});
    addKeyPair(0x1000);  // numbers no handle can carry are never listed
    addCertificate(0x8FFFE000, derB);
    fakeLibrary().edit([&](FakeState& state) { state.certificateInfo[derB].subject = bytesOf("CN=B"); });
    reinitialiseWithStandardsMode(1);
    CK_SESSION_HANDLE session = openSession();
    const CK_OBJECT_HANDLE pub = publicBase, priv = privateBase, cert = certificateBase;
    const Bytes point(beta.publicValue, beta.publicValue + 65);
    Bytes derPoint{4, 65};
    derPoint.insert(derPoint.end(), point.begin(), point.end());
    EXPECT_EQ((Handles{pub, pub + 1, pub + 2, cert, cert + 1}), findAll(session));
    EXPECT_EQ(Handles{}, findByClass(session, CKO_PRIVATE_KEY));
    login(session);
    const Template label = Template().text(CKA_LABEL, "alpha"), idB = Template().bytes(CKA_ID, {0x0B}),
                   subject = Template().text(CKA_SUBJECT, "CN=B"), byModulus = Template().bytes(CKA_MODULUS, modulus);
    const Handles everything{pub, pub + 1, pub + 2, priv, priv + 1, priv + 2, cert, cert + 1};
    const CK_OBJECT_CLASS noClass = ~CK_OBJECT_CLASS(0);
    const std::tuple<CK_OBJECT_CLASS, Template, Handles> cases[] = {
        {noClass, label, everything}, {CKO_VENDOR_DEFINED, {}, everything}, {CKO_DATA, {}, {}},
        {CKO_PRIVATE_KEY, label, {priv}}, {CKO_PUBLIC_KEY, label, {pub}},
        {CKO_PUBLIC_KEY, Template().sized(CKA_LABEL, bytesOf(std::string("beta\0x", 6)), 6), {pub + 1}},  // up to a NUL
        {CKO_PUBLIC_KEY, Template(idB).text(CKA_LABEL, "alpha"), {pub}},
        {CKO_PUBLIC_KEY, Template(idB).bytes(CKA_VALUE, Bytes(beta.publicValue, beta.publicValue + 65)), {pub + 1}},
        {CKO_PUBLIC_KEY, Template(byModulus).bytes(CKA_ID, {0x0B}), {pub + 1, pub + 2}},
        {CKO_PUBLIC_KEY, byModulus, {pub}}, {CKO_PUBLIC_KEY, Template().sized(CKA_MODULUS, modulus, 255), {}},
        {CKO_PUBLIC_KEY, subject, {pub, pub + 1, pub + 2}}, {CKO_PUBLIC_KEY, Template(label).text(CKA_LABEL, "beta"), {pub + 1}},
        {CKO_CERTIFICATE, Template().bytes(CKA_VALUE, derB).text(CKA_LABEL, "alpha"), {cert}},
        {CKO_CERTIFICATE, Template().bytes(CKA_VALUE, derB), {cert + 1}},
        {CKO_CERTIFICATE, Template(subject).bytes(CKA_ID, {0x0A}), {cert}}, {CKO_CERTIFICATE, subject, {cert + 1}},
        {CKO_CERTIFICATE, byModulus, {cert, cert + 1}}, {CKO_PUBLIC_KEY, Template().bytes(CKA_EC_POINT, point), {pub + 1}},
        {CKO_PUBLIC_KEY, Template().bytes(CKA_EC_POINT, derPoint), {pub + 1}},
        {CKO_PUBLIC_KEY, Template().bytes(CKA_EC_POINT, modulus), {}},
    };
    for (const auto& [objectClass, criteria, expected] : cases) {
        EXPECT_EQ(expected, objectClass == noClass ? findAll(session, criteria) : findByClass(session, objectClass, criteria))
            << objectClass << " " << criteria.attributes().size();
    }
    // The subject comes from the device library, given the certificate's DER.
    EXPECT_EQ(derA, fakeLibrary().calls("zelmor_getCertificateSubject").at(0).data);
    EXPECT_EQ(nullptr, fakeLibrary().calls("zelmor_getCertificateSubject").at(0).instance);
}

// A count query neither writes nor advances; a page continues where the last
// ended; a new search starts again. Argument and state checks in order. An
// empty list makes the device library initialise the device; a failed
// initialisation is logged, the search goes on with the lists it has.
TEST_F(SearchTest, PagesArgumentsAndState) {
    for (uint32_t number = 0; number < 3; ++number) addKeyPair(number);
    CK_SESSION_HANDLE session = openSession();
    const Handles all{publicBase, publicBase + 1, publicBase + 2};
    Handles page(2);
    CK_ULONG count = 99;
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjects(session, page.data(), 1, &count));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjectsFinal(session));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjectsInit(session, nullptr, 1));
    const std::vector<CK_ATTRIBUTE> refused = Template().sized(CKA_CLASS, ulongBytes(CKO_PUBLIC_KEY), 1).attributes();
    EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, f()->C_FindObjectsInit(session, const_cast<CK_ATTRIBUTE*>(refused.data()), 1));
    ASSERT_EQ(CKR_OK, f()->C_FindObjectsInit(session, nullptr, 0));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, page.data(), 1, nullptr));
    EXPECT_EQ(CKR_ARGUMENTS_BAD, f()->C_FindObjects(session, nullptr, 1, &count));
    EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, nullptr, 0, &count));
    const std::pair<CK_ULONG, Handles> pages[] = {{0, {}}, {2, {publicBase, publicBase + 1}}, {2, {publicBase + 2}}, {2, {}}};
    for (const auto& [maxCount, expected] : pages) {
        EXPECT_EQ(CKR_OK, f()->C_FindObjects(session, page.data(), maxCount, &count));
        EXPECT_EQ(expected, Handles(page.begin(), page.begin() + count));
    }
    fakeLibrary().setResult("zelmor_initDevice", -7);
    fakeLibrary().clearCalls();
    EXPECT_EQ(all, findAll(session));
    EXPECT_TRUE(logged("Init device for certificates in find objects failed : -7"));
    EXPECT_EQ(1u, fakeLibrary().callCount("zelmor_getKeyPairList"));
    EXPECT_EQ(CKR_OPERATION_NOT_INITIALIZED, f()->C_FindObjects(session, page.data(), 1, &count));
}
