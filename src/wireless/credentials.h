#pragma once

namespace tarnvel {

// "-g VALUE PREFIX": appends DEF_WLAN0_SSID and DEF_WLAN0_WSC_SSID, each PREFIX followed by
// the last nine characters of what VALUE holds between the character after its first "=" and
// its last character, to /var/mibSetting. Without "=" in VALUE nothing happens.
void change_default_SSID(char** argv);

// "-h PASS": appends DEF_WLAN0_WPA_PSK and DEF_WLAN0_WSC_PSK, both PASS, to /var/mibSetting.
void change_default_WPA_PW(char** argv);

} // namespace tarnvel
