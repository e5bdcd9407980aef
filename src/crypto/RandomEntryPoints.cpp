// C_GenerateRandom. C_SeedRandom is one of the unsupported stubs.
#include "crypto/Random.h"
#include "frame/EntryPoint.h"

using namespace zelmor;

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pRandomData, CK_ULONG ulRandomLen) {
    return bySession("C_GenerateRandom", hSession,
                     [&](SessionRef session) { return generateRandom(session, pRandomData, ulRandomLen); });
}
