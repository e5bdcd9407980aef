#include "E2eSupport.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "device/DeviceAdministration.h"
#include "store/DeviceStore.h"

namespace e2e {

namespace {

std::string makeRunFolder() {
    char pattern[] = "/tmp/zelmor-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    const std::string folder = made;
    ::mkdir((folder + "/tmp").c_str(), 0700);
    ::mkdir((folder + "/config").c_str(), 0700);
    std::ofstream(folder + "/config/logLevel") << "3\n";
    setenv("ZELMOR_SIM_HOME", (folder + "/store").c_str(), 1);
    setenv("TMPDIR", (folder + "/tmp").c_str(), 1);
    setenv("ZELMOR_CONFIG_DIR", (folder + "/config").c_str(), 1);
    return folder;
}

void appendFiles(const std::string& folder, std::vector<std::string>& out) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return;
    while (dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) appendFiles(path, out);
        else if (S_ISREG(info.st_mode)) out.push_back(path);
    }
    ::closedir(directory);
}

}  // namespace

const std::string& runFolder() {
    static const std::string folder = makeRunFolder();
    return folder;
}

std::string storeFolder() { return runFolder() + "/store"; }
std::string logFolder() { return runFolder() + "/tmp/Trevanic"; }

CK_FUNCTION_LIST_PTR p11() {
    static CK_FUNCTION_LIST_PTR functions = [] {
        runFolder();
        void* library = dlopen(ZELMOR_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", ZELMOR_MODULE_PATH, dlerror());
            std::abort();
        }
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
        CK_FUNCTION_LIST_PTR list = nullptr;
        if (getList == nullptr || getList(&list) != CKR_OK) std::abort();
        return list;
    }();
    return functions;
}

void ensureInitialised() {
    CK_RV rv = p11()->C_Initialize(nullptr);
    ASSERT_TRUE(rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) << rv;
}

void createDevice(const std::string& serial, const std::string& pin, uint32_t capacity) {
    runFolder();
    zelmor::sim::NewDeviceSettings settings;
    settings.serial = serial;
    settings.pin = pin;
    settings.capacity = capacity;
    zelmor::sim::createDevice(zelmor::sim::DeviceStore(storeFolder()), settings);
}

CK_SLOT_ID slotOf(const std::string& serial) {
    CK_SLOT_ID slots[32];
    CK_ULONG count = 32;
    if (p11()->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK) return 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_TOKEN_INFO info;
        if (p11()->C_GetTokenInfo(slots[i], &info) != CKR_OK) continue;
        std::string text(reinterpret_cast<const char*>(info.serialNumber), sizeof info.serialNumber);
        // Padded with zeros (or blanks).
        text = text.substr(0, text.find('\0'));
        text.erase(text.find_last_not_of(' ') + 1);
        if (text == serial) return slots[i];
    }
    return 0;
}

CK_SESSION_HANDLE openSession(const std::string& serial) {
    CK_SLOT_ID slot = slotOf(serial);
    EXPECT_NE(slot, 0u) << "no slot for " << serial;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(p11()->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
    return session;
}

CK_RV login(CK_SESSION_HANDLE session, const std::string& pin) {
    // The module keeps the user's PIN after the last session closes, and
    // these tests use several devices: start from the public state.
    p11()->C_Logout(session);
    std::string copy = pin;
    return p11()->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&copy[0]),
                          static_cast<CK_ULONG>(copy.size()));
}

std::vector<CK_OBJECT_HANDLE> findObjects(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass) {
    CK_ATTRIBUTE filter{CKA_CLASS, &objectClass, sizeof objectClass};
    std::vector<CK_OBJECT_HANDLE> found(100);
    CK_ULONG count = 0;
    if (p11()->C_FindObjectsInit(session, &filter, 1) != CKR_OK) return {};
    CK_RV rv = p11()->C_FindObjects(session, found.data(), 100, &count);
    p11()->C_FindObjectsFinal(session);
    found.resize(rv == CKR_OK ? count : 0);
    return found;
}

std::string labelOf(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
    char label[256] = {};
    CK_ATTRIBUTE attribute{CKA_LABEL, label, sizeof label};
    if (p11()->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK) return "<unreadable>";
    return std::string(label, attribute.ulValueLen);
}

CK_RV generateEcKeyPair(CK_SESSION_HANDLE session, const std::string& label, CK_OBJECT_HANDLE* publicKey,
                        CK_OBJECT_HANDLE* privateKey) {
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE curve[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    std::string text = label;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_EC_PARAMS, curve, sizeof curve},
                                     {CKA_VERIFY, &yes, sizeof yes},
                                     {CKA_LABEL, &text[0], text.size()}};
    CK_KEY_TYPE keyType = CKK_EC;  // the module takes the key type from the private template
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType},
                                      {CKA_SIGN, &yes, sizeof yes},
                                      {CKA_TOKEN, &yes, sizeof yes},
                                      {CKA_LABEL, &text[0], text.size()}};
    CK_MECHANISM mechanism{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    return p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 3, privateTemplate, 4, publicKey, privateKey);
}

CK_RV generateRsaKeyPair(CK_SESSION_HANDLE session, const std::string& label, CK_OBJECT_HANDLE* publicKey,
                         CK_OBJECT_HANDLE* privateKey) {
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG bits = 1024;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    std::string text = label;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits},
                                     {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
                                     {CKA_ENCRYPT, &yes, sizeof yes},
                                     {CKA_VERIFY, &yes, sizeof yes},
                                     {CKA_LABEL, &text[0], text.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &yes, sizeof yes},
                                      {CKA_DECRYPT, &yes, sizeof yes},
                                      {CKA_TOKEN, &yes, sizeof yes},
                                      {CKA_LABEL, &text[0], text.size()}};
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    return p11()->C_GenerateKeyPair(session, &mechanism, publicTemplate, 5, privateTemplate, 4, publicKey, privateKey);
}

CK_RV signOnce(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey, CK_MECHANISM_TYPE type) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    CK_BYTE data[32] = {1, 2, 3};
    CK_BYTE signature[512];
    CK_ULONG length = sizeof signature;
    CK_RV rv = p11()->C_SignInit(session, &mechanism, privateKey);
    if (rv != CKR_OK) return rv;
    return p11()->C_Sign(session, data, sizeof data, signature, &length);
}

std::vector<uint8_t> selfSignedCertificate(const std::string& commonName) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 7);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600L * 24 * 365);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, EVP_sha256());
    int length = i2d_X509(certificate, nullptr);
    std::vector<uint8_t> der(static_cast<std::size_t>(length > 0 ? length : 0));
    unsigned char* out = der.data();
    i2d_X509(certificate, &out);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return der;
}

CK_RV importCertificate(CK_SESSION_HANDLE session, const std::vector<uint8_t>& der, const std::string& label,
                        CK_OBJECT_HANDLE* handle) {
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    std::vector<uint8_t> value = der;
    std::string text = label;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                                 {CKA_CERTIFICATE_TYPE, &x509, sizeof x509},
                                 {CKA_TOKEN, &yes, sizeof yes},
                                 {CKA_VALUE, value.data(), value.size()},
                                 {CKA_LABEL, &text[0], text.size()}};
    return p11()->C_CreateObject(session, attributes, 5, handle);
}

std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> files;
    appendFiles(folder, files);
    return files;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace e2e
