// The monitoring core's byte port over a serial port, so that the scan and poll cycle reads and
// writes through the real device.
#pragma once

#include "protocol/byte_port.h"
#include "serial/serial.h"

namespace zuz {

class SerialBytePort : public IBytePort {
public:
    // `port` must outlive this object. Calls go to the port's own (virtual) Read and Write, so a
    // CSerialEx's watcher learns of every read.
    explicit SerialBytePort(CSerial& port) : port_(port) {}

    // The port's result code; *count is 0 on failure (a closed port gives ERROR_INVALID_HANDLE).
    // Bytes read before a failure count as success; the failure shows on the next read.
    long Read(std::uint8_t* buffer, std::size_t length, std::size_t* count) override;
    long Write(const std::uint8_t* data, std::size_t length) override;

private:
    CSerial& port_;
};

}  // namespace zuz
