#include "Pkcs11Module.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace bench {

std::string resultName(CK_RV rv)
{
    struct Name {
        CK_RV rv;
        const char* text;
    };
    static const Name names[] = {
        {CKR_OK, "CKR_OK"},
        {CKR_HOST_MEMORY, "CKR_HOST_MEMORY"},
        {CKR_SLOT_ID_INVALID, "CKR_SLOT_ID_INVALID"},
        {CKR_GENERAL_ERROR, "CKR_GENERAL_ERROR"},
        {CKR_FUNCTION_FAILED, "CKR_FUNCTION_FAILED"},
        {CKR_ARGUMENTS_BAD, "CKR_ARGUMENTS_BAD"},
        {CKR_ATTRIBUTE_TYPE_INVALID, "CKR_ATTRIBUTE_TYPE_INVALID"},
        {CKR_ATTRIBUTE_VALUE_INVALID, "CKR_ATTRIBUTE_VALUE_INVALID"},
        {CKR_DATA_INVALID, "CKR_DATA_INVALID"},
        {CKR_DEVICE_ERROR, "CKR_DEVICE_ERROR"},
        {CKR_DEVICE_MEMORY, "CKR_DEVICE_MEMORY"},
        {CKR_DEVICE_REMOVED, "CKR_DEVICE_REMOVED"},
        {CKR_FUNCTION_NOT_SUPPORTED, "CKR_FUNCTION_NOT_SUPPORTED"},
        {CKR_KEY_HANDLE_INVALID, "CKR_KEY_HANDLE_INVALID"},
        {CKR_MECHANISM_INVALID, "CKR_MECHANISM_INVALID"},
        {CKR_MECHANISM_PARAM_INVALID, "CKR_MECHANISM_PARAM_INVALID"},
        {CKR_OBJECT_HANDLE_INVALID, "CKR_OBJECT_HANDLE_INVALID"},
        {CKR_OPERATION_ACTIVE, "CKR_OPERATION_ACTIVE"},
        {CKR_OPERATION_NOT_INITIALIZED, "CKR_OPERATION_NOT_INITIALIZED"},
        {CKR_PIN_INCORRECT, "CKR_PIN_INCORRECT"},
        {CKR_PIN_LOCKED, "CKR_PIN_LOCKED"},
        {CKR_SESSION_HANDLE_INVALID, "CKR_SESSION_HANDLE_INVALID"},
        {CKR_SESSION_READ_ONLY, "CKR_SESSION_READ_ONLY"},
        {CKR_SIGNATURE_INVALID, "CKR_SIGNATURE_INVALID"},
        {CKR_TEMPLATE_INCOMPLETE, "CKR_TEMPLATE_INCOMPLETE"},
        {CKR_TEMPLATE_INCONSISTENT, "CKR_TEMPLATE_INCONSISTENT"},
        {CKR_TOKEN_NOT_PRESENT, "CKR_TOKEN_NOT_PRESENT"},
        {CKR_USER_ALREADY_LOGGED_IN, "CKR_USER_ALREADY_LOGGED_IN"},
        {CKR_USER_NOT_LOGGED_IN, "CKR_USER_NOT_LOGGED_IN"},
        {CKR_BUFFER_TOO_SMALL, "CKR_BUFFER_TOO_SMALL"},
        {CKR_CRYPTOKI_NOT_INITIALIZED, "CKR_CRYPTOKI_NOT_INITIALIZED"},
        {CKR_CRYPTOKI_ALREADY_INITIALIZED, "CKR_CRYPTOKI_ALREADY_INITIALIZED"},
    };
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lX", static_cast<unsigned long>(rv));
    for (const Name& name : names) {
        if (name.rv == rv) return std::string(name.text) + " (" + hex + ")";
    }
    return hex;
}

void check(CK_RV rv, const std::string& what)
{
    if (rv != CKR_OK) throw BenchError(what + " failed: " + resultName(rv));
}

Pkcs11Module::Pkcs11Module(const std::string& path) : path_(path)
{
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw BenchError("cannot load " + path + ": " + (reason ? reason : "unknown reason"));
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        dlclose(handle_);
        throw BenchError(path + " exports no C_GetFunctionList");
    }
    CK_RV rv = getFunctionList(&functions_);
    if (rv != CKR_OK || functions_ == nullptr) {
        dlclose(handle_);
        throw BenchError("C_GetFunctionList of " + path + " failed: " + resultName(rv));
    }
}

Pkcs11Module::~Pkcs11Module()
{
    if (initialized_) functions_->C_Finalize(nullptr);
    // The module stays mapped: some modules leave threads or atexit handlers
    // behind, and unmapping under them would measure nothing useful.
}

void Pkcs11Module::initialize()
{
    CK_C_INITIALIZE_ARGS args;
    std::memset(&args, 0, sizeof args);
    args.flags = CKF_OS_LOCKING_OK;
    check(functions_->C_Initialize(&args), "C_Initialize");
    initialized_ = true;
}

void Pkcs11Module::finalize()
{
    initialized_ = false;
    check(functions_->C_Finalize(nullptr), "C_Finalize");
}

std::string trimmedField(const CK_UTF8CHAR* field, size_t size)
{
    std::string text(reinterpret_cast<const char*>(field), size);
    size_t end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

CK_SLOT_ID Pkcs11Module::findSlot(const std::string& tokenLabel)
{
    CK_ULONG count = 0;
    check(functions_->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList (count)");
    std::vector<CK_SLOT_ID> slots(count);
    if (count > 0) check(functions_->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    slots.resize(count);
    for (CK_SLOT_ID slot : slots) {
        CK_TOKEN_INFO info;
        if (functions_->C_GetTokenInfo(slot, &info) != CKR_OK) continue;
        if (!(info.flags & CKF_TOKEN_INITIALIZED)) continue;
        if (tokenLabel.empty() || trimmedField(info.label, sizeof info.label) == tokenLabel) return slot;
    }
    throw BenchError("no token" + (tokenLabel.empty() ? std::string() : " labelled \"" + tokenLabel + "\"") +
                     " in " + std::to_string(slots.size()) + " slot(s) of " + path_);
}

std::string Pkcs11Module::libraryDescription()
{
    CK_INFO info;
    if (functions_->C_GetInfo(&info) != CKR_OK) return path_;
    char version[32];
    std::snprintf(version, sizeof version, " %u.%u", info.libraryVersion.major, info.libraryVersion.minor);
    return trimmedField(info.manufacturerID, sizeof info.manufacturerID) + " " +
           trimmedField(info.libraryDescription, sizeof info.libraryDescription) + version;
}

Session::Session(Pkcs11Module& module, CK_SLOT_ID slot, bool readWrite) : module_(module)
{
    CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    check(module.functions()->C_OpenSession(slot, flags, nullptr, nullptr, &handle_), "C_OpenSession");
}

Session::~Session()
{
    if (module_.initialized()) module_.functions()->C_CloseSession(handle_);
}

CK_STATE Session::state() const
{
    CK_SESSION_INFO info;
    check(functions()->C_GetSessionInfo(handle_, &info), "C_GetSessionInfo");
    return info.state;
}

bool isUserState(CK_STATE state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS;
}

void login(const Session& session, const std::string& pin)
{
    std::vector<CK_UTF8CHAR> pinBytes(pin.begin(), pin.end());
    CK_RV rv = session.functions()->C_Login(session.handle(), CKU_USER, pinBytes.data(), pinBytes.size());
    if (rv == CKR_USER_ALREADY_LOGGED_IN) return;
    check(rv, "C_Login");
}

std::vector<CK_OBJECT_HANDLE> findObjects(const Session& session, std::vector<CK_ATTRIBUTE> search)
{
    CK_FUNCTION_LIST* p11 = session.functions();
    check(p11->C_FindObjectsInit(session.handle(), search.empty() ? nullptr : search.data(), search.size()),
          "C_FindObjectsInit");
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE batch[64];
    for (;;) {
        CK_ULONG count = 0;
        CK_RV rv = p11->C_FindObjects(session.handle(), batch, 64, &count);
        if (rv != CKR_OK) {
            p11->C_FindObjectsFinal(session.handle());
            check(rv, "C_FindObjects");
        }
        if (count == 0) break;
        found.insert(found.end(), batch, batch + count);
    }
    check(p11->C_FindObjectsFinal(session.handle()), "C_FindObjectsFinal");
    return found;
}

} // namespace bench
