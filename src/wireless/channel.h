#pragma once

namespace tarnvel {

// "-k": adds the channel that the driver's automatic selection reports to the channel list,
// hands the whole list back to the driver and re-runs "init.sh gw all". The code "000" only
// reports an invalid channel, "999" reboots the device first. Reads nothing of argv.
void wifi_channel_switch(char** argv);

} // namespace tarnvel
