// The device call runs without the module's session lock: another thread can
// close the session meanwhile, and the call then reports the closed session
// and hands out no handle.
#include <chrono>
#include <future>

#include "CreationTestSupport.h"

using namespace creation_tests;

namespace {

class SessionClosedMeanwhile : public CreationTest {
protected:
    // While the device works on operation, a second thread closes the session.
    void closeSessionDuring(const std::string& operation) {
        CK_FUNCTION_LIST_PTR functions = f();
        CK_SESSION_HANDLE target = session;
        fakeLibrary().edit([&](FakeState& state) {
            state.duringCall[operation] = [this, functions, target] {
                closer = std::async(std::launch::async, [functions, target] { return functions->C_CloseSession(target); });
                // Generous: a module holding its lock here would block the closer for good.
                closedInTime = closer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
            };
        });
    }
    void TearDown() override {
        if (closer.valid()) closer.wait();
        CreationTest::TearDown();
    }

    std::future<CK_RV> closer;
    bool closedInTime = false;
};

TEST_F(SessionClosedMeanwhile, GenerationReportsTheClosedSession) {
    closeSessionDuring("zelmor_generateKeyPair");
    Template publicTemplate, privateTemplate;
    publicTemplate.boolean(CKA_TOKEN, true);
    privateTemplate.boolean(CKA_TOKEN, true);
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE a = 0xDEADBEEF, b = 0xDEADBEEF;
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), 1,
                                                                 privateTemplate.data(), 1, &a, &b));
    EXPECT_TRUE(closedInTime);
    EXPECT_EQ(CKR_OK, closer.get());
    EXPECT_EQ(0xDEADBEEFu, a);
    EXPECT_EQ(0xDEADBEEFu, b);
}

TEST_F(SessionClosedMeanwhile, ImportsReportTheClosedSession) {
    Bytes leaf = der("leaf");
    defineCertificate(leaf, "CN=Leaf", "CN=Nobody");
    struct Case {
        const char* operation;
        CK_OBJECT_CLASS objectClass;
    };
    for (Case c : {Case{"zelmor_importCertificate", CKO_CERTIFICATE}, Case{"zelmor_importPfx", CKO_PRIVATE_KEY}}) {
        SCOPED_TRACE(c.operation);
        session = openSession(true);
        closeSessionDuring(c.operation);
        Template t;
        t.ulong(CKA_CLASS, c.objectClass).bytes(CKA_VALUE, leaf).bytes(CKA_MODULUS, Bytes{1}).bytes(
            CKA_PRIVATE_EXPONENT, Bytes{2}).bytes(CKA_PRIME_1, Bytes{3});
        CK_OBJECT_HANDLE handle = 0xDEADBEEF;
        EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_CreateObject(session, t.data(), t.count(), &handle));
        EXPECT_TRUE(closedInTime);
        EXPECT_EQ(CKR_OK, closer.get());
        EXPECT_EQ(0xDEADBEEFu, handle);
        fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    }
}

}  // namespace
