#include "serial/line_settings.h"

namespace zuz {
namespace {

struct BaudEntry {
    long rate;
    speed_t code;
};

constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOfRate(long rate, speed_t* code) {
    for (const BaudEntry& e : kBaudTable) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

long RateOfSpeed(speed_t code) {
    for (const BaudEntry& e : kBaudTable) {
        if (e.code == code) return e.rate;
    }
    return -1;
}

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

}  // namespace

bool ApplyLineSettings(const LineSettings& line, termios* settings) {
    speed_t speed = B0;
    if (!SpeedOfRate(line.baudRate, &speed) || line.dataBits < 5 || line.dataBits > 8 ||
        line.parity < 0 || line.parity > 4 || line.stopBits < 0 || line.stopBits > 2) {
        return false;
    }
    cfsetispeed(settings, speed);
    cfsetospeed(settings, speed);

    tcflag_t& c = settings->c_cflag;
    c &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    c |= kSizes[line.dataBits - 5];
    switch (line.parity) {
        case 1: c |= PARENB | PARODD; break;           // odd
        case 2: c |= PARENB; break;                    // even
        case 3: c |= PARENB | CMSPAR | PARODD; break;  // mark: the parity bit always 1
        case 4: c |= PARENB | CMSPAR; break;           // space: always 0
        default: break;
    }
    if (line.parity == 0) {
        settings->c_iflag &= ~static_cast<tcflag_t>(INPCK);
    } else {
        settings->c_iflag |= INPCK;
    }
    if (line.stopBits != 0) c |= CSTOPB;
    return true;
}

LineSettings LineSettingsOf(const termios& settings) {
    LineSettings line;
    line.baudRate = RateOfSpeed(cfgetospeed(&settings));
    line.dataBits = 8;
    for (int bits = 5; bits <= 8; ++bits) {
        if ((settings.c_cflag & CSIZE) == kSizes[bits - 5]) line.dataBits = bits;
    }
    const tcflag_t c = settings.c_cflag;
    if (!(c & PARENB) || !(settings.c_iflag & INPCK)) {
        line.parity = 0;
    } else if (c & CMSPAR) {
        line.parity = (c & PARODD) ? 3 : 4;
    } else {
        line.parity = (c & PARODD) ? 1 : 2;
    }
    line.stopBits = (c & CSTOPB) ? 2 : 0;
    return line;
}

}  // namespace zuz
