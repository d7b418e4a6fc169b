/* The two legacy calls jhead makes that the device's uClibc-ng leaves out, built on the calls
 * that replaced them: utime() through utimes(), and mktemp() (for jhead -cmd, which wants a
 * free name, not a file) through mkstemp(). */
#include <stddef.h>
#include <stdlib.h>
#include <sys/time.h>
#include <unistd.h>
#include "utime.h"

int utime(const char *file, const struct utimbuf *times)
{
    struct timeval tv[2];
    if (times == NULL) return utimes(file, NULL);
    tv[0].tv_sec = times->actime;
    tv[0].tv_usec = 0;
    tv[1].tv_sec = times->modtime;
    tv[1].tv_usec = 0;
    return utimes(file, tv);
}

char *mktemp(char *name)
{
    int fd = mkstemp(name);
    if (fd < 0) {
        name[0] = '\0';
        return name;
    }
    close(fd);
    unlink(name);
    return name;
}
