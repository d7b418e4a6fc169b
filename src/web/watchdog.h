#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnvel {

// Silent probes in a row that the responsiveness watchdog tolerates before a restart.
inline constexpr std::uint8_t kWebPatience = 5;

// What the responsiveness watchdog keeps from one probe to the next.
struct WebWatch {
    static constexpr std::size_t kWorkSize = 1024;
    // Silent probes still tolerated; an answer and a restart set it back to kWebPatience.
    std::uint8_t patience = kWebPatience;
    // Receives the reply and the restart command.
    char work[kWorkSize];
};

// One probe of webs: connect, send the health probe, wait 3 s, read what came back; restart
// webs on the sixth silent probe in a row (a connection not accepted in 5 s is one), start it
// when the connection is refused; then pause 1 s.
void chk_web_cycle(WebWatch& watch);

// "-c": the responsiveness watchdog, forever.
[[noreturn]] void chk_web(char** argv);

// One look for a process named webs, started when there is none; then pause 5 s.
void chk_web_isExist_cycle();

// "-j": the presence watchdog: quiet for 60 s, then a look every 5 s, forever.
[[noreturn]] void chk_web_isExist(char** argv);

} // namespace tarnvel
