// Test hook: makes an atomic file write stop halfway, as a full disk or a
// crash would, so tests can show that the store keeps its earlier content.
//
// Also armed by the environment variable ZELMOR_SIM_FAIL_WRITE=N (read once),
// which fails the Nth atomic write of the process.
#pragma once

namespace zelmor::sim::writefaults {

// Fails the Nth following atomic write (1 = the next one); 0 disarms.
void failWriteNumber(unsigned n);

// Called by the atomic writer once per write: true when this write must fail.
bool consumeWriteFault();

}  // namespace zelmor::sim::writefaults
