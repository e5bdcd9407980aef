#pragma once

#include "CommandLine.h"

#include <ostream>

namespace zelmor::sim::tool {

extern const char* const usageText;

// Runs one command against the store of $ZELMOR_SIM_HOME, writing its report
// to out. Throws UsageError or AdministrationError on failure.
void runCommand(const CommandLine& line, std::ostream& out);

}  // namespace zelmor::sim::tool
