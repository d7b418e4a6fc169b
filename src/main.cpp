// tarnvel: the maintenance tool of the Wi-Fi storage device. One option per run.
#include "dispatch/dispatch.h"

int main(int, char** argv) { return tarnvel::dispatch(argv); }
