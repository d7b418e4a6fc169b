// Default credentials: the network name and passphrase that the device falls back to are lines
// "KEY=value" appended to /var/mibSetting, which the configuration scripts read; the newest
// line of a key wins. The values go in literally: no shell sees them, so quotes, "$", backquotes
// and backslashes stay what they are, and a line break, which would add a setting of its own,
// is refused.
#include "wireless/credentials.h"

#include "common/text.h"
#include "wireless/append_file.h"

#include <cerrno>
#include <cstring>

namespace tarnvel {
namespace {

constexpr const char* kSettings = "/var/mibSetting";
// The lines were once appended by echo commands formatted into this many bytes. A value whose
// command would not have fitted is refused, so the device takes exactly the lengths it took.
constexpr std::size_t kEchoSize = 304;
// "-g" keeps this many characters at the end of the value.
constexpr std::size_t kTailLength = 9;

constexpr const char* kSsidKeys[] = {"DEF_WLAN0_SSID", "DEF_WLAN0_WSC_SSID"};
constexpr const char* kPskKeys[] = {"DEF_WLAN0_WPA_PSK", "DEF_WLAN0_WSC_PSK"};

// Appends "KEY=" PREFIX VALUE and a line end for both keys, in one write, or nothing at all.
void append_settings(const char* option, const char* const (&keys)[2], const char* prefix, const char* value)
{
    if (std::strchr(prefix, '\n') != nullptr || std::strchr(value, '\n') != nullptr) {
        refuse("%s: a value with a line break would forge another setting; nothing appended", option);
        return;
    }
    char lines[2 * kEchoSize] = "";
    for (const char* key : keys) {
        char echo[kEchoSize];
        if (!fit_format(echo, "echo \"%s=%s%s\" >> %s", key, prefix, value, kSettings)) {
            refuse("%s: the %s setting is longer than the device takes; nothing appended", option, key);
            return;
        }
        // Each line is shorter than its echo command, so both fit.
        char line[kEchoSize];
        fit_format(line, "%s=%s%s\n", key, prefix, value);
        fit_append(lines, line);
    }
    if (append_whole(kSettings, lines, std::strlen(lines)) != Append::done)
        refuse("%s: cannot append to %s: %s", option, kSettings, errno_name(errno));
}

} // namespace

void change_default_SSID(char** argv)
{
    if (argv[2] == nullptr || argv[3] == nullptr) return;
    const char* equals = std::strchr(argv[2], '=');
    if (equals == nullptr) return;
    // The "=", the character after it and the value's last character are not part of the
    // name; what remains lies between them.
    const std::size_t after = std::strlen(equals + 1);
    if (after < 3) {
        refuse("-g: nothing remains of the value after \"=\"; nothing appended");
        return;
    }
    const std::size_t remainder = after - 2;
    const std::size_t keep = remainder < kTailLength ? remainder : kTailLength;
    char tail[kTailLength + 1];
    fit_format(tail, "%.*s", static_cast<int>(keep), equals + 2 + (remainder - keep));
    append_settings("-g", kSsidKeys, argv[3], tail);
}

void change_default_WPA_PW(char** argv)
{
    if (argv[2] == nullptr) return;
    append_settings("-h", kPskKeys, "", argv[2]);
}

} // namespace tarnvel
