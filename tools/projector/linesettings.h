#pragma once

#include <string>

// The line settings the other side of the terminal chose, as the projector reports them:
// "speed=9600 cs=8 cstopb=0 parenb=0 parodd=0 cmspar=0 crtscts=0 ixon=0 ixoff=0"; empty when unreadable.
std::string describeLine(int fd);

// Line speed in baud as the kernel keeps it, or -1 when it cannot be read that way.
long kernelLineSpeed(int fd);
