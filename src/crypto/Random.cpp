#include "crypto/Random.h"

#include <algorithm>
#include <limits>
#include <string>

#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

CK_RV generateRandom(SessionRef handle, CK_BYTE_PTR output, CK_ULONG length) {
    if (output == nullptr || length == 0) return CKR_ARGUMENTS_BAD;
    std::string deviceName;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) {
        deviceName = record.deviceName();
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    // The library takes a 32-bit length; larger requests are served in pieces.
    // It is called with true and without the instance handle.
    constexpr CK_ULONG largestPiece = std::numeric_limits<uint32_t>::max();
    while (length > 0) {
        uint32_t piece = static_cast<uint32_t>(std::min(length, largestPiece));
        int32_t result = zelmor_generateRamdomNumber(deviceName.c_str(), piece, output, true, nullptr);
        if (result != ZelmorResult::ok) {
            // Debug level on purpose: absent from logs kept at the error level.
            logDebug(resultText("PKCS11 generate random number failed : ", result));
            return CKR_FUNCTION_FAILED;
        }
        output += piece;
        length -= piece;
    }
    return CKR_OK;
}

}  // namespace zelmor
