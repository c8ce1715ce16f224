// The serial port as the logger sees it: open with a notification callback, line setup, close,
// and the bytes. The real one sits on the serial library; tests give a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/byte_port.h"
#include "protocol/serial_events.h"

namespace zuz::cli {

// Set in the high 16 bits of a notification when the port has gone (unplugged, hung up): no
// notification follows it.
inline constexpr std::uint32_t kNotifyPortGone = CE_PORT_GONE << 16;

class ILoggerPort : public IBytePort {
public:
    // Opens the device at once, 8N1 comes with Setup. From then until Close() returns,
    // `notify` is called on any thread with each notification's first parameter (event bits in
    // the low 16 bits, line-error flags and kNotifyPortGone in the high 16 bits).
    // 0 on success, else an error code that ErrorText explains.
    virtual long Open(const std::string& device, std::function<void(std::uint32_t)> notify) = 0;
    virtual void Setup(unsigned baudRate) = 0;
    // Returns when no further notification can come.
    virtual void Close() = 0;
    virtual std::string ErrorText(long error) const = 0;
};

}  // namespace zuz::cli
