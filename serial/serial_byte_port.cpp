#include "serial/serial_byte_port.h"

namespace zuz {

long SerialBytePort::Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) {
    std::size_t got = 0;
    long result = port_.Read(buffer, length, &got);
    // Bytes taken before a failure (a hang-up after some input) are handed on; the failure
    // shows again on the next read.
    if (result != ERROR_SUCCESS && got > 0) result = ERROR_SUCCESS;
    if (count != nullptr) *count = result == ERROR_SUCCESS ? got : 0;
    return result;
}

long SerialBytePort::Write(const std::uint8_t* data, std::size_t length) {
    return port_.Write(data, length);
}

}  // namespace zuz
