#include "LifecycleBench.h"

#include <sys/wait.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <thread>

namespace bench {

namespace {

void runCommand(const std::string& command)
{
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw BenchError("command failed: " + command);
    }
}

// After a replug the device may take a moment to answer again.
void loginWithRetry(const Session& session, const std::string& pin)
{
    Clock::time_point giveUp = Clock::now() + std::chrono::seconds(5);
    for (;;) {
        try {
            login(session, pin);
            if (isUserState(session.state())) return;
        } catch (const BenchError&) {
            if (Clock::now() > giveUp) throw;
        }
        if (Clock::now() > giveUp) throw BenchError("session does not reach a user state after C_Login");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

void runInitFinalizeBench(Pkcs11Module& module, const std::string& name, const TimingPlan& plan, ResultSink& sink)
{
    TimingPlan once = plan;
    once.warmups = 1;
    Measurement measured = measureThroughput(1, once, [&](unsigned) {
        module.initialize();
        module.finalize();
    });
    // Back to back, C_Finalize often comes before the monitor's first pass.
    // An application that works in between stops a monitor in its pause.
    std::vector<double> finalizeMs;
    for (unsigned run = 0; run < (plan.seconds < 0.5 ? 2u : 10u); ++run) {
        module.initialize();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Clock::time_point start = Clock::now();
        module.finalize();
        finalizeMs.push_back(secondsBetween(start, Clock::now()) * 1000);
    }
    std::sort(finalizeMs.begin(), finalizeMs.end());
    char note[160];
    std::snprintf(note, sizeof note, "C_Finalize 0.3 s after C_Initialize: median %.2f ms, max %.2f ms (%zu runs)",
                  finalizeMs[finalizeMs.size() / 2], finalizeMs.back(), finalizeMs.size());
    sink.add(makeRow(name, op::initFinalize, 1, measured, "ops/s", note));
}

void runUnplugBench(BenchContext& context, const std::string& pin, const std::string& unplugCommand,
                    const std::string& plugCommand, unsigned runs)
{
    const Session& session = *context.sessions.at(0);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> phase(0, 1000);
    std::vector<double> delays;
    double slowestCommand = 0;
    for (unsigned run = 0; run < runs; ++run) {
        loginWithRetry(session, pin);
        // A random wait spreads the unplug moments over the device poll period.
        std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
        Clock::time_point commandStart = Clock::now();
        runCommand(unplugCommand);
        Clock::time_point unplugged = Clock::now();
        slowestCommand = std::max(slowestCommand, secondsBetween(commandStart, unplugged) * 1000);
        while (isUserState(session.state())) {
            if (secondsBetween(unplugged, Clock::now()) > 10) {
                runCommand(plugCommand);
                throw BenchError("sessions still logged in 10 s after the device was unplugged");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        delays.push_back(secondsBetween(unplugged, Clock::now()) * 1000);
        runCommand(plugCommand);
    }
    loginWithRetry(session, pin);
    Measurement measured = summarise(delays);
    double slowest = *std::max_element(delays.begin(), delays.end());
    char note[160];
    std::snprintf(note, sizeof note, "max %.0f ms; polled every 1 ms; the unplug command itself took up to %.0f ms",
                  slowest, slowestCommand);
    context.sink.add(makeRow(context.name, op::unplugDemotion, 1, measured, "ms", note));
}

void runSessionMemoryBench(Pkcs11Module& module, CK_SLOT_ID slot, const std::string& name, unsigned count,
                           ResultSink& sink)
{
    long before = residentKiB();
    std::vector<std::unique_ptr<Session>> sessions;
    sessions.reserve(count);
    for (unsigned index = 0; index < count; ++index) sessions.push_back(std::make_unique<Session>(module, slot, false));
    long after = residentKiB();
    char note[160];
    std::snprintf(note, sizeof note, "%u sessions; %.1f MiB before opening them, %.2f KiB per session", count,
                  before / 1024.0, count ? double(after - before) / count : 0.0);
    sink.add(makeRow(name, op::memory, 1, summarise({after / 1024.0}), "MiB", note));
}

} // namespace bench
