// Combines the rows of the measuring runs into one table: Markdown (printed
// and written to a file), the targets of the module under test checked
// against the ceiling and the peer, and a data file for the bar chart.
#pragma once

#include "Results.h"

#include <string>
#include <vector>

namespace bench {

struct ReportRoles {
    std::string subject;  // the module under test
    std::string peer;     // the module it is compared with
    std::string ceiling;  // libcrypto directly
};

std::string markdownReport(const std::vector<ResultRow>& rows, const ReportRoles& roles);

// Whitespace-separated columns: label, subject, peer, ceiling (ops/s, "-" if
// missing), one line per operation and thread count measured in ops/s.
std::string plotData(const std::vector<ResultRow>& rows, const ReportRoles& roles);

} // namespace bench
