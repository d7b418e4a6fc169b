// tarnvel: the maintenance tool of the Wi-Fi storage device. One option per run, started in
// whatever state the device's scripts leave.
#include "common/run.h"
#include "dispatch/dispatch.h"

int main(int, char** argv)
{
    tarnvel::take_start_state();
    return tarnvel::dispatch(argv);
}
