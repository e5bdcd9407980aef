// Several threads and several processes on one device, and processes killed
// in the middle of store writes.
#include "SimTestSupport.h"

#include "device/ResultCodes.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace simtest;
namespace result = zelmor::sim::result;

namespace {

class ConcurrencyTest : public SimTest {};

int32_t signOnce(ZelmorInstance instance, const char* serial, const uint8_t* identifier) {
    return signWith(instance, serial, identifier, Bytes(32, 0x5a));
}

// Forks a child that runs `work` with its own library instance and exits with its result.
pid_t startChild(const std::function<int(ZelmorInstance)>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        ZelmorInstance instance = nullptr;
        zelmor_createInstance(&instance);
        ::_exit(work(instance));
    }
    return child;
}

int exitStatusOf(pid_t child) {
    int status = 0;
    if (child <= 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Generates P-256 key pairs; the number of failures.
int generateKeys(ZelmorInstance instance, const char* serial, int count) {
    int failures = 0;
    for (int i = 0; i < count; ++i) failures += generateResult(instance, serial) != 0;
    return failures;
}

}  // namespace

TEST_F(ConcurrencyTest, ThreadsSignGenerateAndPollTogether) {
    createDevice("T1", 64);
    ZelmorInstance instance = openInstance();
    const ZelmorKeyPair key = generate(instance, "T1", keyKindEcP256);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::atomic<int> signatures{0};

    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            while (!stop) {
                failures += signOnce(instance, "T1", key.identifier) != result::ok;
                ++signatures;
            }
        });
    }
    threads.emplace_back([&] {  // like the module's device monitor
        while (!stop) failures += zelmor_getConnectedDeviceList(false, instance).size() != 1;
    });
    threads.emplace_back([&] {
        while (!stop) failures += zelmor_getKeyPairList("T1", instance).empty();
    });
    for (int i = 0; i < 6; ++i) {
        ZelmorKeyPair created = generate(instance, "T1", keyKindEcP256);
        if (i % 2 == 0) {
            EXPECT_EQ(zelmor_deleteKeyPair("T1", created.identifier, defaultPin, false, instance), 0);
        }
    }
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_GT(signatures, 0);
    EXPECT_EQ(zelmor_getKeyPairList("T1", instance).size(), 4u);
}

TEST_F(ConcurrencyTest, TwoProcessesGeneratingAtOnceLoseNothing) {
    createDevice("T2", 64);
    constexpr int perProcess = 6;
    const pid_t child = startChild([](ZelmorInstance other) { return generateKeys(other, "T2", perProcess); });
    EXPECT_EQ(generateKeys(openInstance(), "T2", perProcess), 0);
    EXPECT_EQ(exitStatusOf(child), 0);

    ZelmorInstance instance = openInstance();
    const auto list = zelmor_getKeyPairList("T2", instance);
    ASSERT_EQ(list.size(), 2u * perProcess);
    std::set<uint32_t> numbers;
    for (const auto& key : list) numbers.insert(key.number);
    EXPECT_EQ(numbers.size(), list.size());
    EXPECT_EQ(*numbers.rbegin(), 2u * perProcess - 1);
}

TEST_F(ConcurrencyTest, KeyMadeByAnotherProcessIsFoundAndUsed) {
    createDevice("T3");
    ZelmorInstance instance = openInstance();
    ASSERT_TRUE(zelmor_getKeyPairList("T3", instance).empty());  // loaded before the other process writes
    ASSERT_EQ(exitStatusOf(startChild([](ZelmorInstance other) { return generateKeys(other, "T3", 1); })), 0);

    const auto list = zelmor_getKeyPairList("T3", instance);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(signOnce(instance, "T3", list[0].identifier), result::ok);
}

TEST_F(ConcurrencyTest, KeyDeletedByAnotherProcessCannotSignAnyMore) {
    createDevice("T5");
    ZelmorInstance instance = openInstance();
    const ZelmorKeyPair key = generate(instance, "T5", keyKindEcP256);
    ASSERT_EQ(signOnce(instance, "T5", key.identifier), result::ok);  // key and PIN now cached
    ASSERT_EQ(exitStatusOf(startChild([&](ZelmorInstance other) {
                  return zelmor_deleteKeyPair("T5", key.identifier, defaultPin, false, other);
              })),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(signOnce(instance, "T5", key.identifier), result::objectNotFound);
    EXPECT_TRUE(zelmor_getKeyPairList("T5", instance).empty());
}

TEST_F(ConcurrencyTest, ProcessKilledMidWriteLeavesEveryReportedKeyPair) {
    createDevice("T4", 1000);
    std::set<std::string> reported;
    for (int round = 0; round < 6; ++round) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            ZelmorInstance instance = nullptr;
            zelmor_createInstance(&instance);
            for (;;) {
                ZelmorKeyPair request{};
                request.keyKind = keyKindEcP256;
                if (zelmor_generateKeyPair("T4", defaultPin, &request, instance) == 0)
                    (void)!::write(pipeEnds[1], request.identifier, 16);
            }
        }
        ::close(pipeEnds[1]);
        // Once the child has reported its first key pair, let it run into a random later write.
        uint8_t identifier[16];
        const bool childProgressed = ::read(pipeEnds[0], identifier, 16) == 16;
        if (childProgressed) {
            reported.insert(std::string(identifier, identifier + 16));
            std::this_thread::sleep_for(std::chrono::milliseconds(7 + 23 * round));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        while (::read(pipeEnds[0], identifier, 16) == 16) reported.insert(std::string(identifier, identifier + 16));
        ::close(pipeEnds[0]);
        ASSERT_TRUE(childProgressed) << "round " << round;

        ZelmorInstance instance = openInstance();
        ASSERT_EQ(zelmor_getConnectedDeviceList(false, instance), std::vector<std::string>{"T4"}) << round;
        std::set<std::string> present;
        for (const auto& key : zelmor_getKeyPairList("T4", instance))
            present.insert(std::string(key.identifier, key.identifier + 16));
        for (const auto& identifier : reported) EXPECT_EQ(present.count(identifier), 1u) << "round " << round;
    }
}
