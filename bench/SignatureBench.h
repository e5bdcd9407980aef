// RSA-2048 (CKM_SHA256_RSA_PKCS) and P-256 (CKM_ECDSA_SHA256) signing and
// verification through PKCS#11.
#pragma once

#include "BenchContext.h"

namespace bench {

void runSignatureBench(BenchContext& context);

} // namespace bench
