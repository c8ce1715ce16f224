// The logger's port on the real serial device: a CSerial without a watcher thread, in
// non-blocking read mode; the logger's loop waits on its descriptor.
#pragma once

#include "cli/logger_port.h"
#include "serial/serial.h"

namespace zuz::cli {

class SerialLoggerPort final : public ILoggerPort {
public:
    ~SerialLoggerPort() override { serial_.Close(); }

    long Open(const std::string& device) override { return serial_.Open(device.c_str()); }
    void Setup(unsigned baudRate) override;
    void Close() override { serial_.Close(); }
    std::string ErrorText(long error) const override;
    int Descriptor() const override { return serial_.Handle(); }
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override;
    long Write(const std::uint8_t* data, std::size_t length) override;

private:
    CSerial serial_;
};

}  // namespace zuz::cli
