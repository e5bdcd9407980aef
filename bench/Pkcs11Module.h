// Loading a PKCS#11 module by path and the small session helpers the
// measurements share. Only the standard API is used: the module's function
// list from C_GetFunctionList, nothing module-specific.
#pragma once

#include "pkcs11.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

// A failed call or setup step; the message names the call and the result.
class BenchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string resultName(CK_RV rv);

// Throws BenchError "<what> failed: CKR_… (0x…)" unless rv is CKR_OK.
void check(CK_RV rv, const std::string& what);

class Pkcs11Module {
public:
    explicit Pkcs11Module(const std::string& path);
    ~Pkcs11Module();
    Pkcs11Module(const Pkcs11Module&) = delete;
    Pkcs11Module& operator=(const Pkcs11Module&) = delete;

    CK_FUNCTION_LIST* operator->() const { return functions_; }
    CK_FUNCTION_LIST* functions() const { return functions_; }
    const std::string& path() const { return path_; }

    // C_Initialize with CKF_OS_LOCKING_OK (several application threads).
    void initialize();
    void finalize();
    bool initialized() const { return initialized_; }

    // The slot whose token carries `tokenLabel` (blank-padded field compared
    // without its padding), or the first slot with a token when it is empty.
    CK_SLOT_ID findSlot(const std::string& tokenLabel);

    std::string libraryDescription();

private:
    std::string path_;
    void* handle_ = nullptr;
    CK_FUNCTION_LIST* functions_ = nullptr;
    bool initialized_ = false;
};

// One open session, closed when the object goes.
class Session {
public:
    Session(Pkcs11Module& module, CK_SLOT_ID slot, bool readWrite = true);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CK_SESSION_HANDLE handle() const { return handle_; }
    CK_FUNCTION_LIST* functions() const { return module_.functions(); }
    CK_STATE state() const;

private:
    Pkcs11Module& module_;
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

// Logs the user in; a login that already holds (module-wide login state) is fine.
void login(const Session& session, const std::string& pin);

bool isUserState(CK_STATE state);

// Every handle a search with this template finds (C_FindObjects in batches).
std::vector<CK_OBJECT_HANDLE> findObjects(const Session& session, std::vector<CK_ATTRIBUTE> search);

std::string trimmedField(const CK_UTF8CHAR* field, size_t size);

} // namespace bench
