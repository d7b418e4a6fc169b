// Times find_pid_by_name as the presence watchdog calls it: prints the id found for NAME and
// the mean nanoseconds of COUNT lookups.
#include "web/process.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    const long count = std::strtol(argv[2], nullptr, 10);
    if (count < 1) return 2;
    timespec start{};
    timespec stop{};
    int pid = 0;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < count; ++i) pid = tarnvel::find_pid_by_name(argv[1]);
    ::clock_gettime(CLOCK_MONOTONIC, &stop);
    const long long ns = (stop.tv_sec - start.tv_sec) * 1000000000LL + (stop.tv_nsec - start.tv_nsec);
    std::printf("%d %lld\n", pid, ns / count);
    return 0;
}
