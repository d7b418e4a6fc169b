// Automatic channel list: each channel that the driver's automatic selection settles on is
// appended to /var/wifi_channel_list, which goes back to the driver whole, and the device's
// init script runs again so the radio picks it up.
#include "wireless/channel.h"

#include "common/fixed.h"
#include "common/host.h"
#include "common/owners.h"
#include "wireless/append_file.h"

#include <cstdio>
#include <cstring>

namespace tarnvel {
namespace {

// The scratch copy of the driver's field and the list, as this tool opens them; the shell
// texts below name the same files.
constexpr const char* kScratch = "/var/wifi_channel";
constexpr const char* kList = "/var/wifi_channel_list";
constexpr std::size_t kCodeLength = 3;
// The first line is read with at most 9 characters.
constexpr int kLineSize = 10;

// The channel code from the first line of the scratch copy: the driver's three-character
// field with the spaces of its first two places turned into zeros (" 36" gives 036). False
// when there is none: no file, an empty one, or a line shorter than three characters.
bool read_code(char (&code)[kCodeLength + 1])
{
    UniqueFile file = fopen_fixed(kScratch, "r");
    if (!file) return false;
    char line[kLineSize] = {};
    if (std::fgets(line, kLineSize, file.get()) == nullptr) return false;
    for (std::size_t i = 0; i < kCodeLength; ++i) {
        const char c = line[i];
        if (c == '\0' || c == '\n') return false;
        code[i] = (c == ' ' && i < 2) ? '0' : c;
    }
    code[kCodeLength] = '\0';
    return true;
}

} // namespace

void wifi_channel_switch(char**)
{
    host::get().shell("cat /proc/auto_channel_switch>/var/wifi_channel");
    char code[kCodeLength + 1];
    if (read_code(code)) {
        if (std::strcmp(code, "000") == 0) {
            std::printf("\n Invaid channel");
        } else if (std::strcmp(code, "999") == 0) {
            host::get().shell("reboot");
        } else if (append_whole(kList, code, kCodeLength) == Append::not_written) {
            // A list that does not open loses the code without a word, as it always did.
            std::printf("\n update channel to auto channel failed");
        }
    }
    // In every case the driver gets the list back and the init script runs.
    host::get().shell("cat /var/wifi_channel_list  > /proc/auto_channel_switch");
    host::get().shell("init.sh gw all");
}

} // namespace tarnvel
