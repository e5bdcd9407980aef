// Result rows shared by the measuring commands and the report: one row per
// implementation, operation and thread count, kept as tab-separated text so
// the runs of separate processes (each module, the ceiling, the memory probe)
// can be combined into one table.
#pragma once

#include "Timing.h"

#include <string>
#include <vector>

namespace bench {

// Operation identifiers used in the rows (the report knows their titles).
namespace op {
constexpr const char* rsaSign = "rsa2048-sign";
constexpr const char* rsaVerify = "rsa2048-verify";
constexpr const char* ecSign = "p256-sign";
constexpr const char* ecVerify = "p256-verify";
constexpr const char* digest = "sha256-1mib";
constexpr const char* search = "find-all";
constexpr const char* attributes = "get-attributes";
constexpr const char* initFinalize = "init-finalize";
constexpr const char* unplugDemotion = "unplug-demotion";
constexpr const char* memory = "rss-sessions";
} // namespace op

struct ResultRow {
    std::string implementation;  // display name, e.g. "SoftHSM2 2.6.1"
    std::string operation;       // one of op::…
    unsigned threads = 1;
    double value = 0;            // median
    std::string unit;            // "ops/s", "ms", "MiB"
    std::vector<double> runs;    // every run behind the median
    std::string note;            // free text (object count, bounds…)
};

ResultRow makeRow(const std::string& implementation, const std::string& operation, unsigned threads,
                  const Measurement& measurement, const std::string& unit, const std::string& note = "");

// Appends rows to a file (created if missing) and prints each to stdout.
class ResultSink {
public:
    explicit ResultSink(std::string path) : path_(std::move(path)) {}
    void add(const ResultRow& row);

private:
    std::string path_;
};

std::vector<ResultRow> readRows(const std::string& path);

} // namespace bench
