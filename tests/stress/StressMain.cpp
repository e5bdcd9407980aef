// Stress run of the module against the virtual device library: worker threads
// call random mixes of entry points while a child process plugs and unplugs
// the device. A watchdog ends the run when one call takes more than 30 s.
// Prints the calls made and their results by return code; exits 1 on a
// result outside what the entry point may return, 3 on a hung call.
//
//   zelmor_stress MODULE SECONDS SERIAL PIN [ZELMOR_SIM_TOOL] [THREADS]
//
// ZELMOR_SIM_HOME names the store holding device SERIAL (created with PIN).
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ResultCodes.h"
#include "pkcs11.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int hangSeconds = 30;

struct Settings {
    std::string module;
    int seconds = 600;
    std::string serial;
    std::string pin;
    std::string tool;
    int threads = 8;
};

std::atomic<bool> stopRequested{false};

// What a worker is doing, for the watchdog.
struct WorkerClock {
    std::atomic<int64_t> callStartedMs{0};  // 0: between calls
    std::atomic<const char*> function{""};
};

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

class Tally {
public:
    void add(const std::string& function, CK_RV rv) {
        std::lock_guard<std::mutex> guard(mutex_);
        ++counts_[function][rv];
        if (!stress::allowedResult(function, rv)) {
            if (++violations_ <= 20) {
                std::fprintf(stderr, "UNEXPECTED: %s returned %s\n", function.c_str(), stress::resultName(rv).c_str());
            }
        }
    }
    int violations() const { return violations_; }
    void print() const {
        unsigned long long total = 0;
        for (const auto& function : counts_) {
            std::printf("%-22s", function.first.c_str());
            for (const auto& result : function.second) {
                std::printf(" %s=%llu", stress::resultName(result.first).c_str(), result.second);
                total += result.second;
            }
            std::printf("\n");
        }
        std::printf("operations: %llu, unexpected results: %d\n", total, violations_);
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::map<CK_RV, unsigned long long>> counts_;
    int violations_ = 0;
};

Tally tally;

class Worker {
public:
    Worker(CK_FUNCTION_LIST_PTR functions, const Settings& settings, WorkerClock& clock, unsigned seed)
        : f(functions), settings(settings), clock(clock), random(seed) {}

    void run() {
        while (!stopRequested.load()) step();
        for (CK_SESSION_HANDLE session : sessions) call("C_CloseSession", [&] { return f->C_CloseSession(session); });
    }

private:
    template <typename Call>
    CK_RV call(const char* function, Call&& body) {
        clock.function.store(function);
        clock.callStartedMs.store(nowMs());
        CK_RV rv = body();
        clock.callStartedMs.store(0);
        tally.add(function, rv);
        return rv;
    }

    unsigned pick(unsigned limit) { return std::uniform_int_distribution<unsigned>(0, limit - 1)(random); }

    CK_SLOT_ID firstSlot() {
        CK_SLOT_ID slots[16];
        CK_ULONG count = 16;
        CK_RV rv = call("C_GetSlotList", [&] { return f->C_GetSlotList(CK_TRUE, slots, &count); });
        return rv == CKR_OK && count > 0 ? slots[0] : 0;
    }

    CK_SESSION_HANDLE session() {
        if (sessions.empty() || pick(20) == 0) openSession();
        return sessions.empty() ? CK_INVALID_HANDLE : sessions[pick(static_cast<unsigned>(sessions.size()))];
    }

    void openSession() {
        CK_SLOT_ID slot = firstSlot();
        if (slot == 0) return;
        CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
        CK_FLAGS flags = CKF_SERIAL_SESSION | (pick(4) != 0 ? CKF_RW_SESSION : 0);
        if (call("C_OpenSession", [&] { return f->C_OpenSession(slot, flags, nullptr, nullptr, &handle); }) == CKR_OK) {
            sessions.push_back(handle);
        }
    }

    void closeSession() {
        if (sessions.empty()) return;
        std::size_t index = pick(static_cast<unsigned>(sessions.size()));
        CK_SESSION_HANDLE handle = sessions[index];
        sessions.erase(sessions.begin() + static_cast<std::ptrdiff_t>(index));
        call("C_CloseSession", [&] { return f->C_CloseSession(handle); });
    }

    void login(CK_SESSION_HANDLE s) {
        std::string pin = settings.pin;
        call("C_Login", [&] {
            return f->C_Login(s, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), static_cast<CK_ULONG>(pin.size()));
        });
    }

    // Handles of objects of a class (and key type, if given) on the device.
    std::vector<CK_OBJECT_HANDLE> find(CK_SESSION_HANDLE s, CK_OBJECT_CLASS objectClass) {
        std::vector<CK_OBJECT_HANDLE> found(32);
        CK_ATTRIBUTE filter[] = {{CKA_CLASS, &objectClass, sizeof objectClass}};
        if (call("C_FindObjectsInit", [&] { return f->C_FindObjectsInit(s, filter, 1); }) != CKR_OK) return {};
        CK_ULONG count = 0;
        CK_RV rv = call("C_FindObjects", [&] { return f->C_FindObjects(s, found.data(), 32, &count); });
        call("C_FindObjectsFinal", [&] { return f->C_FindObjectsFinal(s); });
        found.resize(rv == CKR_OK ? count : 0);
        return found;
    }

    CK_KEY_TYPE keyType(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key) {
        CK_KEY_TYPE type = CKK_RSA;
        CK_ATTRIBUTE attribute{CKA_KEY_TYPE, &type, sizeof type};
        CK_RV rv = call("C_GetAttributeValue", [&] { return f->C_GetAttributeValue(s, key, &attribute, 1); });
        return rv == CKR_OK ? type : CKK_VENDOR_DEFINED;
    }

    void readAttributes(CK_SESSION_HANDLE s) {
        std::vector<CK_OBJECT_HANDLE> objects = find(s, pick(2) ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY);
        if (objects.empty()) return;
        CK_OBJECT_HANDLE object = objects[pick(static_cast<unsigned>(objects.size()))];
        CK_ATTRIBUTE sizes[] = {{CKA_LABEL, nullptr, 0}, {CKA_ID, nullptr, 0}, {CKA_MODULUS, nullptr, 0},
                                {CKA_EC_POINT, nullptr, 0}};
        call("C_GetAttributeValue", [&] { return f->C_GetAttributeValue(s, object, sizes, 4); });
        std::vector<std::vector<uint8_t>> values;
        for (CK_ATTRIBUTE& attribute : sizes) {
            if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION || attribute.ulValueLen > 4096) attribute.ulValueLen = 0;
            values.emplace_back(attribute.ulValueLen + 1);
            attribute.pValue = values.back().data();
        }
        call("C_GetAttributeValue", [&] { return f->C_GetAttributeValue(s, object, sizes, 4); });
    }

    void signAndVerify(CK_SESSION_HANDLE s) {
        std::vector<CK_OBJECT_HANDLE> keys = find(s, CKO_PRIVATE_KEY);
        if (keys.empty()) return;
        CK_OBJECT_HANDLE key = keys[pick(static_cast<unsigned>(keys.size()))];
        CK_MECHANISM mechanism{keyType(s, key) == CKK_EC ? CKM_ECDSA_SHA256 : CKM_SHA256_RSA_PKCS, nullptr, 0};
        CK_BYTE data[100];
        for (CK_BYTE& byte : data) byte = static_cast<CK_BYTE>(pick(256));
        CK_BYTE signature[1024];
        CK_ULONG length = sizeof signature;
        if (call("C_SignInit", [&] { return f->C_SignInit(s, &mechanism, key); }) != CKR_OK) return;
        if (call("C_Sign", [&] { return f->C_Sign(s, data, sizeof data, signature, &length); }) != CKR_OK) return;
        // The public key of the pair has the private key's handle number plus 0x1000.
        CK_OBJECT_HANDLE publicKey = key + 0x1000;
        if (call("C_VerifyInit", [&] { return f->C_VerifyInit(s, &mechanism, publicKey); }) != CKR_OK) return;
        call("C_Verify", [&] { return f->C_Verify(s, data, sizeof data, signature, length); });
    }

    void encryptAndDecrypt(CK_SESSION_HANDLE s) {
        std::vector<CK_OBJECT_HANDLE> keys = find(s, CKO_PRIVATE_KEY);
        if (keys.empty()) return;
        CK_OBJECT_HANDLE key = keys[pick(static_cast<unsigned>(keys.size()))];
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        CK_BYTE data[32] = {1, 2, 3};
        CK_BYTE encrypted[1024];
        CK_ULONG length = sizeof encrypted;
        if (call("C_EncryptInit", [&] { return f->C_EncryptInit(s, &mechanism, key + 0x1000); }) != CKR_OK) return;
        if (call("C_Encrypt", [&] { return f->C_Encrypt(s, data, sizeof data, encrypted, &length); }) != CKR_OK) return;
        CK_BYTE decrypted[1024];
        CK_ULONG decryptedLength = sizeof decrypted;
        if (call("C_DecryptInit", [&] { return f->C_DecryptInit(s, &mechanism, key); }) != CKR_OK) return;
        call("C_Decrypt", [&] { return f->C_Decrypt(s, encrypted, length, decrypted, &decryptedLength); });
    }

    void digest(CK_SESSION_HANDLE s) {
        CK_MECHANISM mechanism{pick(2) ? CKM_SHA256 : CKM_SHA_1, nullptr, 0};
        if (call("C_DigestInit", [&] { return f->C_DigestInit(s, &mechanism); }) != CKR_OK) return;
        CK_BYTE data[300] = {7};
        CK_BYTE out[64];
        CK_ULONG length = sizeof out;
        switch (pick(3)) {
            case 0: call("C_Digest", [&] { return f->C_Digest(s, data, sizeof data, out, &length); }); break;
            case 1:
                for (unsigned i = 0, parts = 1 + pick(4); i < parts; ++i) {
                    call("C_DigestUpdate", [&] { return f->C_DigestUpdate(s, data, sizeof data); });
                }
                call("C_DigestFinal", [&] { return f->C_DigestFinal(s, out, &length); });
                break;
            default: break;  // left unfinished, for the session close to clear
        }
    }

    void generate(CK_SESSION_HANDLE s) {
        CK_BBOOL yes = CK_TRUE;
        CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
        CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
        std::string label = "stress";
        CK_BYTE curve[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
        CK_ULONG bits = 1024;
        CK_BYTE exponent[] = {0x01, 0x00, 0x01};
        bool ec = pick(4) != 0;
        std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_VERIFY, &yes, sizeof yes},
                                                    {CKA_LABEL, &label[0], label.size()}};
        if (ec) {
            publicTemplate.push_back({CKA_EC_PARAMS, curve, sizeof curve});
        } else {
            publicTemplate.push_back({CKA_MODULUS_BITS, &bits, sizeof bits});
            publicTemplate.push_back({CKA_PUBLIC_EXPONENT, exponent, sizeof exponent});
            publicTemplate.push_back({CKA_ENCRYPT, &yes, sizeof yes});
        }
        std::vector<CK_ATTRIBUTE> privateTemplate = {{CKA_SIGN, &yes, sizeof yes}, {CKA_TOKEN, &yes, sizeof yes},
                                                     {CKA_LABEL, &label[0], label.size()}};
        if (!ec) privateTemplate.push_back({CKA_DECRYPT, &yes, sizeof yes});
        CK_MECHANISM mechanism{ec ? CKM_EC_KEY_PAIR_GEN : CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_RV rv = call("C_GenerateKeyPair", [&] {
            return f->C_GenerateKeyPair(s, &mechanism, publicTemplate.data(),
                                        static_cast<CK_ULONG>(publicTemplate.size()), privateTemplate.data(),
                                        static_cast<CK_ULONG>(privateTemplate.size()), &publicKey, &privateKey);
        });
        if (rv == CKR_OK) created.push_back(privateKey);
    }

    void destroy(CK_SESSION_HANDLE s) {
        if (created.empty()) return;
        CK_OBJECT_HANDLE key = created.back();
        created.pop_back();
        call("C_DestroyObject", [&] { return f->C_DestroyObject(s, key); });
    }

    void step() {
        CK_SESSION_HANDLE s = session();
        if (s == CK_INVALID_HANDLE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return;
        }
        switch (pick(20)) {
            case 0: openSession(); break;
            case 1: closeSession(); break;
            case 2:
            case 3: login(s); break;
            case 4: call("C_Logout", [&] { return f->C_Logout(s); }); break;
            case 5: find(s, CKO_PRIVATE_KEY); break;
            case 6:
            case 7: readAttributes(s); break;
            case 8:
            case 9:
            case 10: signAndVerify(s); break;
            case 11: encryptAndDecrypt(s); break;
            case 12:
            case 13: digest(s); break;
            case 14: if (created.size() < 3) generate(s); else destroy(s); break;
            case 15: destroy(s); break;
            case 16: {
                CK_SESSION_INFO info;
                call("C_GetSessionInfo", [&] { return f->C_GetSessionInfo(s, &info); });
                break;
            }
            case 17: {
                CK_SLOT_ID slot = firstSlot();
                CK_TOKEN_INFO info;
                if (slot != 0) call("C_GetTokenInfo", [&] { return f->C_GetTokenInfo(slot, &info); });
                break;
            }
            case 18: {
                CK_SLOT_ID slot = 0;
                call("C_WaitForSlotEvent", [&] { return f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr); });
                break;
            }
            default:
                if (pick(50) == 0) {
                    // Rare: every session of every thread goes.
                    CK_SLOT_ID slot = firstSlot();
                    if (slot != 0) call("C_CloseAllSessions", [&] { return f->C_CloseAllSessions(slot); });
                } else {
                    CK_BYTE random[64];
                    call("C_GenerateRandom", [&] { return f->C_GenerateRandom(s, random, sizeof random); });
                }
                break;
        }
    }

    CK_FUNCTION_LIST_PTR f;
    const Settings& settings;
    WorkerClock& clock;
    std::mt19937 random;
    std::vector<CK_SESSION_HANDLE> sessions;
    std::vector<CK_OBJECT_HANDLE> created;
};

// Runs "TOOL plug|unplug SERIAL" at random intervals until killed.
pid_t startPlugger(const Settings& settings) {
    pid_t child = fork();
    if (child != 0) return child;
    std::mt19937 random(static_cast<unsigned>(getpid()));
    bool plugged = true;
    for (;;) {
        usleep(static_cast<useconds_t>(100000 + random() % 900000));
        plugged = !plugged;
        pid_t tool = fork();
        if (tool == 0) {
            int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
            execl(settings.tool.c_str(), settings.tool.c_str(), plugged ? "plug" : "unplug", settings.serial.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(tool, &status, 0);
    }
}

void stopPlugger(pid_t child, const Settings& settings) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // Leave the device plugged.
    pid_t tool = fork();
    if (tool == 0) {
        execl(settings.tool.c_str(), settings.tool.c_str(), "plug", settings.serial.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    waitpid(tool, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s MODULE SECONDS SERIAL PIN [ZELMOR_SIM_TOOL] [THREADS]\n", argv[0]);
        return 2;
    }
    Settings settings;
    settings.module = argv[1];
    settings.seconds = std::atoi(argv[2]);
    settings.serial = argv[3];
    settings.pin = argv[4];
    if (argc > 5) settings.tool = argv[5];
    if (argc > 6) settings.threads = std::atoi(argv[6]);

    // Forked before any thread exists.
    pid_t plugger = settings.tool.empty() ? 0 : startPlugger(settings);

    void* library = dlopen(settings.module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", settings.module.c_str(), dlerror());
        return 2;
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR f = nullptr;
    if (getFunctionList == nullptr || getFunctionList(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
        std::fprintf(stderr, "cannot initialise the module\n");
        return 2;
    }

    std::vector<std::unique_ptr<WorkerClock>> clocks;
    std::vector<std::thread> threads;
    for (int i = 0; i < settings.threads; ++i) clocks.push_back(std::make_unique<WorkerClock>());
    for (int i = 0; i < settings.threads; ++i) {
        WorkerClock* clock = clocks[static_cast<std::size_t>(i)].get();
        unsigned seed = static_cast<unsigned>(i * 7919 + time(nullptr));
        threads.emplace_back([&settings, f, clock, seed] { Worker(f, settings, *clock, seed).run(); });
    }

    const auto deadline = Clock::now() + std::chrono::seconds(settings.seconds);
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (std::size_t i = 0; i < clocks.size(); ++i) {
            int64_t started = clocks[i]->callStartedMs.load();
            if (started != 0 && nowMs() - started > hangSeconds * 1000) {
                std::fprintf(stderr, "HANG: thread %zu has been in %s for more than %d s\n", i,
                             clocks[i]->function.load(), hangSeconds);
                tally.print();
                if (plugger != 0) kill(plugger, SIGKILL);
                std::fflush(nullptr);
                _exit(3);
            }
        }
    }
    stopRequested.store(true);
    // The workers finish their current call; the watchdog still guards it.
    std::atomic<bool> joined{false};
    std::thread watchdog([&] {
        const auto limit = Clock::now() + std::chrono::seconds(hangSeconds);
        while (!joined.load()) {
            if (Clock::now() > limit) {
                std::fprintf(stderr, "HANG: a worker did not finish within %d s of the end\n", hangSeconds);
                std::fflush(nullptr);
                _exit(3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (std::thread& thread : threads) thread.join();
    joined.store(true);
    watchdog.join();
    if (plugger != 0) stopPlugger(plugger, settings);

    CK_RV finalized = f->C_Finalize(nullptr);
    tally.add("C_Finalize", finalized);
    tally.print();
    dlclose(library);
    return tally.violations() == 0 && finalized == CKR_OK ? 0 : 1;
}
