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
            state.duringCall.clear();
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

TEST_F(SessionClosedMeanwhile, DeviceCallsReportTheClosedSession) {
    for (const std::string operation : {"zelmor_generateKeyPair", "zelmor_importCertificate", "zelmor_importPfx"}) {
        SCOPED_TRACE(operation);
        session = openSession(true);
        closeSessionDuring(operation);
        closedInTime = false;
        CK_OBJECT_HANDLE a = untouched, b = untouched;
        if (operation == "zelmor_generateKeyPair") {
            Template publicTemplate, privateTemplate;
            publicTemplate.boolean(CKA_TOKEN, true);
            privateTemplate.boolean(CKA_TOKEN, true);
            CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
            EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, f()->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), 1,
                                                                         privateTemplate.data(), 1, &a, &b));
        } else {
            Template t = objectOfClass(operation == "zelmor_importPfx" ? CKO_PRIVATE_KEY : CKO_CERTIFICATE);
            EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, create(t, &a));
        }
        EXPECT_TRUE(closedInTime);
        EXPECT_EQ(CKR_OK, closer.get());
        EXPECT_EQ(untouched, a);
        EXPECT_EQ(untouched, b);
    }
}

}  // namespace
