#include "tools/projector/linesettings.h"

#include <cstdio>
#include <termios.h>
#include <utility>

static long speedFromConstant(speed_t speed)
{
    static const std::pair<speed_t, long> rates[] = {
        {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},
        {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},
        {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
        {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    };
    for (const auto &rate : rates)
        if (rate.first == speed)
            return rate.second;
    return -1;
}

std::string describeLine(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return std::string();
    long speed = kernelLineSpeed(fd);
    if (speed < 0)
        speed = speedFromConstant(cfgetospeed(&tio));
    int bits = 8;
    switch (tio.c_cflag & CSIZE) {
    case CS5: bits = 5; break;
    case CS6: bits = 6; break;
    case CS7: bits = 7; break;
    default: break;
    }
    auto flag = [](tcflag_t field, tcflag_t mask) { return (field & mask) ? 1 : 0; };
    char text[200];
    std::snprintf(
        text, sizeof text, "speed=%ld cs=%d cstopb=%d parenb=%d parodd=%d cmspar=%d crtscts=%d ixon=%d ixoff=%d", speed,
        bits, flag(tio.c_cflag, CSTOPB), flag(tio.c_cflag, PARENB), flag(tio.c_cflag, PARODD),
        flag(tio.c_cflag, CMSPAR), flag(tio.c_cflag, CRTSCTS), flag(tio.c_iflag, IXON), flag(tio.c_iflag, IXOFF));
    return text;
}
