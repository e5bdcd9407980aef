// Module life-cycle measurements: C_Initialize + C_Finalize, the time from a
// device being unplugged to its logged-in sessions being demoted, and the
// resident memory of a process with many open sessions.
#pragma once

#include "BenchContext.h"

#include <string>

namespace bench {

// The module must not be initialised. One thread only: both calls are
// process-wide. Besides the pairs per second, notes how long C_Finalize takes
// 0.3 s after C_Initialize, when the monitor is in its pause.
void runInitFinalizeBench(Pkcs11Module& module, const std::string& name, const TimingPlan& plan, ResultSink& sink);

// Unplugs and replugs the device of context.sessions[0] with the two shell
// commands, `runs` times, and reports the median milliseconds from the
// unplug command's return until C_GetSessionInfo shows a public state.
void runUnplugBench(BenchContext& context, const std::string& pin, const std::string& unplugCommand,
                    const std::string& plugCommand, unsigned runs);

// VmRSS of this process after C_Initialize and after opening `count`
// read-only sessions on `slot`. Meant for a process of its own.
void runSessionMemoryBench(Pkcs11Module& module, CK_SLOT_ID slot, const std::string& name, unsigned count,
                           ResultSink& sink);

} // namespace bench
