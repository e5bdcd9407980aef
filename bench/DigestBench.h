// CKM_SHA256 over 1 MiB through PKCS#11.
#pragma once

#include "BenchContext.h"

namespace bench {

constexpr size_t digestInputSize = 1024 * 1024;

void runDigestBench(BenchContext& context);

} // namespace bench
