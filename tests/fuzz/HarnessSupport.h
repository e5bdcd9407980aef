// Shared set-up of the harnesses that run the module in-process against the
// test fake: a private temporary and configuration folder (log level 0, so
// the fuzzing speed is not spent on log files), one C_Initialize for the
// whole run (C_Finalize pauses for the monitor thread), and a fake device
// with a few ordinary objects.
#pragma once

#include <string>

#include "FakeDeviceLibrary.h"
#include "pkcs11.h"

namespace fuzzing {

// The module, initialised once per process.
CK_FUNCTION_LIST_PTR initialisedModule();

// Resets the fake to device "ZLM0000001" (PIN "12345678") holding an RSA and
// an EC key pair and a certificate, plus more devices when extraDevices > 0.
void resetFakeDevice(unsigned extraDevices);

// Certificate bytes for the records of the fake device.
const ZelmorBytes& sampleCertificate();

}  // namespace fuzzing
