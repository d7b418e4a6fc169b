#pragma once

namespace tarnvel {

// Reboots the device after a pause of 3 seconds. Returns the shell's status.
int sysrbt();

// Starts the storage daemon and the web-server watchdog in the background, once per call.
// Returns the status of the last shell command.
int onetime_init();

} // namespace tarnvel
