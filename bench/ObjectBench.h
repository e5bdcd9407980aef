// Object access through PKCS#11: a search for every object on the token and
// reading label, ID and modulus of a public key.
#pragma once

#include "BenchContext.h"

namespace bench {

void runObjectBench(BenchContext& context);

} // namespace bench
