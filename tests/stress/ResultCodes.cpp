#include "ResultCodes.h"

#include <cstdio>
#include <map>

namespace stress {

namespace {

// Codes every session call may give: the device can vanish at any moment and
// another thread can close the session.
const std::set<CK_RV> everySessionCall = {
    CKR_OK,           CKR_GENERAL_ERROR,      CKR_HOST_MEMORY,       CKR_FUNCTION_FAILED,
    CKR_DEVICE_ERROR, CKR_DEVICE_MEMORY,      CKR_DEVICE_REMOVED,    CKR_TOKEN_NOT_PRESENT,
    CKR_SESSION_CLOSED, CKR_SESSION_HANDLE_INVALID};

const std::set<CK_RV> keyUse = {CKR_KEY_HANDLE_INVALID, CKR_OBJECT_HANDLE_INVALID, CKR_USER_NOT_LOGGED_IN,
                                CKR_OPERATION_ACTIVE,   CKR_KEY_FUNCTION_NOT_PERMITTED,
                                CKR_KEY_TYPE_INCONSISTENT, CKR_MECHANISM_INVALID};

const std::map<std::string, std::set<CK_RV>>& extras() {
    static const std::map<std::string, std::set<CK_RV>> table = {
        {"C_GetSlotList", {CKR_BUFFER_TOO_SMALL}},
        {"C_GetTokenInfo", {CKR_SLOT_ID_INVALID}},
        {"C_OpenSession", {CKR_SLOT_ID_INVALID, CKR_SESSION_COUNT, CKR_TOKEN_NOT_RECOGNIZED}},
        {"C_CloseSession", {}},
        {"C_CloseAllSessions", {CKR_SLOT_ID_INVALID}},
        {"C_GetSessionInfo", {}},
        {"C_Login", {CKR_PIN_LOCKED, CKR_USER_ALREADY_LOGGED_IN, CKR_USER_ANOTHER_ALREADY_LOGGED_IN,
                     CKR_SESSION_READ_ONLY_EXISTS, CKR_USER_PIN_NOT_INITIALIZED}},
        {"C_Logout", {CKR_USER_NOT_LOGGED_IN}},
        {"C_FindObjectsInit", {CKR_OPERATION_ACTIVE}},
        {"C_FindObjects", {CKR_OPERATION_NOT_INITIALIZED}},
        {"C_FindObjectsFinal", {CKR_OPERATION_NOT_INITIALIZED}},
        {"C_GetAttributeValue", {CKR_OBJECT_HANDLE_INVALID, CKR_ATTRIBUTE_TYPE_INVALID, CKR_ATTRIBUTE_SENSITIVE,
                                 CKR_BUFFER_TOO_SMALL}},
        {"C_SignInit", keyUse},
        {"C_Sign", {CKR_OPERATION_NOT_INITIALIZED, CKR_USER_NOT_LOGGED_IN, CKR_BUFFER_TOO_SMALL, CKR_DATA_LEN_RANGE,
                    CKR_DATA_INVALID, CKR_KEY_HANDLE_INVALID, CKR_OBJECT_HANDLE_INVALID}},
        {"C_VerifyInit", keyUse},
        {"C_Verify", {CKR_OPERATION_NOT_INITIALIZED, CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE,
                      CKR_DATA_LEN_RANGE, CKR_DATA_INVALID}},
        {"C_DigestInit", {CKR_OPERATION_ACTIVE, CKR_MECHANISM_INVALID}},
        {"C_Digest", {CKR_OPERATION_NOT_INITIALIZED, CKR_BUFFER_TOO_SMALL}},
        {"C_DigestUpdate", {CKR_OPERATION_NOT_INITIALIZED}},
        {"C_DigestFinal", {CKR_OPERATION_NOT_INITIALIZED, CKR_BUFFER_TOO_SMALL}},
        {"C_EncryptInit", keyUse},
        {"C_Encrypt", {CKR_OPERATION_NOT_INITIALIZED, CKR_BUFFER_TOO_SMALL, CKR_DATA_LEN_RANGE, CKR_DATA_INVALID}},
        {"C_DecryptInit", keyUse},
        {"C_Decrypt", {CKR_OPERATION_NOT_INITIALIZED, CKR_USER_NOT_LOGGED_IN, CKR_BUFFER_TOO_SMALL,
                       CKR_ENCRYPTED_DATA_INVALID, CKR_ENCRYPTED_DATA_LEN_RANGE, CKR_KEY_HANDLE_INVALID,
                       CKR_OBJECT_HANDLE_INVALID}},
        {"C_GenerateKeyPair", {CKR_USER_NOT_LOGGED_IN, CKR_SESSION_READ_ONLY, CKR_OPERATION_ACTIVE,
                               CKR_TEMPLATE_INCOMPLETE, CKR_TEMPLATE_INCONSISTENT}},
        {"C_DestroyObject", {CKR_OBJECT_HANDLE_INVALID, CKR_USER_NOT_LOGGED_IN, CKR_SESSION_READ_ONLY,
                             CKR_OPERATION_ACTIVE}},
        {"C_GenerateRandom", {CKR_OPERATION_ACTIVE}},
        {"C_WaitForSlotEvent", {CKR_NO_EVENT}},
    };
    return table;
}

}  // namespace

bool allowedResult(const std::string& function, CK_RV rv) {
    if (function == "C_WaitForSlotEvent") return rv == CKR_OK || rv == CKR_NO_EVENT;
    if (everySessionCall.count(rv) != 0) return true;
    auto found = extras().find(function);
    return found != extras().end() && found->second.count(rv) != 0;
}

std::string resultName(CK_RV rv) {
    static const std::map<CK_RV, const char*> names = {
#define NAME(code) {code, #code}
        NAME(CKR_OK), NAME(CKR_HOST_MEMORY), NAME(CKR_GENERAL_ERROR), NAME(CKR_FUNCTION_FAILED),
        NAME(CKR_ARGUMENTS_BAD), NAME(CKR_NO_EVENT), NAME(CKR_ATTRIBUTE_SENSITIVE), NAME(CKR_ATTRIBUTE_TYPE_INVALID),
        NAME(CKR_ATTRIBUTE_VALUE_INVALID), NAME(CKR_DATA_INVALID), NAME(CKR_DATA_LEN_RANGE), NAME(CKR_DEVICE_ERROR),
        NAME(CKR_DEVICE_MEMORY), NAME(CKR_DEVICE_REMOVED), NAME(CKR_ENCRYPTED_DATA_INVALID),
        NAME(CKR_ENCRYPTED_DATA_LEN_RANGE), NAME(CKR_FUNCTION_NOT_SUPPORTED), NAME(CKR_KEY_HANDLE_INVALID),
        NAME(CKR_KEY_TYPE_INCONSISTENT), NAME(CKR_KEY_FUNCTION_NOT_PERMITTED), NAME(CKR_MECHANISM_INVALID),
        NAME(CKR_OBJECT_HANDLE_INVALID), NAME(CKR_OPERATION_ACTIVE), NAME(CKR_OPERATION_NOT_INITIALIZED),
        NAME(CKR_PIN_INCORRECT), NAME(CKR_PIN_LOCKED), NAME(CKR_SESSION_CLOSED), NAME(CKR_SESSION_COUNT),
        NAME(CKR_SESSION_HANDLE_INVALID), NAME(CKR_SESSION_READ_ONLY), NAME(CKR_SIGNATURE_INVALID),
        NAME(CKR_SIGNATURE_LEN_RANGE), NAME(CKR_TEMPLATE_INCOMPLETE), NAME(CKR_TEMPLATE_INCONSISTENT),
        NAME(CKR_TOKEN_NOT_PRESENT), NAME(CKR_TOKEN_NOT_RECOGNIZED), NAME(CKR_USER_ALREADY_LOGGED_IN),
        NAME(CKR_USER_NOT_LOGGED_IN), NAME(CKR_USER_PIN_NOT_INITIALIZED), NAME(CKR_USER_TYPE_INVALID),
        NAME(CKR_USER_ANOTHER_ALREADY_LOGGED_IN), NAME(CKR_BUFFER_TOO_SMALL), NAME(CKR_SLOT_ID_INVALID),
        NAME(CKR_SESSION_READ_ONLY_EXISTS), NAME(CKR_CRYPTOKI_NOT_INITIALIZED),
#undef NAME
    };
    auto found = names.find(rv);
    if (found != names.end()) return found->second;
    char text[32];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rv));
    return text;
}

}  // namespace stress
