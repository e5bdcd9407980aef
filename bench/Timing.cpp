#include "Timing.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>

namespace bench {

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    if (values.size() % 2 == 1) return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

Measurement summarise(const std::vector<double>& runs)
{
    Measurement measurement;
    measurement.runs = runs;
    measurement.median = median(runs);
    return measurement;
}

double operationsPerSecond(unsigned threads, double seconds, const Operation& operation)
{
    std::mutex gate;
    std::condition_variable startSignal;
    bool started = false;
    std::atomic<bool> stop{false};
    std::vector<unsigned long> counts(threads, 0);
    std::vector<Clock::time_point> finished(threads);
    std::vector<std::exception_ptr> failures(threads);
    Clock::time_point start;
    Clock::time_point deadline;

    auto worker = [&](unsigned index) {
        {
            std::unique_lock<std::mutex> lock(gate);
            startSignal.wait(lock, [&] { return started; });
        }
        try {
            unsigned long count = 0;
            do {
                operation(index);
                ++count;
            } while (!stop.load(std::memory_order_relaxed) && Clock::now() < deadline);
            counts[index] = count;
        } catch (...) {
            failures[index] = std::current_exception();
            stop = true;
        }
        finished[index] = Clock::now();
    };

    std::vector<std::thread> pool;
    for (unsigned index = 0; index < threads; ++index) pool.emplace_back(worker, index);
    {
        std::lock_guard<std::mutex> lock(gate);
        start = Clock::now();
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        started = true;
    }
    startSignal.notify_all();
    for (std::thread& thread : pool) thread.join();

    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
    unsigned long total = 0;
    Clock::time_point end = start;
    for (unsigned index = 0; index < threads; ++index) {
        total += counts[index];
        end = std::max(end, finished[index]);
    }
    double elapsed = secondsBetween(start, end);
    return elapsed > 0 ? total / elapsed : 0;
}

Measurement measureThroughput(unsigned threads, const TimingPlan& plan, const Operation& operation)
{
    for (unsigned index = 0; index < threads; ++index) {
        for (unsigned warmup = 0; warmup < plan.warmups; ++warmup) operation(index);
    }
    std::vector<double> runs;
    for (unsigned run = 0; run < plan.runs; ++run) runs.push_back(operationsPerSecond(threads, plan.seconds, operation));
    return summarise(runs);
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

std::string formatValue(double value)
{
    char text[64];
    if (std::isnan(value)) return "n/a";
    double magnitude = std::fabs(value);
    if (magnitude >= 1000) {
        std::snprintf(text, sizeof text, "%.0f", value);
        std::string digits = text;
        std::string grouped;
        int sinceComma = 0;
        for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
            if (sinceComma == 3 && *it != '-') {
                grouped.insert(grouped.begin(), ',');
                sinceComma = 0;
            }
            grouped.insert(grouped.begin(), *it);
            ++sinceComma;
        }
        return grouped;
    }
    if (magnitude >= 100) std::snprintf(text, sizeof text, "%.0f", value);
    else if (magnitude >= 10) std::snprintf(text, sizeof text, "%.1f", value);
    else if (magnitude >= 1) std::snprintf(text, sizeof text, "%.2f", value);
    else std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace bench
