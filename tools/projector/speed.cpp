// Kept apart: the kernel's termios2 header clashes with <termios.h>.
#include "tools/projector/linesettings.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

long kernelLineSpeed(int fd)
{
#ifdef TCGETS2
    // Also reports rates set with BOTHER, which cfgetospeed() cannot name.
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) == 0)
        return long(tio.c_ospeed);
#else
    (void)fd;
#endif
    return -1;
}
