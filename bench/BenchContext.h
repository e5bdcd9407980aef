// What every PKCS#11 measurement family gets: the loaded module, one open,
// logged-in session per thread, the signing keys, the timing plan and where
// the rows go.
#pragma once

#include "Pkcs11Module.h"
#include "Results.h"
#include "Timing.h"
#include "TokenSetup.h"

#include <memory>
#include <string>
#include <vector>

namespace bench {

struct BenchContext {
    Pkcs11Module& module;
    std::string name;                               // implementation name in the rows
    CK_SLOT_ID slot;
    std::vector<std::unique_ptr<Session>> sessions;  // sessions[i] belongs to thread i
    BenchKeys keys;
    TimingPlan plan;
    std::vector<unsigned> threadCounts;             // e.g. {1, 2}
    ResultSink& sink;
    std::vector<std::string> only;                  // operations to measure; empty: all

    bool wants(const std::string& operation) const
    {
        if (only.empty()) return true;
        for (const std::string& wanted : only) {
            if (wanted == operation) return true;
        }
        return false;
    }

    CK_FUNCTION_LIST* p11() const { return module.functions(); }
    CK_SESSION_HANDLE session(unsigned thread) const { return sessions.at(thread)->handle(); }
};

} // namespace bench
