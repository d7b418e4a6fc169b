// The one seam between the operations and the device: fixed paths, programs and shell texts,
// sleeps, the clock, system information and device requests all pass through the binding
// installed here. On the device it is the real one; a test installs its own to root the fixed
// paths in a folder of its own, record what would run, and answer ioctls without hardware.
#pragma once

#include <cstddef>
#include <ctime>
#include <span>

struct sysinfo;

namespace tarnvel::host {

struct Binding {
    // Prefix of every fixed path the tool opens ("/proc/mounts", "/dev/sda", "/var/ps"...).
    // Empty on the device.
    const char* root;
    // A program from an argument vector ending in a null entry, started without a shell (in
    // the open folder `folder` unless that is kOwnFolder) and waited for; stdout goes to
    // /dev/null when `quiet`; killed after `limit` seconds unless that is 0. Returns as
    // run_program.
    int (*run)(const char* const argv[], bool quiet, unsigned limit, int folder);
    // A fixed command text handed to /bin/sh -c and waited for.
    int (*shell)(const char* text);
    void (*sleep)(unsigned seconds);
    time_t (*now)();
    int (*sysinfo)(struct sysinfo* info);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    // TCP port of the web server on 127.0.0.1 (80 on the device).
    unsigned short web_port;
};

// The binding in force (the real one unless a test installed another).
const Binding& get();
// Installs `binding` and returns the one it replaces.
Binding install(const Binding& binding);
// The device's own binding.
Binding real();

// The fixed path `logical` as the tool opens it: rooted under the binding's root. An empty
// path stays empty, so that it names nothing under any root. False when it does not fit `out`.
bool fixed_path(std::span<char> out, const char* logical);

} // namespace tarnvel::host
