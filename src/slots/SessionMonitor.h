// The session monitor thread: polls the connected devices once a second,
// demotes logged-in sessions of devices that are gone and posts slot events.
#pragma once

#include <functional>

#include "utils/SecretString.h"

namespace zelmor {

constexpr unsigned monitorPauseMilliseconds = 1000;

// The monitor's step, run again and again by the platform's repeating task
// with monitorPauseMilliseconds between runs (one device-list query a
// second; a stop does not wait out the pause): the first run announces the
// start, a run that finds a stop requested announces the end and returns
// false, every other run is one poll. password is userPassword, which a poll
// clears when a logged-in session's device is gone.
std::function<bool()> sessionMonitorStep(SecretString& password);

// Announces the end of the monitor once, when a stop ended it without a
// last step (a stop ends the pause and cancels the next run).
void noteSessionMonitorStopped();

}  // namespace zelmor
