// Two threads signing on two sessions run inside the device library at the
// same time: no module lock is held across the signing call.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ModuleTest.h"

using namespace testing_support;

namespace {

// Lets `parties` threads through once all have arrived; false after a
// generous wait (a module that serialised signing never gets there).
class Rendezvous {
public:
    explicit Rendezvous(int parties) : waiting(parties) {}
    bool arriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex);
        if (--waiting == 0) condition.notify_all();
        return condition.wait_for(lock, std::chrono::seconds(20), [&] { return waiting <= 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    int waiting;
};

class SigningConcurrencyTest : public ModuleTest {};

}  // namespace

TEST_F(SigningConcurrencyTest, TwoSessionsSignInParallel) {
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "a", {}));
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(1, keyKindRsa2048, "b", {}));
    CK_SESSION_HANDLE sessions[2] = {openSession(), openSession()};
    login(sessions[0]);

    // The first two signing calls must be inside the library together.
    auto rendezvous = std::make_shared<Rendezvous>(2);
    std::atomic<int> entered{0}, met{0};
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall["zelmor_signHash"] = [rendezvous, &entered, &met] {
            if (entered++ < 2 && rendezvous->arriveAndWait()) ++met;
        };
    });

    const int rounds = 20;
    std::atomic<int> failures{0};
    auto signer = [&](int index) {
        CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
        std::vector<CK_BYTE> data(100, static_cast<CK_BYTE>(index));
        std::vector<CK_BYTE> signature(1024);
        for (int i = 0; i < rounds; ++i) {
            CK_ULONG length = static_cast<CK_ULONG>(signature.size());
            if (f()->C_SignInit(sessions[index], &mechanism, 0x70000000 + index) != CKR_OK ||
                f()->C_Sign(sessions[index], data.data(), 100, signature.data(), &length) != CKR_OK) {
                ++failures;
            }
        }
    };
    std::thread first(signer, 0), second(signer, 1);
    first.join();
    second.join();
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });

    EXPECT_EQ(2, met.load());
    EXPECT_EQ(0, failures.load());
    auto signs = fakeLibrary().calls("zelmor_signHash");
    ASSERT_EQ(2u * rounds, signs.size());
    std::size_t withFirstKey = 0;
    for (const FakeCall& call : signs) {
        if (call.identifier[0] == 0xA0) ++withFirstKey;
    }
    EXPECT_EQ(static_cast<std::size_t>(rounds), withFirstKey);
}

TEST_F(SigningConcurrencyTest, SessionClosedDuringSigningGetsAnInvalidHandle) {
    fakeLibrary().addKeyPair(defaultDevice, makeFakeKeyPair(0, keyKindRsa2048, "a", {}));
    CK_SESSION_HANDLE session = openSession();
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(CKR_OK, f()->C_SignInit(session, &mechanism, 0x70000000));

    std::mutex mutex;
    std::condition_variable condition;
    bool inside = false, closed = false;
    fakeLibrary().edit([&](FakeState& state) {
        state.duringCall["zelmor_signHash"] = [&] {
            std::unique_lock<std::mutex> lock(mutex);
            inside = true;
            condition.notify_all();
            condition.wait_for(lock, std::chrono::seconds(20), [&] { return closed; });
        };
    });
    CK_RV signResult = CKR_OK;
    std::thread signer([&] {
        CK_BYTE data[8] = {1};
        CK_ULONG length = 0;
        signResult = f()->C_Sign(session, data, 8, nullptr, &length);
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(condition.wait_for(lock, std::chrono::seconds(20), [&] { return inside; }));
    }
    // The table is free while the library signs.
    EXPECT_EQ(CKR_OK, f()->C_CloseSession(session));
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    condition.notify_all();
    signer.join();
    fakeLibrary().edit([](FakeState& state) { state.duringCall.clear(); });
    EXPECT_EQ(CKR_SESSION_HANDLE_INVALID, signResult);
}
