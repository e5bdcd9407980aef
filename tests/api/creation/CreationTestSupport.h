// Shared pieces of the object-creation tests: template building, the CA
// folder setting, certificates the fake can parse, and log inspection.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "ModuleTest.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace creation_tests {

using Bytes = std::vector<uint8_t>;

// A PKCS#11 template whose values stay where they are while it grows.
class Template {
public:
    Template() = default;
    Template(Template&&) = default;  // a moved deque keeps its values in place
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;

    Template& bytes(CK_ATTRIBUTE_TYPE type, const Bytes& value) {
        values.push_back(value);
        return raw(type, values.back().data(), static_cast<CK_ULONG>(value.size()));
    }
    Template& text(CK_ATTRIBUTE_TYPE type, const std::string& value) { return bytes(type, Bytes(value.begin(), value.end())); }
    Template& ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
        Bytes data(sizeof value);
        std::memcpy(data.data(), &value, sizeof value);
        return bytes(type, data);
    }
    Template& boolean(CK_ATTRIBUTE_TYPE type, bool value) { return bytes(type, Bytes{static_cast<uint8_t>(value ? 1 : 0)}); }
    Template& raw(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length) {
        attributes.push_back(CK_ATTRIBUTE{type, value, length});
        return *this;
    }
    CK_ATTRIBUTE_PTR data() { return attributes.data(); }
    CK_ULONG count() const { return static_cast<CK_ULONG>(attributes.size()); }

private:
    std::deque<Bytes> values;
    std::vector<CK_ATTRIBUTE> attributes;
};

inline Bytes filled(std::size_t length, uint8_t first) {
    Bytes value(length);
    for (std::size_t i = 0; i < length; ++i) value[i] = static_cast<uint8_t>(first + i);
    return value;
}

// Stand-in DER: distinct bytes per name; the fake parses what it is told to.
inline Bytes der(const std::string& name) {
    Bytes value{0x30, 0x82};
    value.insert(value.end(), name.begin(), name.end());
    return value;
}

// The fake parses value into these distinguished names.
inline void defineCertificate(const Bytes& value, const std::string& subject, const std::string& issuer) {
    fakeLibrary().edit([&](FakeState& state) {
        FakeCertificateInfo info;
        info.details.subject = subject;
        info.details.issuer = issuer;
        state.certificateInfo[value] = info;
    });
}

inline void setCaFiles(const std::vector<Bytes>& files) {
    fakeLibrary().edit([&](FakeState& state) {
        state.caFiles.clear();
        for (std::size_t i = 0; i < files.size(); ++i) state.caFiles.push_back({"ca" + std::to_string(i) + ".cer", files[i]});
    });
}

// ZELMOR_HOME through the C runtime's own environment, which is the one the
// module reads (under Wine too).
inline void setHome(const std::string& value) {
#if defined(_WIN32)
    _putenv_s("ZELMOR_HOME", value.c_str());  // an empty value removes it
#else
    setenv("ZELMOR_HOME", value.c_str(), 1);
#endif
}

inline void unsetHome() {
#if defined(_WIN32)
    _putenv_s("ZELMOR_HOME", "");
#else
    unsetenv("ZELMOR_HOME");
#endif
}

inline char separator() {
#if defined(_WIN32)
    return '\\';
#else
    return '/';
#endif
}

inline std::string caFolderUnder(const std::string& home) {
    return home + separator() + "ZelmorDSC" + separator() + "Certificates";
}

inline std::string executableFolder() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    return text.substr(0, text.find_last_of("\\/"));
#else
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return text.substr(0, text.rfind('/'));
#endif
}

inline void makeFolder(const std::string& path) {
#if defined(_WIN32)
    CreateDirectoryA(path.c_str(), nullptr);
#else
    mkdir(path.c_str(), 0700);
#endif
}

// The log text written since construction.
class LogWatch {
public:
    LogWatch() : start(testing_support::readFile(testing_support::todaysLogFile()).size()) {}
    std::string text() const {
        std::string all = testing_support::readFile(testing_support::todaysLogFile());
        return all.size() > start ? all.substr(start) : std::string();
    }
    bool contains(const std::string& line) const { return text().find(line) != std::string::npos; }
    std::size_t occurrences(const std::string& line) const {
        std::string all = text();
        std::size_t count = 0;
        for (std::size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++count;
        return count;
    }

private:
    std::size_t start;
};

const std::string emDash = "\xE2\x80\x94";

// Base fixture: a read-write session, a logged-in user, a CA home folder of
// this test process and no CA files.
class CreationTest : public testing_support::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        home = testing_support::testFolder() + separator() + "home";
        makeFolder(home);
        setHome(home);
        session = openSession(true);
        login(session);
        fakeLibrary().clearCalls();
    }
    void TearDown() override {
        unsetHome();
        ModuleTest::TearDown();
    }

    std::vector<FakeCall> imports() const { return fakeLibrary().calls("zelmor_importCertificate"); }

    std::string home;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

}  // namespace creation_tests
