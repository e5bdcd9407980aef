#include "objects/creation/DeviceAccess.h"

#include "frame/ModuleState.h"
#include "sessions/SessionAccess.h"

namespace zelmor {

CK_RV copyDeviceAccess(SessionRef handle, DeviceAccess* access) {
    return withSession(handle, [&](const SessionRecord& record) {
        access->deviceName = record.deviceName();
        access->password = moduleState().userPassword;
        return CKR_OK;
    });
}

CK_RV confirmSessionOpen(SessionRef handle) {
    return withSession(handle, [](const SessionRecord&) { return CKR_OK; });
}

}  // namespace zelmor
