// The driver's channel field, as "-k" finds it in its scratch copy /var/wifi_channel: any
// bytes, any length. The first input byte chooses whether a channel list is there already.
#include "fuzz_host.h"
#include "wireless/channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const tarnvel::test::FakeHost& host = tarnvel::fuzz::fresh_host();
    if (size == 0) return 0;
    host.make_dir("/var");
    if ((data[0] & 1) != 0) host.write("/var/wifi_channel_list", "006036");
    host.write("/var/wifi_channel", tarnvel::fuzz::text(data + 1, size - 1));
    char* argv[] = {nullptr};
    tarnvel::wifi_channel_switch(argv);
    return 0;
}
