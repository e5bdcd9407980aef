#include "crypto/Random.h"

#include <string>

#include "crypto/OperationSupport.h"
#include "frame/Log.h"
#include "sessions/SessionAccess.h"
#include "utils/DevicePieces.h"

namespace zelmor {

CK_RV generateRandom(SessionRef handle, CK_BYTE_PTR output, CK_ULONG length) {
    if (output == nullptr || length == 0) return CKR_ARGUMENTS_BAD;
    std::string deviceName;
    CK_RV rv = withSession(handle, [&](SessionRecord& record) {
        deviceName = record.deviceName();
        return CKR_OK;
    });
    if (rv != CKR_OK) return rv;

    // The library is called with true and without the instance handle.
    const int32_t result =
        forEachDevicePiece(output, length, ZelmorResult::ok, [&](CK_BYTE_PTR piece, uint32_t pieceLength) {
            return zelmor_generateRamdomNumber(deviceName.c_str(), pieceLength, piece, true, nullptr);
        });
    if (result != ZelmorResult::ok) {
        // Debug level on purpose: absent from logs kept at the error level.
        logDebug(resultText("PKCS11 generate random number failed : ", result));
        return CKR_FUNCTION_FAILED;
    }
    return CKR_OK;
}

}  // namespace zelmor
