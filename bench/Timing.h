// Timing and statistics: run an operation on N threads for a while, count
// completed operations, and take the median over several runs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to);

struct TimingPlan {
    unsigned runs = 3;       // measured runs; the median is reported
    double seconds = 1.0;    // length of one run
    unsigned warmups = 3;    // operations per thread before the first run, not counted
};

// One measurement: the median and every run it came from.
struct Measurement {
    double median = 0;
    std::vector<double> runs;
};

double median(std::vector<double> values);
Measurement summarise(const std::vector<double>& runs);

// The work of one thread: called with the thread's index (0 … threads-1),
// does exactly one operation. It throws to abort the measurement.
using Operation = std::function<void(unsigned thread)>;

// Operations per second: `threads` threads start together and each repeats
// `operation` until `seconds` have passed (every thread completes at least
// one operation); total operations divided by the time until the last thread
// has finished. An exception in any thread stops all and is rethrown here.
double operationsPerSecond(unsigned threads, double seconds, const Operation& operation);

// Warm-up, then plan.runs runs of operationsPerSecond.
Measurement measureThroughput(unsigned threads, const TimingPlan& plan, const Operation& operation);

// Resident set size of this process in KiB (VmRSS of /proc/self/status).
long residentKiB();

// "1,234" / "12.3" / "0.123": a compact rendering for tables.
std::string formatValue(double value);

} // namespace bench
