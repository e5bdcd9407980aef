// The built shared library: loads on its own and exports the zelmor_
// functions only.
#include "SimTestSupport.h"

#include <dlfcn.h>

using namespace simtest;

namespace {
class SharedLibraryTest : public SimTest {};
}

TEST_F(SharedLibraryTest, ExportsTheInterfaceAndNothingOfItsInsides) {
    createDevice("SO1");
    void* library = ::dlopen(ZELMOR_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using Create = void (*)(ZelmorInstance*);
    using Release = void (*)(ZelmorInstance);
    using List = std::vector<std::string> (*)(bool, ZelmorInstance);
    auto create = reinterpret_cast<Create>(::dlsym(library, "_Z21zelmor_createInstancePPv"));
    auto release = reinterpret_cast<Release>(::dlsym(library, "_Z22zelmor_releaseInstancePv"));
    auto list = reinterpret_cast<List>(::dlsym(library, "_Z29zelmor_getConnectedDeviceListB5cxx11bPv"));
    ASSERT_TRUE(create && release && list);
    EXPECT_EQ(::dlsym(library, "_ZN6zelmor3sim5toHexEPKhm"), nullptr) << "internal function exported";

    ZelmorInstance instance = nullptr;
    create(&instance);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(list(false, instance), std::vector<std::string>{"SO1"});
    EXPECT_TRUE(list(false, nullptr).empty());
    release(instance);
    ::dlclose(library);
}
