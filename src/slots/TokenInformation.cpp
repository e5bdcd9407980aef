#include "slots/TokenInformation.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "frame/Log.h"
#include "frame/ModuleState.h"
#include "sessions/Login.h"
#include "sessions/SessionTable.h"
#include "slots/SlotCache.h"
#include "utils/TextFields.h"

namespace zelmor {

namespace {

const char manufacturer[] = "Trevanic";
constexpr std::size_t tokenLabelLength = 30;

// Reads text as the C run-time's atoi does (leading white space, optional
// sign, digits up to the first non-digit, none gives 0) without its undefined
// behaviour on overflow: out-of-range values saturate at the int limits.
int textToInt(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min(value * 10 + (text[at] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

CK_BYTE lowByte(int value) { return static_cast<CK_BYTE>(static_cast<unsigned>(value) & 0xFFu); }

}  // namespace

CK_RV getSlotInformation(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR info) {
    std::optional<TokenInfo> token = findSlot(slotID);
    if (!token) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    fillSlotInfo(*token, *info);
    return CKR_OK;
}

CK_RV getTokenInformation(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR info) {
    std::optional<TokenInfo> token = findSlot(slotID);
    if (!token) return CKR_SLOT_ID_INVALID;
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    // The slot cache lock is released before the session table is walked.
    const CK_ULONG roPublic = countSessionsInState(CKS_RO_PUBLIC_SESSION);
    const CK_ULONG rwPublic = countSessionsInState(CKS_RW_PUBLIC_SESSION);
    fillTokenInfo(*token, roPublic, rwPublic, *info);
    logDebug("C_GetTokenInfo -- exit");
    return CKR_OK;
}

CK_VERSION parseFirmwareVersion(const std::string& text) {
    const std::vector<std::string> pieces = moduleState().utils.split(text, ".");
    CK_VERSION version{};
    version.major = lowByte(textToInt(pieces[0]));
    version.minor = pieces.size() > 1 ? lowByte(textToInt(pieces[1])) : 0;
    return version;
}

CK_FLAGS pinFlags(int32_t remainingPinAttempts) {
    if (remainingPinAttempts == 0) return CKF_USER_PIN_LOCKED;
    if (remainingPinAttempts == 1 || remainingPinAttempts == 2) return CKF_USER_PIN_COUNT_LOW;
    return 0;
}

void fillSlotInfo(const TokenInfo& token, CK_SLOT_INFO& info) {
    std::memset(&info, 0, sizeof info);
    // Longer labels are cut to 63 bytes so the terminator fits.
    copyTextField(info.slotDescription, sizeof info.slotDescription, token.label);
    copyTextField(info.manufacturerID, sizeof info.manufacturerID, manufacturer);
    info.flags = CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    info.hardwareVersion.major = 1;  // 1.0
    info.firmwareVersion = parseFirmwareVersion(token.firmwareVersion);
}

void fillTokenInfo(const TokenInfo& token, CK_ULONG roPublicSessions, CK_ULONG rwPublicSessions,
                   CK_TOKEN_INFO& info) {
    std::memset(&info, 0, sizeof info);
    // The label keeps at most 30 bytes; the rest of the field stays zero.
    std::memcpy(info.label, token.label.data(), std::min(token.label.size(), tokenLabelLength));
    copyTextField(info.manufacturerID, sizeof info.manufacturerID, manufacturer);
    // A longer model is cut to 15 bytes so the terminator fits.
    copyTextField(info.model, sizeof info.model, token.model);
    // The serial number fills the field without a terminator; longer ones are cut.
    copyBytesField(info.serialNumber, sizeof info.serialNumber, token.serialNumber);
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED |
                 pinFlags(token.remainingPinAttempts);
    // The maximum session counts stay CK_EFFECTIVELY_INFINITE (0) from the zero fill.
    info.ulSessionCount = roPublicSessions;
    info.ulRwSessionCount = rwPublicSessions;
    info.ulMaxPinLen = maxPinLength;
    info.ulMinPinLen = minPinLength;
    info.ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    info.hardwareVersion.major = 1;  // 1.0
    info.firmwareVersion = parseFirmwareVersion(token.firmwareVersion);
    std::memset(info.utcTime, ' ', sizeof info.utcTime);
}

}  // namespace zelmor
