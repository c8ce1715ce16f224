// The logger's port on the real serial device: a CSerialWnd whose notifications go to a
// callback. The callback runs on the watcher thread.
#pragma once

#include <functional>

#include "cli/logger_port.h"
#include "serial/serial_wnd.h"

namespace zuz::cli {

class SerialLoggerPort final : public ILoggerPort, private ISerialNotifySink {
public:
    ~SerialLoggerPort() override { serial_.Close(); }

    long Open(const std::string& device, std::function<void(std::uint32_t)> notify) override;
    void Setup(unsigned baudRate) override;
    void Close() override { serial_.Close(); }
    std::string ErrorText(long error) const override;
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override;
    long Write(const std::uint8_t* data, std::size_t length) override;

private:
    void PostSerialNotification(unsigned message, std::uint32_t wParam, std::intptr_t lParam) override;

    CSerialWnd serial_;
    // Set before the watcher starts and changed only while it is stopped.
    std::function<void(std::uint32_t)> notify_;
};

}  // namespace zuz::cli
