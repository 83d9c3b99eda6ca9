// Test scaffolding for the Windows build under Wine; never part of a release.
//
// Wine's serial code reads and sets a COM port's modem lines (TIOCMGET, TIOCMBIS, TIOCMBIC,
// TIOCMSET) and reads its line counters (TIOCGICOUNT). A pseudo-terminal has neither and
// refuses those calls, so under Wine EscapeCommFunction(CLRDTR) fails and PADCOM rightly
// refuses the port. Loaded into the Wine process with LD_PRELOAD, this answers them for
// pseudo-terminals as a UART without wires would, keeps each terminal's DTR and RTS, and
// appends every change to the file named by PADCOM_MODEM_LOG ("DTR=0 RTS=0"), for the
// tests to read what the program asked of the lines.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

enum { kMaxFd = 4096 };
static int g_lines[kMaxFd]; // TIOCM_* bits per descriptor

// Unix 98 pseudo-terminal slaves have majors 136 to 143.
static int isPty(int fd)
{
    struct stat st;
    return fd >= 0 && fd < kMaxFd && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)
           && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static void logLines(int lines)
{
    const char *path = getenv("PADCOM_MODEM_LOG");
    if (!path || !*path)
        return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    char line[32];
    const int n = snprintf(line, sizeof line, "DTR=%d RTS=%d\n", !!(lines & TIOCM_DTR),
                           !!(lines & TIOCM_RTS));
    if (write(fd, line, (size_t)n) != n) {
        // Nothing to do: the test will find the change missing.
    }
    close(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);

    if (!isPty(fd))
        return real(fd, request, arg);
    int *lines = &g_lines[fd];
    switch (request) {
    case TIOCMGET:
        *(int *)arg = *lines;
        return 0;
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET: {
        const int bits = *(const int *)arg;
        const int before = *lines;
        *lines = request == TIOCMBIS ? before | bits : request == TIOCMBIC ? before & ~bits : bits;
        logLines(*lines);
        return 0;
    }
    case TIOCGICOUNT:
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    default:
        return real(fd, request, arg);
    }
}
