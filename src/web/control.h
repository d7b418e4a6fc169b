#pragma once

namespace tarnvel {

// "-i NAME": asks webs to close the files it holds open for argv[2]; no answer is awaited.
void close_webs_files(char** argv);

// "-o": restarts webs once when its pid file names a process (a number of 2 or more).
void reinit_webs();

} // namespace tarnvel
