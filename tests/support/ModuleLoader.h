// Loads the built module binary and hands out its function list.
#pragma once

#include <string>

#include "pkcs11.h"

namespace testing_support {

// The path and the folder of the running test program.
std::string executablePath();
std::string executableFolder();

// Path of the module next to the test folder (build/<platform>/), or
// $ZELMOR_TEST_MODULE when set.
std::string modulePath();

class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();  // unloads the module (without C_Finalize)
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool loaded() const { return handle != nullptr; }
    CK_FUNCTION_LIST_PTR functions() const { return list; }
    void* symbol(const char* name) const;

private:
    void* handle = nullptr;
    CK_FUNCTION_LIST_PTR list = nullptr;
};

// The module shared by the tests of one process.
LoadedModule& sharedModule();
inline CK_FUNCTION_LIST_PTR p11() { return sharedModule().functions(); }

}  // namespace testing_support
