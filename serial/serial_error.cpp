#include "serial/serial_error.h"

#include <cerrno>
#include <cstring>

namespace zuz {

std::string SerialErrorText(long code) {
    switch (code) {
        case ERROR_SUCCESS: return "success";
        case ERROR_INVALID_FUNCTION: return "a time-out needs a port opened for overlapped use";
        case ERROR_INVALID_HANDLE: return "the port is not open";
        case ERROR_ALREADY_INITIALIZED: return "the port is already open";
        case ERROR_TIMEOUT: return "the operation timed out";
        case E_INVALIDARG: return "invalid argument";
        default: break;
    }
    if (!IsErrnoCode(code)) return "unknown error " + std::to_string(code);

    const int error = ErrnoOfCode(code);
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not be in the buffer.
    std::string text = strerror_r(error, buffer, sizeof buffer);
    switch (error) {
        case EACCES:
            text += " (serial devices belong to the 'dialout' group: add the user with "
                    "'sudo usermod -aG dialout $USER' and log in again)";
            break;
        case EBUSY:
        case EWOULDBLOCK:
            text += " (the port is in use by another program)";
            break;
        default: break;
    }
    return text;
}

}  // namespace zuz
