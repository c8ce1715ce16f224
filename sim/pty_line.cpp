#include "sim/pty_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zuz::sim {

PtyLine::~PtyLine() { Close(); }

bool PtyLine::Open(std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail("posix_openpt");
    if (grantpt(master_) != 0) return fail("grantpt");
    if (unlockpt(master_) != 0) return fail("unlockpt");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) return fail(name);
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return fail("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail("tcsetattr");
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
    return true;
}

void PtyLine::Close() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
}

}  // namespace zuz::sim
