// C_Initialize, C_Finalize, C_GetInfo, C_GetFunctionList.
#include "frame/EntryPoint.h"
#include "frame/FunctionList.h"
#include "frame/ModuleLifecycle.h"

using namespace zelmor;

// The arguments are never examined: any value, null included, is accepted.
CK_RV C_Initialize(CK_VOID_PTR) {
    return anyState("C_Initialize", [] { return initializeModule(); });
}

// Not through the call gate: C_Finalize closes it and waits for the calls
// inside, itself excluded.
CK_RV C_Finalize(CK_VOID_PTR) {
    return anyState("C_Finalize", [] { return finalizeModule(); });
}

CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    return initialised("C_GetInfo", [&] {
        if (pInfo == nullptr) return CKR_ARGUMENTS_BAD;
        return fillModuleInfo(pInfo);
    });
}

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return anyState("C_GetFunctionList", [&] {
        if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
        *ppFunctionList = const_cast<CK_FUNCTION_LIST_PTR>(&moduleFunctionList);
        return CKR_OK;
    });
}
