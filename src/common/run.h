// Starting other programs. Two ways only: a program from an argument vector, without a shell,
// for every command that carries outside data (names from the disk, from /proc/mounts, from
// the command line); and a fixed text through /bin/sh -c, for the texts that need a shell and
// carry nothing from outside.
#pragma once

namespace tarnvel {

// What run_program returns for a program it had to end because it outran its time bound.
inline constexpr int kRunTimedOut = -2;

// What run_program takes for `folder` to start the program in the tool's own working folder.
inline constexpr int kOwnFolder = -1;

// Starts argv[0] with the vector `argv`, which ends in a null entry, and waits for it. A bare
// name is looked up in the absolute folders of PATH only ("/bin:/usr/bin" when PATH is unset),
// here, before anything of the child changes, and the program started by that path: an empty
// or relative entry would name the folder it starts in. With `quiet` its stdout goes to
// /dev/null. stdout is flushed first so the tool's lines and the child's stay in order. With a
// `limit` of 1 s or more, a program still running after `limit` seconds is killed (SIGKILL): a
// program that hangs on a hostile file cannot hold the tool for ever. Unless `folder` is
// kOwnFolder, the program starts in the folder that descriptor holds open, so a name relative
// to it ("./NAME") stays in that folder however the paths leading to it are renamed meanwhile.
// Returns the wait status, -1 when the program could not be started (or not in `folder`; errno
// then says why), or kRunTimedOut. The program gets SIGPIPE's default disposition back.
int run_program(const char* const argv[], bool quiet, unsigned limit, int folder);

// Runs `text` through /bin/sh -c and waits for it, like system(3). A shell that cannot be
// started is said on stderr, with the text it was for.
int run_shell(const char* text);

// From now on SIGTERM, SIGINT and SIGHUP end the program being waited for, then call `tidy`
// (which must be safe in a signal handler), then end the tool by that same signal. One that
// the tool's caller ignores stays ignored; programs started later get the default back.
void end_on_termination(void (*tidy)());

// Puts the tool in the state it relies on, whatever its caller left: a closed descriptor 0, 1
// or 2 opened on /dev/null, SIGPIPE ignored, SIGCHLD and SIGALRM at their defaults and not
// blocked. The first thing a run does.
void take_start_state();

} // namespace tarnvel
