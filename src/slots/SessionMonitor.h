// The session monitor thread: polls the connected devices once a second,
// demotes logged-in sessions of devices that are gone and posts slot events.
#pragma once

#include "utils/SecretString.h"

namespace zelmor {

constexpr unsigned monitorPauseMilliseconds = 1000;

void runSessionMonitor(SecretString& password);

}  // namespace zelmor
