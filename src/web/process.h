#pragma once

namespace tarnvel {

// The id of the first process line of the system's listing ("ps>/var/ps", rewritten on every
// call) that holds `pattern` anywhere; 0 when no such line begins with a process id.
int find_pid(const char* pattern);

// The id of the first process under /proc whose command name is exactly `name`; 0 when there
// is none, except that "init" gives 1. Prints "Cannot open /proc" when /proc will not open.
int find_pid_by_name(const char* name);

} // namespace tarnvel
