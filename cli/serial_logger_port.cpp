#include "cli/serial_logger_port.h"

namespace zuz::cli {

long SerialLoggerPort::Open(const std::string& device, std::function<void(std::uint32_t)> notify) {
    serial_.Close();  // no-op when closed; the watcher is gone before notify_ changes
    notify_ = std::move(notify);
    return serial_.Open(device.c_str(), this);
}

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

void SerialLoggerPort::PostSerialNotification(unsigned, std::uint32_t wParam, std::intptr_t) {
    if (notify_) notify_(wParam);
}

}  // namespace zuz::cli
