#include "cli/serial_logger_port.h"

#include "serial/serial_error.h"

namespace zuz::cli {

void SerialLoggerPort::Setup(unsigned baudRate) {
    serial_.Setup(static_cast<long>(baudRate), 8, kParityNone, kStopBitsOne);
}

std::string SerialLoggerPort::ErrorText(long error) const { return SerialErrorText(error); }

long SerialLoggerPort::Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) {
    std::size_t got = 0;
    const long result = serial_.Read(buffer, length, &got);
    *count = result == 0 ? got : 0;
    return result;
}

long SerialLoggerPort::Write(const std::uint8_t* data, std::size_t length) {
    return serial_.Write(data, length);
}

}  // namespace zuz::cli
