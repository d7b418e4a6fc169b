/* utime() for jhead against the device's uClibc-ng, which is built without the calls that
 * SUSv4 marks legacy (legacy.c). jhead uses it to give a rewritten photo back its times. */
#ifndef TARNVEL_JHEAD_UTIME_H
#define TARNVEL_JHEAD_UTIME_H
#include <time.h>

struct utimbuf {
    time_t actime;
    time_t modtime;
};

int utime(const char *file, const struct utimbuf *times);
#endif
