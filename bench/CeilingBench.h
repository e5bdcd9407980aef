// The same operations done directly with libcrypto: the ceiling that a
// module built on it can approach but not pass.
#pragma once

#include "Results.h"
#include "Timing.h"

#include <string>
#include <vector>

namespace bench {

void runCeilingBench(const std::string& name, const TimingPlan& plan, const std::vector<unsigned>& threadCounts,
                     ResultSink& sink);

} // namespace bench
