// Starting other programs. Two ways only: a program from an argument vector, without a shell,
// for every command that carries outside data (names from the disk, from /proc/mounts, from
// the command line); and a fixed text through /bin/sh -c, for the texts that need a shell and
// carry nothing from outside.
#pragma once

namespace tarnvel {

// Starts argv[0] (looked up in PATH) with the vector `argv`, which ends in a null entry, and
// waits for it. With `quiet` its stdout goes to /dev/null. stdout is flushed first so the
// tool's lines and the child's stay in order. Returns the wait status, or -1 when the program
// could not be started.
int run_program(const char* const argv[], bool quiet);

// Runs `text` through /bin/sh -c and waits for it, like system(3).
int run_shell(const char* text);

} // namespace tarnvel
