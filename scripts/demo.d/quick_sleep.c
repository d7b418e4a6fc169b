/* Preloaded into the demo's daemons: sleep() pauses DEMO_SPEED times shorter than asked, so that
 * the demo shows minutes of the device's life in seconds without changing the tool. A pause
 * interrupted by a signal goes on to its end, as the daemons want their delays whole. */
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

unsigned int sleep(unsigned int seconds)
{
    const char* text = getenv("DEMO_SPEED");
    long long speed = text ? atoll(text) : 1;
    if (speed < 1) speed = 1;
    long long ns = (long long)seconds * 1000000000LL / speed;
    struct timespec left = {(time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    while (nanosleep(&left, &left) != 0) {
    }
    return 0;
}
